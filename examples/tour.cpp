// A short tour of tandel: each class in a few lines, printing what it does.
#include <arpa/inet.h>
#include <sys/time.h>

#include <iostream>
#include <string>

#include "CException.h"
#include "CSocket.h"
#include "CStreamBuf.h"
#include "CString.h"

static void TourStrings() {
    std::cout << "== CString\n";
    CString greeting("Hello");
    greeting += ", ";
    greeting += CString("world");
    std::cout << "built: " << greeting << " (" << greeting.GetLength() << " characters)\n";
    CString twice = greeting + " / " + greeting;
    std::cout << "concatenated: " << twice << "\n";
    std::cout << "character 4: '" << greeting[4] << "', at the length: " << int(greeting[13])
              << ", beyond it: " << int(greeting[14]) << "\n";
}

static void TourExceptions() {
    std::cout << "== CStreamBuf and CException\n";
    CStreamBuf buffer;
    buffer.AllocateBuf(65536);
    std::cout << "a buffer of " << buffer.GetLength() << " bytes\n";
    try {
        buffer.AllocateBuf(65537);
    } catch (const CException& e) {
        std::cout << "refused: " << e.m_strMessage << " (still " << buffer.GetLength()
                  << " bytes)\n";
    }
}

// The port the kernel chose for a descriptor bound to port 0.
static int BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

static void TourSockets() {
    std::cout << "== CSocket\n";
    // A loopback connection completes before Accept, so one thread can play
    // both sides; the receive limit keeps a mistake from hanging the tour.
    const timeval limit{2, 0};
    char buf[64];
    try {
        CSocket listener, client, server;
        const int listenerFd = listener.Socket();
        listener.SetSockOpt(SO_RCVTIMEO, &limit, sizeof limit);
        listener.Bind(0);
        listener.Listen(4);
        const int port = BoundPort(listenerFd);
        std::cout << "listening on port " << port << "\n";
        client.Socket();
        client.SetSockOpt(SO_RCVTIMEO, &limit, sizeof limit);
        std::cout << "Connect: " << client.Connect("127.0.0.1", port) << "\n";
        listener.Accept(server);
        server.SetSockOpt(SO_RCVTIMEO, &limit, sizeof limit);
        std::cout << "accepted a connection from " << server.GetRemoteIP() << "\n";
        client.Send("hello, server", 13);
        int n = server.Receive(buf, sizeof buf);
        std::cout << "server received: " << std::string(buf, n > 0 ? n : 0) << "\n";
        server.Send("hello, client", 13);
        n = client.Receive(buf, sizeof buf);
        std::cout << "client received: " << std::string(buf, n > 0 ? n : 0) << "\n";
        client.Close();
        std::cout << "after the client closed, Receive gives " << server.Receive(buf, sizeof buf) << "\n";

        CSocket receiver, sender;
        const int receiverFd = receiver.Socket(SOCK_DGRAM);
        receiver.SetSockOpt(SO_RCVTIMEO, &limit, sizeof limit);
        receiver.Bind(0);
        sender.Socket(SOCK_DGRAM);
        sender.SetSockOpt(SO_RCVTIMEO, &limit, sizeof limit);
        sender.SendTo("ping", 4, "127.0.0.1", BoundPort(receiverFd));
        CString ip;
        int from = 0;
        n = receiver.ReceiveFrom(buf, sizeof buf, ip, from);
        std::cout << "datagram from " << ip << ":" << from << ": " << std::string(buf, n > 0 ? n : 0) << "\n";
        receiver.SendTo("pong", 4, ip.GetBuffer(), from);
        n = sender.ReceiveFrom(buf, sizeof buf, ip, from);
        std::cout << "answer from " << ip << ":" << from << ": " << std::string(buf, n > 0 ? n : 0) << "\n";
        std::cout << "Send on a datagram socket gives " << sender.Send("x", 1) << " (SOCKET_WRONG_KIND)\n";
        sender.Listen(1);
    } catch (const CException& e) {
        std::cout << "thrown: " << e.m_strMessage << "\n";
    }
}

int main() {
    TourStrings();
    TourExceptions();
    TourSockets();
    return 0;
}
