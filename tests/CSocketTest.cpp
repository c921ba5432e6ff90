// CSocket on loopback, against itself and against socket_peer.py, an
// independent peer in plain Python sockets. socket_trace_check.py runs
// OperationsOnLoopback under strace to see the calls each operation makes.
#include "CSocket.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "ThrownMessage.h"

// A copy would close the one descriptor twice.
static_assert(!std::is_copy_constructible_v<CSocket> && !std::is_copy_assignable_v<CSocket>);

namespace {

const int g_maxSdAtLoad = CSocket::m_nMaxSd;  // read before any test runs

int LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Blocking receives and accepts give up after 5 s: a broken test fails, not hangs.
int LimitWaits(int fd) {
    const timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

// A listener on a kernel-chosen port; returns the port.
int Listen(CSocket& listener) {
    const int fd = LimitWaits(listener.Socket());
    EXPECT_EQ(listener.Bind(0), 0);
    listener.Listen(4);
    return LocalPort(fd);
}

// For the trace check: a write to descriptor -1, which fails without effect,
//   "@@ <what> | <the calls expected until the next mark> [| <text they show>]"
// "@@ -" starts set-up that is not checked.
void Mark(const char* text) {
    (void)!write(-1, text, std::strlen(text));
}

// socket_peer.py with `arguments`. pclose(peer.release()) waits for it: 0 when it
// got what it expected.
using Peer = std::unique_ptr<FILE, int (*)(FILE*)>;
Peer StartPeer(const std::string& arguments) {
    const std::string command = TANDEL_PYTHON " " TANDEL_SOCKET_PEER " " + arguments;
    return Peer(popen(command.c_str(), "r"), pclose);
}

const char kLine[] = "hello from python\n", kAnswer[] = "HELLO FROM PYTHON\n";
const int kLineLength = sizeof kLine - 1;

}  // namespace

TEST(CSocketTest, OperationsOnLoopback) {
    char buf[64] = "hello";
    CString ip;
    int port = 0;
    CSocket listener, udp, tcp, spare;
    std::optional<CSocket> client(std::in_place), server(std::in_place);

    Mark("@@ Socket, Bind, Listen | socket bind listen");
    const int listenerFd = listener.Socket();
    EXPECT_EQ(listener.Bind(0), 0);
    listener.Listen(8);
    Mark("@@ -");
    const int listenerPort = LocalPort(LimitWaits(listenerFd));
    client->Socket();
    tcp.Socket();
    spare.Socket(SOCK_DGRAM);
    Mark("@@ Connect, also to a host name, looked up nowhere | connect connect | 0.0.0.0");
    EXPECT_EQ(client->Connect("127.0.0.1", listenerPort), 1);
    tcp.Connect("localhost", listenerPort);  // 0.0.0.0 reaches this host too
    Mark("@@ Accept | accept");
    listener.Accept(*server);
    Mark("@@ Accept into the listener itself: refused |");
    EXPECT_EQ(ThrownMessage([&] { listener.Accept(listener); }), "Accept error");
    Mark("@@ Accept into a datagram object that holds a descriptor | close accept");
    listener.Accept(spare);
    Mark("@@ Send, Receive, Send on what Accept filled | send recv send");
    EXPECT_EQ(client->Send(buf, 5), 5);
    EXPECT_EQ(server->Receive(buf, sizeof buf), 5);
    EXPECT_EQ(spare.Send(buf, 1), 1);  // a stream object now
    Mark("@@ GetRemoteIP, GetRemote_b4IP: only what Accept filled has a peer |");
    EXPECT_STREQ(server->GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(server->GetRemote_b4IP(), 1);
    EXPECT_STREQ(listener.GetRemoteIP(), "0.0.0.0");
    EXPECT_STREQ(client->GetRemoteIP(), "0.0.0.0");
    Mark("@@ SetSockOpt | setsockopt | TCP_NODELAY");
    const int one = 1;
    server->SetSockOpt(TCP_NODELAY, &one, sizeof one, IPPROTO_TCP);
    Mark("@@ GetSockOpt | getsockopt | SOL_SOCKET, SO_TYPE");
    long long type = 0;  // the length goes in as the buffer's, comes out as the option's
    int length = sizeof type;
    server->GetSockOpt(SO_TYPE, &type, &length);
    EXPECT_EQ(length, int(sizeof(int)));
    EXPECT_EQ(type, SOCK_STREAM);
    Mark("@@ Close | close");
    server->Close();
    Mark("@@ Close again, destroying a closed object |");
    server->Close();
    server.reset();
    Mark("@@ Closes, Socket on a closed object, destroying it | close close socket close");
    spare.Close();
    client->Close();
    client->Socket();
    client.reset();

    Mark("@@ Socket(SOCK_DGRAM), Bind | socket bind");
    const int udpFd = udp.Socket(SOCK_DGRAM);
    EXPECT_EQ(udp.Bind(0), 0);
    Mark("@@ -");
    const int udpPort = LocalPort(LimitWaits(udpFd));
    Mark("@@ wrong kinds and negative lengths |");
    EXPECT_THROW(udp.Listen(1), CException);
    EXPECT_THROW(udp.Accept(tcp), CException);
    EXPECT_THROW(udp.Connect("127.0.0.1", listenerPort), CException);
    udp.Send(buf, 1);
    udp.Receive(buf, 1);
    tcp.SendTo(buf, 1, "127.0.0.1", 9);
    tcp.ReceiveFrom(buf, 1, ip, port);
    tcp.Send(buf, -1);
    tcp.Receive(buf, -1);
    udp.SendTo(buf, -1, "127.0.0.1", 9);
    udp.ReceiveFrom(buf, -1, ip, port);
    Mark("@@ SendTo, ReceiveFrom, SendTo a host name | sendto recvfrom sendto | 0.0.0.0");
    EXPECT_EQ(udp.SendTo(buf, 3, "127.0.0.1", udpPort), 3);
    EXPECT_EQ(udp.ReceiveFrom(buf, sizeof buf, ip, port), 3);
    udp.SendTo(buf, 3, "localhost", udpPort);
    Mark("@@ Socket again on a datagram object, Connect | close socket connect");
    udp.Socket();
    EXPECT_EQ(udp.Connect("127.0.0.1", listenerPort), 1);  // a stream object now
    Mark("@@ -");
}

TEST(CSocketTest, FailuresThrowTheirTexts) {
    CSocket udp, tcp, failed;
    udp.Socket(SOCK_DGRAM);
    tcp.Socket();
    int value = 1, length = sizeof value;
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { failed.Socket(-1); }, "Create a socket description error"},
        {[&] { failed.Listen(1); }, "Listen error"},
        {[&] { tcp.Accept(failed); }, "Accept error"},  // not listening
        {[&] { tcp.SetSockOpt(-1, &value, length); }, "SetSockOpt error"},
        {[&] { tcp.GetSockOpt(-1, &value, &length); }, "SetSockOpt error"},
        {[&] { tcp.GetSockOpt(SO_TYPE, &value, nullptr); }, "SetSockOpt error"},
        {[&] { udp.Listen(1); }, "Using UDP,but you want to listen"},
        {[&] { udp.Accept(tcp); }, "Using UDP,but you want to accept"},
        {[&] { udp.Connect("127.0.0.1", 9); }, "Using UDP,but you want to connect"},
    };
    for (const auto& [call, text] : cases) EXPECT_EQ(ThrownMessage(call), text);
    EXPECT_EQ(length, int(sizeof value));  // a refused GetSockOpt leaves it
}

