// CSocket on loopback: the platform calls each operation makes, seen through
// the test executable's stand-ins (PlatformSeam), and transfers to itself and
// to socket_peer.py, an independent peer in plain Python sockets.
#include "CSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <type_traits>

#include "TestSupport.h"

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

// The host-name lookups answer from here while g_scripted is set.
bool g_scripted = false;
bool g_nameFails = false;
std::string g_lookedUp;
in_addr g_first{htonl(0x0A010203)}, g_second{htonl(0x0A090909)};
char* g_addresses[] = {reinterpret_cast<char*>(&g_first), reinterpret_cast<char*>(&g_second),
                       nullptr};
hostent g_entry{nullptr, nullptr, AF_INET, sizeof(in_addr), g_addresses};
hostent* g_answer = &g_entry;

const char kLine[] = "hello from python\n", kAnswer[] = "HELLO FROM PYTHON\n";
const int kLineLength = sizeof kLine - 1;

// socket_peer.py with `arguments`, or null without python3. pclose waits for
// it: 0 when it got what it expected.
FILE* StartPeer(const std::string& arguments) {
    if (!OnPath("python3")) return nullptr;
    return popen(("python3 " TANDEL_SOCKET_PEER " " + arguments).c_str(), "r");
}

}  // namespace

// A scripted name fills the buffer, unterminated, as POSIX allows.
extern "C" int gethostname(char* name, size_t length) noexcept {
    TANDEL_REAL(gethostname);
    if (!g_scripted) return real(name, length);
    if (g_nameFails) errno = ENAMETOOLONG;
    std::memset(name, 'a', length);
    return g_nameFails ? -1 : 0;
}

extern "C" hostent* gethostbyname(const char* name) {
    TANDEL_REAL(gethostbyname);
    if (!g_scripted) return real(name);
    g_lookedUp = name;
    return g_answer;
}

