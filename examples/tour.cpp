// A short tour of tandel: each class in a few lines, printing what it does.
#include <arpa/inet.h>
#include <stdlib.h>
#include <sys/time.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "CArchive.h"
#include "CException.h"
#include "CFile.h"
#include "CFileVersion.h"
#include "CObject.h"
#include "CProfile.h"
#include "CSocket.h"
#include "CStreamBuf.h"
#include "CString.h"
#include "CTree.h"

static void TourStrings() {
    std::cout << "== CString\n";
    CString greeting("Hello");
    greeting += ", ";
    greeting += CString("world");
    std::cout << "built: " << greeting << " (" << greeting.GetLength() << " characters)\n";
    CString twice = greeting + " / " + greeting;
    std::cout << "concatenated: " << twice << "\n";
    const int length = greeting.GetLength();
    std::cout << "character 4: '" << greeting[4] << "', at the length: " << int(greeting[length])
              << ", beyond it: " << int(greeting[length + 1]) << "\n";

    CString line;
    line.Format("%s=%d (%5.1f%%)", "retries", 3, 42.5);
    std::cout << "formatted: " << line << "\n";
    std::cout << "'=' at " << line.FindIndex('=') << ", \"(\" at " << line.FindIndex("(")
              << ", last 'r' at " << line.ReverseFindIndex('r') << "\n";
    CString key(line);
    key.Left(key.FindIndex('='));
    CString value(line);
    value.Mid(value.FindIndex('=') + 1);
    std::cout << "key '" << key << "', value '" << value << "'\n";
    key.MakeUpper();
    std::cout << "upper: " << key << ", equal to \"Retries\" ignoring case: "
              << (key.EqualByNoCase("Retries") ? "yes" : "no") << "\n";
    CString padded("  [main]  ");
    padded.TrimLeft(' ');
    padded.TrimRight(' ');
    std::cout << "trimmed: '" << padded << "'\n";
}

// A class of the caller's own on the library's polymorphic root.
class Node : public CTree {
public:
    ~Node() override { std::cout << "a Node deleted through a CTree pointer\n"; }
};

static void TourExceptions() {
    std::cout << "== CStreamBuf, CException, CObject and CTree\n";
    CStreamBuf buffer;
    buffer.AllocateBuf(65536);
    std::cout << "a buffer of " << buffer.GetLength() << " bytes\n";
    try {
        buffer.AllocateBuf(65537);
    } catch (const CException& e) {
        std::cout << "refused: " << e.m_strMessage << " (still " << buffer.GetLength()
                  << " bytes)\n";
    }
    try {
        throw CException("Listen error");
    } catch (const CObject&) {  // every CException is a CObject
        std::cout << "a CException caught as CObject&\n";
    }
    std::unique_ptr<CTree> node(new Node);
}

static void TourFilesAndArchive() {
    std::cout << "== CFile, CArchive and CFileVersion\n";
    char directory[] = "/tmp/tandel-tour-XXXXXX";
    if (mkdtemp(directory) == nullptr) return;
    const std::string path = std::string(directory) + "/values.bin";

    CFile file;
    file.Open(path.c_str(), 2);  // "w+": create, read and write
    {
        CArchive archive(&file, 0);
        archive << 42 << -2.5 << CString("archived text");
        archive.WriteCount(70000);
    }  // closing the archive flushes the file, which stays open
    std::cout << "archived " << file.GetLength() << " bytes\n";

    file.Seek(0, 0);
    CArchive archive(&file, 0);
    int number = 0;
    double real = 0;
    CString text;
    archive >> number >> real >> text;
    std::cout << "read back: " << number << ", " << real << ", \"" << text << "\", count "
              << archive.ReadCount() << "\n";
    archive.Close();
    file.Close();

    const std::string nested = std::string(directory) + "/a/b";
    CFile::XCreateDirectory(nested.c_str());  // prints a line per level
    std::cout << nested << (CFile::IsExistent(nested.c_str()) ? " exists\n" : " is missing\n");

    char* version = nullptr;
    CFileVersion().GetString("FileVersion", &version, nullptr, 0);
    std::cout << "library version " << version << "\n";

    CFile::Remove(nested.c_str());
    CFile::Remove((std::string(directory) + "/a").c_str());
    CFile::Remove(path.c_str());
    CFile::Remove(directory);
}

static void TourProfiles() {
    std::cout << "== CProfile\n";
    char directory[] = "/tmp/tandel-tour-XXXXXX";
    if (mkdtemp(directory) == nullptr) return;
    const std::string path = std::string(directory) + "/app.rc";
    {
        CProfile profile(path.c_str());  // created, with permission bits 0600
        profile.WriteProfile("server", "host", "example.org");
        profile.WriteProfile("server", "port", 8080);
        profile.WriteProfile("client", "retries", 3);
        profile.WriteProfile("server", "port", 8443);  // replaced where it stands
        profile.WriteProfile("server", "bad[key", "refused");

        CString host;
        int port = 0;
        profile.GetProfile("server", "host", host);
        profile.GetProfile("server", "port", &port);
        std::cout << "server host " << host << ", port " << port << "\n";
        CString missing("x");
        profile.GetProfile("server", "timeout", missing);
        std::cout << "a missing entry reads as '" << missing << "'\n";
    }
    std::ifstream file(path);
    std::ostringstream content;
    content << file.rdbuf();
    std::cout << "the file now holds:\n" << content.str();
    std::remove(path.c_str());
    std::remove(directory);
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
        std::cout << "after the client closed, Receive gives " << server.Receive(buf, sizeof buf)
                  << "\n";

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
        std::cout << "datagram from " << ip << ":" << from << ": "
                  << std::string(buf, n > 0 ? n : 0) << "\n";
        receiver.SendTo("pong", 4, ip.GetBuffer(), from);
        n = sender.ReceiveFrom(buf, sizeof buf, ip, from);
        std::cout << "answer from " << ip << ":" << from << ": " << std::string(buf, n > 0 ? n : 0)
                  << "\n";
        std::cout << "Send on a datagram socket gives " << sender.Send("x", 1)
                  << " (SOCKET_WRONG_KIND)\n";
        sender.Listen(1);
    } catch (const CException& e) {
        std::cout << "thrown: " << e.m_strMessage << "\n";
    }
}

int main() {
    TourStrings();
    TourExceptions();
    TourFilesAndArchive();
    TourProfiles();
    TourSockets();
    return 0;
}