TEST(CSocketTest, WrongKindsAndNegativeLengthsAreRefused) {
    CSocket udp, tcp;
    udp.Socket(SOCK_DGRAM);
    tcp.Socket();
    char buf[4];
    CString ip("kept");
    int port = 7;
    // Unconnected and unbound: a call made anyway fails with another errno.
    const std::tuple<std::function<int()>, int, int> cases[] = {
        {[&] { return udp.Send(buf, 1); }, SOCKET_WRONG_KIND, 0},
        {[&] { return udp.Receive(buf, 1); }, SOCKET_WRONG_KIND, 0},
        {[&] { return tcp.SendTo(buf, 1, "127.0.0.1", 9); }, SOCKET_WRONG_KIND, 0},
        {[&] { return tcp.ReceiveFrom(buf, 1, ip, port); }, SOCKET_WRONG_KIND, 0},
        {[&] { return tcp.Send(buf, -1); }, -1, EINVAL},
        {[&] { return tcp.Receive(buf, -1); }, -1, EINVAL},
        {[&] { return udp.SendTo(buf, -1, "127.0.0.1", 9); }, -1, EINVAL},
        {[&] { return udp.ReceiveFrom(buf, -1, ip, port, MSG_DONTWAIT); }, -1, EINVAL},
    };
    for (const auto& [call, result, error] : cases) {
        errno = 0;
        EXPECT_EQ(call(), result);
        EXPECT_EQ(errno, error) << "for the case returning " << result;
    }
    EXPECT_STREQ(ip, "kept");
    EXPECT_EQ(port, 7);
}