// Each operation in turn: its result, what it throws, and the platform calls
// it makes, no more.
TEST(CSocketTest, OperationsMakeTheirPlatformCallsOnly) {
    const int kAny = -12345;  // a descriptor: not compared
    CSocket listener, udp, tcp, refused, spare, client, server, other;
    std::optional<CSocket> fresh(std::in_place), open(std::in_place), closed(std::in_place);
    char buf[64] = "hello";
    CString ip("kept");
    long long type = 0;
    int port = 7, one = 1, length = sizeof type, listenerFd = -1, udpFd = -1, udpPort = 0;
    const struct {
        const char* what;
        std::function<int()> call;
        int result;
        const char* calls;
        const char* thrown;
    } kSteps[] = {
        {"Socket", [&] { return listenerFd = listener.Socket(); }, kAny, "socket", ""},
        {"Bind", [&] { return listener.Bind(0); }, 0, "bind", ""},
        {"Listen", [&] { return listener.Listen(8); }, 0, "listen", ""},
        {"more objects", [&] { return client.Socket() + tcp.Socket() + refused.Socket(); }, kAny,
         "socket socket socket", ""},
        {"a datagram object", [&] { return spare.Socket(SOCK_DGRAM); }, kAny, "socket", ""},
        {"Connect", [&] { return client.Connect("127.0.0.1", LocalPort(listenerFd)); }, 1,
         "connect(127.0.0.1)", ""},
        {"Connect to a name, looked up nowhere",
         [&] { return tcp.Connect("localhost", LocalPort(listenerFd)); }, 1, "connect(0.0.0.0)",
         ""},
        {"Bind to a port in use", [&] { return refused.Bind(LocalPort(listenerFd)); }, EADDRINUSE,
         "bind", ""},
        {"Accept", [&] { return listener.Accept(server); }, kAny, "accept", ""},
        {"Accept into itself", [&] { return listener.Accept(listener); }, 0, "", "Accept error"},
        {"Accept into an object with a descriptor", [&] { return listener.Accept(spare); }, kAny,
         "close accept", ""},
        {"Send", [&] { return client.Send(buf, 5); }, 5, "send", ""},
        {"Receive", [&] { return server.Receive(buf, sizeof buf); }, 5, "recv", ""},
        {"Send on what Accept filled", [&] { return spare.Send(buf, 1); }, 1, "send", ""},
        // The length goes in as the buffer's and comes out as the option's.
        {"GetSockOpt", [&] { return server.GetSockOpt(SO_TYPE, &type, &length), int(type); },
         SOCK_STREAM, "getsockopt", ""},
        {"SetSockOpt", [&] { return server.SetSockOpt(TCP_NODELAY, &one, 4, IPPROTO_TCP), 0; }, 0,
         "setsockopt", ""},
        {"GetSockOpt of what it set",
         [&] { return server.GetSockOpt(TCP_NODELAY, &type, &length, IPPROTO_TCP), int(type); }, 1,
         "getsockopt", ""},
        {"SetSockOpt refused", [&] { return server.SetSockOpt(-1, &one, 4), 0; }, 0, "setsockopt",
         "SetSockOpt error"},
        {"GetSockOpt refused", [&] { return server.GetSockOpt(-1, &type, &length), 0; }, 0,
         "getsockopt", "SetSockOpt error"},
        {"GetSockOpt without a length",
         [&] { return server.GetSockOpt(SO_TYPE, &type, nullptr), 0; }, 0, "getsockopt",
         "SetSockOpt error"},
        {"Accept when not listening", [&] { return server.Accept(other); }, 0, "accept",
         "Accept error"},
        {"Close", [&] { return server.Close(), 0; }, 0, "close", ""},
        {"Close again", [&] { return server.Close(), 0; }, 0, "", ""},
        {"Socket on a closed object", [&] { return server.Socket(); }, kAny, "socket", ""},
        {"Socket that fails", [&] { return refused.Socket(-1); }, 0, "close socket",
         "Create a socket description error"},
        {"Listen without a descriptor", [&] { return refused.Listen(1); }, 0, "listen",
         "Listen error"},
        {"destroying a fresh object", [&] { return fresh.reset(), 0; }, 0, "close", ""},
        {"destroying an open one", [&] { return open->Socket(), open.reset(), 0; }, 0,
         "socket close", ""},
        {"destroying a closed one", [&] { return closed->Close(), closed.reset(), 0; }, 0, "close",
         ""},
        {"Socket(SOCK_DGRAM)", [&] { return udpFd = udp.Socket(SOCK_DGRAM); }, kAny, "socket", ""},
        {"Bind", [&] { return udp.Bind(0); }, 0, "bind", ""},
        {"Listen on a datagram object", [&] { return udp.Listen(1); }, 0, "",
         "Using UDP,but you want to listen"},
        {"Accept on one", [&] { return udp.Accept(other); }, 0, "",
         "Using UDP,but you want to accept"},
        {"Connect on one", [&] { return udp.Connect("127.0.0.1", 9); }, 0, "",
         "Using UDP,but you want to connect"},
        {"Send on one", [&] { return udp.Send(buf, 1); }, SOCKET_WRONG_KIND, "", ""},
        {"Receive on one", [&] { return udp.Receive(buf, 1); }, SOCKET_WRONG_KIND, "", ""},
        {"SendTo on a stream object", [&] { return tcp.SendTo(buf, 1, "127.0.0.1", 9); },
         SOCKET_WRONG_KIND, "", ""},
        {"ReceiveFrom on one", [&] { return tcp.ReceiveFrom(buf, 1, ip, port); }, SOCKET_WRONG_KIND,
         "", ""},
        // A negative length would reach the platform as a huge size.
        {"Send -1", [&] { return tcp.Send(buf, -1); }, -1, "", ""},
        {"Receive -1", [&] { return tcp.Receive(buf, -1); }, -1, "", ""},
        {"SendTo -1", [&] { return udp.SendTo(buf, -1, "127.0.0.1", 9); }, -1, "", ""},
        {"ReceiveFrom -1", [&] { return udp.ReceiveFrom(buf, -1, ip, port); }, -1, "", ""},
        {"SendTo", [&] { return udp.SendTo(buf, 3, "127.0.0.1", udpPort = LocalPort(udpFd)); }, 3,
         "sendto(127.0.0.1)", ""},
        {"ReceiveFrom", [&] { return udp.ReceiveFrom(buf, sizeof buf, ip, port); }, 3, "recvfrom",
         ""},
        {"ReceiveFrom that fails", [&] { return udp.ReceiveFrom(buf, 1, ip, port, MSG_DONTWAIT); },
         -1, "recvfrom", ""},
        {"SendTo a name", [&] { return udp.SendTo(buf, 3, "localhost", 9); }, 3, "sendto(0.0.0.0)",
         ""},
        {"Socket again, to a stream object", [&] { return udp.Socket(); }, kAny, "close socket",
         ""},
        {"Connect where nothing listens", [&] { return udp.Connect("127.0.0.1", udpPort); }, 0,
         "connect(127.0.0.1)", ""},
    };
    for (const auto& step : kSteps) {
        PlatformSeam::Reset();
        int result = 0;
        EXPECT_EQ(ThrownMessage([&] { result = step.call(); }), step.thrown) << step.what;
        EXPECT_EQ(PlatformSeam::Trace(), step.calls) << step.what;
        EXPECT_EQ(result, step.result == kAny ? result : step.result) << step.what;
    }
    EXPECT_EQ(length, int(sizeof(int)));  // the refused GetSockOpt left it
    EXPECT_STREQ(ip, "127.0.0.1");        // the failed ReceiveFrom left the sender's address
    EXPECT_EQ(port, udpPort);
    // Only what Accept filled has a peer.
    EXPECT_STREQ(listener.GetRemoteIP(), "0.0.0.0");
    EXPECT_STREQ(client.GetRemoteIP(), "0.0.0.0");
    EXPECT_EQ(client.GetRemote_b4IP(), 0);
    EXPECT_STREQ(spare.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(spare.GetRemote_b4IP(), 1);
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
    long open = 0;
    pollfd reset{-1, 0, 0};
    for (int i = 0; i < 3; ++i) {
        CSocket peer;
        LimitWaits(peer.Socket());
        ASSERT_EQ(peer.Connect("127.0.0.1", port), 1);
        reset.fd = listener.Accept(client);
        char c = 0;
        EXPECT_EQ(client.Send("x", 1), 1);
        EXPECT_EQ(peer.Receive(&c, 1), 1);
        if (i == 0) open = OpenDescriptors();
        EXPECT_EQ(OpenDescriptors(), open);
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
    FILE* peer = StartPeer("tcp " + std::to_string(Listen(listener)));
    if (peer == nullptr) GTEST_SKIP() << "no python3 for the independent peer";
    listener.Accept(server);  // it keeps the listener's limit on waits
    char buf[64];
    ASSERT_EQ(server.Receive(buf, sizeof buf, MSG_WAITALL), kLineLength);  // up to the shutdown
    EXPECT_EQ(std::string(buf, kLineLength), kLine);
    EXPECT_EQ(server.Receive(buf, sizeof buf), 0);  // the peer shut down its side
    EXPECT_EQ(server.Send(kAnswer, kLineLength), kLineLength);
    server.Close();
    EXPECT_EQ(pclose(peer), 0);
}

// The peer's port is the kernel's choice, in the upper half of the port
// range by default, where a port read as a signed 16-bit number goes wrong.
TEST(CSocketTest, DatagramsBothWaysWithAnIndependentPeer) {
    CSocket udp;
    const int fd = LimitWaits(udp.Socket(SOCK_DGRAM));
    ASSERT_EQ(udp.Bind(0), 0);
    FILE* peer = StartPeer("udp " + std::to_string(LocalPort(fd)));
    if (peer == nullptr) GTEST_SKIP() << "no python3 for the independent peer";
    char buf[64];
    CString ip;
    int port = -1;
    ASSERT_EQ(udp.ReceiveFrom(buf, sizeof buf, ip, port), kLineLength);
    EXPECT_EQ(std::string(buf, kLineLength), kLine);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_EQ(udp.SendTo(kAnswer, kLineLength, ip, port), kLineLength);  // back to the sender
    ASSERT_NE(std::fgets(buf, sizeof buf, peer), nullptr);
    EXPECT_EQ(port, std::atoi(buf));  // the port it sent from
    EXPECT_EQ(pclose(peer), 0);
}

TEST(CSocketTest, GetLocalIPGivesTheFirstIPv4AddressOfTheHostsName) {
    g_scripted = true;
    EXPECT_STREQ(CSocket().GetLocalIP(), "10.1.2.3");
    EXPECT_EQ(g_lookedUp, std::string(127, 'a'));  // cut at the buffer's end
    // Without an IPv4 address for the name: the local record, 0.0.0.0 when unbound.
    g_entry.h_addrtype = AF_INET6;
    EXPECT_STREQ(CSocket().GetLocalIP(), "0.0.0.0");
    g_entry.h_addrtype = AF_INET;
    g_addresses[0] = nullptr;
    EXPECT_STREQ(CSocket().GetLocalIP(), "0.0.0.0");
    g_answer = nullptr;
    EXPECT_STREQ(CSocket().GetLocalIP(), "0.0.0.0");
    g_nameFails = true;
    g_lookedUp.clear();
    EXPECT_STREQ(CSocket().GetLocalIP(), "0.0.0.0");
    EXPECT_EQ(g_lookedUp, "");  // a failed name is not looked up
}
