// Runs CSocket operations between markers, for socket_trace_check.py to run
// under strace and compare the system calls seen after each marker with the
// calls the marker names.
//
// A marker is a write to descriptor -1 that fails without effect:
//   "@@ <what> | <calls, in order> [| <text the calls' arguments show>]"
// "@@ -" starts a stretch the check skips: the probe's own set-up.
#include <unistd.h>

#include <cstring>
#include <optional>

#include "CException.h"
#include "CSocket.h"
#include "SocketTestSupport.h"

using SocketTestSupport::LocalPort;

namespace {

void Mark(const char* text) {
    if (write(-1, text, std::strlen(text)) != -1) _exit(2);
}

template <typename Call>
void Refused(Call call) {
    try {
        call();
    } catch (const CException&) {
        return;
    }
    _exit(3);
}

}  // namespace

int main() {
    alarm(20);  // whatever goes wrong, the probe does not hang
    char buf[64] = "hello";
    CString ip;
    int port = 0;

    Mark("@@ destroying a fresh object | close | close(-1)");
    { CSocket fresh; }

    Mark("@@ Socket | socket | SOCK_STREAM");
    CSocket listener;
    const int listenerFd = listener.Socket();
    Mark("@@ Bind | bind | htons(0)");
    listener.Bind(0);
    Mark("@@ Listen | listen");
    listener.Listen(8);
    Mark("@@ -");
    const int listenerPort = LocalPort(listenerFd);
    std::optional<CSocket> client(std::in_place), server(std::in_place);
    client->Socket();
    CSocket named, spare;
    named.Socket();
    spare.Socket();

    Mark("@@ Connect | connect | 127.0.0.1");
    client->Connect("127.0.0.1", listenerPort);
    Mark("@@ Connect to a host name, looked up nowhere | connect | 0.0.0.0");
    named.Connect("localhost", listenerPort);
    Mark("@@ Accept | accept");
    listener.Accept(*server);
    Mark("@@ Accept into an object holding a descriptor (it is closed first) | close accept");
    listener.Accept(spare);
    Mark("@@ Send | send | hello");
    client->Send(buf, 5);
    Mark("@@ Send of nothing | send | \"\", 0");
    client->Send(buf, 0);
    Mark("@@ Receive | recv | hello");
    server->Receive(buf, sizeof buf);
    Mark("@@ GetRemoteIP and GetRemote_b4IP |");
    server->GetRemoteIP();
    server->GetRemote_b4IP();
    Mark("@@ SetSockOpt | setsockopt | SO_REUSEADDR");
    int value = 1, length = sizeof value;
    server->SetSockOpt(SO_REUSEADDR, &value, length);
    Mark("@@ GetSockOpt | getsockopt | SO_TYPE");
    server->GetSockOpt(SO_TYPE, &value, &length);
    Mark("@@ refused SetSockOpt | setsockopt");
    Refused([&] { server->SetSockOpt(-1, &value, length); });
    Mark("@@ refused GetSockOpt | getsockopt");
    Refused([&] { server->GetSockOpt(-1, &value, &length); });
    Mark("@@ Close | close");
    client->Close();
    Mark("@@ Close again, then destroying the closed object |");
    client->Close();
    client.reset();
    Mark("@@ destroying an open object | close");
    server.reset();

    Mark("@@ -");
    CSocket udp, tcp;
    Mark("@@ Socket(SOCK_DGRAM) | socket | SOCK_DGRAM");
    const int udpFd = udp.Socket(SOCK_DGRAM);
    Mark("@@ wrong-kind calls on a datagram object |");
    Refused([&] { udp.Listen(1); });
    Refused([&] { udp.Accept(tcp); });
    Refused([&] { udp.Connect("127.0.0.1", listenerPort); });
    udp.Send(buf, 1);
    udp.Receive(buf, 1);
    Mark("@@ -");
    tcp.Socket();
    Mark("@@ wrong-kind calls on a stream object |");
    tcp.SendTo(buf, 1, "127.0.0.1", 9);
    tcp.ReceiveFrom(buf, 1, ip, port);
    Mark("@@ Bind | bind");
    udp.Bind(0);
    Mark("@@ -");
    const int udpPort = LocalPort(udpFd);
    Mark("@@ SendTo | sendto | 127.0.0.1");
    udp.SendTo(buf, 3, "127.0.0.1", udpPort);
    Mark("@@ ReceiveFrom | recvfrom");
    udp.ReceiveFrom(buf, sizeof buf, ip, port);
    Mark("@@ SendTo a host name, looked up nowhere | sendto | 0.0.0.0");
    udp.SendTo(buf, 3, "localhost", udpPort);

    Mark("@@ refused Socket | socket");
    CSocket failed;
    Refused([&] { failed.Socket(-1); });
    Mark("@@ refused Listen | listen");
    Refused([&] { failed.Listen(1); });
    Mark("@@ refused Accept | accept");
    Refused([&] { tcp.Accept(failed); });
    Mark("@@ Socket on an object holding a descriptor (it is closed first) | close socket");
    tcp.Socket();
    Mark("@@ end |");
    return 0;
}