TEST(CSocketTest, BindAndConnectReturnTheirFailure) {
    CSocket first, second;
    const int fd = first.Socket();
    second.Socket();
    ASSERT_EQ(first.Bind(0), 0);
    EXPECT_EQ(second.Bind(LocalPort(fd)), EADDRINUSE);
    EXPECT_EQ(second.Connect("127.0.0.1", LocalPort(fd)), 0);  // bound, not listening
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(CSocketTest, MaxSdRisesOnlyInSocket) {
    EXPECT_EQ(g_maxSdAtLoad, -1);
    CSocket listener, client, accepted, failed, created;
    const int port = Listen(listener);
    client.Socket();
    ASSERT_EQ(client.Connect("127.0.0.1", port), 1);

    CSocket::m_nMaxSd = -1;
    listener.Accept(accepted);
    EXPECT_EQ(CSocket::m_nMaxSd, -1);
    const int fd = created.Socket();
    EXPECT_EQ(CSocket::m_nMaxSd, fd);
    created.Close();
    EXPECT_THROW(failed.Socket(-1), CException);
    EXPECT_EQ(CSocket::m_nMaxSd, fd);  // neither Close nor a failed Socket lowers it
    CSocket::m_nMaxSd = 100000;
    created.Socket();
    EXPECT_EQ(CSocket::m_nMaxSd, 100000);
}

// A server loop that reuses one client object without closing it, and lives
// on when a peer leaves.
TEST(CSocketTest, AServerLoopReusesItsClientAndOutlivesAPeerThatLeft) {
    CSocket listener, client;
    const int port = Listen(listener);
    const auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    long open = 0;
    pollfd reset{-1, 0, 0};
    for (int i = 0; i < 3; ++i) {
        CSocket peer;
        LimitWaits(peer.Socket());
        ASSERT_EQ(peer.Connect("127.0.0.1", port), 1);
        EXPECT_EQ(ThrownMessage([&] { listener.Accept(listener); }), "Accept error");
        reset.fd = listener.Accept(client);
        char c = 0;
        EXPECT_EQ(client.Send("x", 1), 1);
        EXPECT_EQ(peer.Receive(&c, 1), 1);
        if (i == 0) open = openDescriptors();
        EXPECT_EQ(openDescriptors(), open);
    }
    EXPECT_EQ(client.Send("x", 1), 1);  // the peer has gone and answers with a reset
    ASSERT_EQ(poll(&reset, 1, 5000), 1);
    const std::string large(1 << 16, 'x');
    for (int i = 0; i < 2; ++i) {  // SIGPIPE would end the test process here
        errno = 0;
        EXPECT_EQ(client.Send(large.data(), large.size()), -1);
        EXPECT_EQ(errno, EPIPE);
    }
}

TEST(CSocketTest, StreamBothWaysWithAnIndependentPeer) {
    CSocket listener, server;
    Peer peer = StartPeer("tcp " + std::to_string(Listen(listener)));
    listener.Accept(server);  // it keeps the listener's limit on waits
    char buf[64];
    ASSERT_EQ(server.Receive(buf, sizeof buf, MSG_WAITALL), kLineLength);  // up to the shutdown
    EXPECT_EQ(std::string(buf, kLineLength), kLine);
    EXPECT_EQ(server.Receive(buf, sizeof buf), 0);  // the peer shut down its side
    EXPECT_EQ(server.Send(kAnswer, kLineLength), kLineLength);
    server.Close();
    EXPECT_EQ(pclose(peer.release()), 0);
}

TEST(CSocketTest, DatagramsBothWaysWithAnIndependentPeer) {
    CSocket udp;
    const int fd = LimitWaits(udp.Socket(SOCK_DGRAM));
    ASSERT_EQ(udp.Bind(0), 0);
    Peer peer = StartPeer("udp " + std::to_string(LocalPort(fd)));
    char buf[64];
    CString ip;
    int port = -1;
    ASSERT_EQ(udp.ReceiveFrom(buf, sizeof buf, ip, port), kLineLength);
    EXPECT_EQ(std::string(buf, kLineLength), kLine);
    EXPECT_EQ(udp.SendTo(kAnswer, kLineLength, ip, port), kLineLength);  // back to the sender
    // Having the answer, the peer sends again from port 65535.
    ASSERT_EQ(udp.ReceiveFrom(buf, sizeof buf, ip, port), kLineLength);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_EQ(port, 65535);
    EXPECT_EQ(pclose(peer.release()), 0);
    // A failed receive leaves the sender's address as it was.
    EXPECT_EQ(udp.ReceiveFrom(buf, sizeof buf, ip, port, MSG_DONTWAIT), -1);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_EQ(port, 65535);
}
