// CSocket on loopback: the platform calls each operation makes, seen through
// the test executable's stand-ins (PlatformSeam), and its transfers.
#include "CSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>

#include <optional>

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

// The host-name lookups answer from here while g_scripted is set.
bool g_scripted = false;
bool g_nameFails = false;
std::string g_lookedUp;
in_addr g_first{htonl(0x0A010203)}, g_second{htonl(0x0A090909)};
char* g_addresses[] = {reinterpret_cast<char*>(&g_first), reinterpret_cast<char*>(&g_second),
                       nullptr};
hostent g_entry{nullptr, nullptr, AF_INET, sizeof(in_addr), g_addresses};
hostent* g_answer = &g_entry;

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
    std::optional<CSocket> fresh(std::in_place), open(std::in_place);
    char buf[64] = "hello";
    CString ip("kept");
    long long type = 0;
    int port = 7, one = 1, length = sizeof type, listenerFd = -1, udpFd = -1, udpPort = 0, fd = -1;
    int& maxSd = CSocket::m_nMaxSd;
    const char* const kUdp = "Using UDP,but you want to ";
    const struct {
        const char* what;
        std::function<int()> call;
        int result;
        const char* calls;
        std::string thrown;
    } kSteps[] = {
        {"Socket", [&] { return listenerFd = listener.Socket(); }, kAny, "socket", ""},
        {"Bind", [&] { return listener.Bind(0); }, 0, "bind", ""},
        {"Listen", [&] { return listener.Listen(8); }, 0, "listen", ""},
        {"more", [&] { return client.Socket() + tcp.Socket() + refused.Socket(); }, kAny,
         "socket socket socket", ""},
        {"Socket(SOCK_DGRAM)", [&] { return spare.Socket(SOCK_DGRAM); }, kAny, "socket", ""},
        {"Connect", [&] { return client.Connect("127.0.0.1", LocalPort(listenerFd)); }, 1,
         "connect(127.0.0.1)", ""},
        // A name is looked up nowhere: the address stays 0.0.0.0, this host.
        {"Connect(name)", [&] { return tcp.Connect("localhost", LocalPort(listenerFd)); }, 1,
         "connect(0.0.0.0)", ""},
        {"Bind in use", [&] { return refused.Bind(LocalPort(listenerFd)); }, EADDRINUSE, "bind",
         ""},
        {"m_nMaxSd = -1", [&] { return maxSd = -1; }, -1, "", ""},
        {"Accept", [&] { return listener.Accept(server); }, kAny, "accept", ""},
        {"Accept(itself)", [&] { return listener.Accept(listener); }, 0, "", "Accept error"},
        {"Accept(held)", [&] { return listener.Accept(spare); }, kAny, "close accept", ""},
        {"m_nMaxSd after Accept", [&] { return maxSd; }, -1, "", ""},
        {"Send", [&] { return client.Send(buf, 5); }, 5, "send", ""},
        {"Receive", [&] { return server.Receive(buf, sizeof buf); }, 5, "recv", ""},
        {"Send(accepted)", [&] { return spare.Send(buf, 1); }, 1, "send", ""},
        // The length goes in as the buffer's and comes out as the option's.
        {"GetSockOpt", [&] { return server.GetSockOpt(SO_TYPE, &type, &length), int(type); },
         SOCK_STREAM, "getsockopt", ""},
        {"SetSockOpt", [&] { return server.SetSockOpt(TCP_NODELAY, &one, 4, IPPROTO_TCP), 0; }, 0,
         "setsockopt", ""},
        {"GetSockOpt(set)",
         [&] { return server.GetSockOpt(TCP_NODELAY, &type, &length, IPPROTO_TCP), int(type); }, 1,
         "getsockopt", ""},
        {"SetSockOpt(-1)", [&] { return server.SetSockOpt(-1, &one, 4), 0; }, 0, "setsockopt",
         "SetSockOpt error"},
        {"GetSockOpt(-1)", [&] { return server.GetSockOpt(-1, &type, &length), 0; }, 0,
         "getsockopt", "SetSockOpt error"},
        {"GetSockOpt(null)", [&] { return server.GetSockOpt(SO_TYPE, &type, nullptr), 0; }, 0,
         "getsockopt", "SetSockOpt error"},
        {"Accept(unlistened)", [&] { return server.Accept(other); }, 0, "accept", "Accept error"},
        {"Close", [&] { return server.Close(), 0; }, 0, "close", ""},
        {"Close again", [&] { return server.Close(), 0; }, 0, "", ""},
        {"Socket(closed)", [&] { return fd = server.Socket(); }, kAny, "socket", ""},
        {"Socket(-1)", [&] { return refused.Socket(-1); }, 0, "close socket",
         "Create a socket description error"},
        {"m_nMaxSd after Close and Socket(-1)", [&] { return maxSd == fd; }, 1, "", ""},
        {"Listen(unopened)", [&] { return refused.Listen(1); }, 0, "listen", "Listen error"},
        {"~(fresh)", [&] { return fresh.reset(), 0; }, 0, "close", ""},
        {"~(open)", [&] { return open->Socket(), open.reset(), 0; }, 0, "socket close", ""},
        {"m_nMaxSd = 100000", [&] { return maxSd = 100000; }, 100000, "", ""},
        {"Socket(SOCK_DGRAM)", [&] { return udpFd = udp.Socket(SOCK_DGRAM); }, kAny, "socket", ""},
        {"m_nMaxSd only rises", [&] { return maxSd; }, 100000, "", ""},
        {"Bind", [&] { return udp.Bind(0); }, 0, "bind", ""},
        {"Listen(udp)", [&] { return udp.Listen(1); }, 0, "", kUdp + std::string("listen")},
        {"Accept(udp)", [&] { return udp.Accept(other); }, 0, "", kUdp + std::string("accept")},
        {"Connect(udp)", [&] { return udp.Connect("127.0.0.1", 9); }, 0, "",
         kUdp + std::string("connect")},
        {"Send(udp)", [&] { return udp.Send(buf, 1); }, SOCKET_WRONG_KIND, "", ""},
        {"Receive(udp)", [&] { return udp.Receive(buf, 1); }, SOCKET_WRONG_KIND, "", ""},
        {"SendTo(tcp)", [&] { return tcp.SendTo(buf, 1, "127.0.0.1", 9); }, SOCKET_WRONG_KIND, "",
         ""},
        {"ReceiveFrom(tcp)", [&] { return tcp.ReceiveFrom(buf, 1, ip, port); }, SOCKET_WRONG_KIND,
         "", ""},
        // A negative length would reach the platform as a huge size.
        {"Send(-1)", [&] { return tcp.Send(buf, -1); }, -1, "", ""},
        {"Receive(-1)", [&] { return tcp.Receive(buf, -1); }, -1, "", ""},
        {"SendTo(-1)", [&] { return udp.SendTo(buf, -1, "127.0.0.1", 9); }, -1, "", ""},
        {"ReceiveFrom(-1)", [&] { return udp.ReceiveFrom(buf, -1, ip, port); }, -1, "", ""},
        {"SendTo", [&] { return udp.SendTo(buf, 3, "127.0.0.1", udpPort = LocalPort(udpFd)); }, 3,
         "sendto(127.0.0.1)", ""},
        {"ReceiveFrom", [&] { return udp.ReceiveFrom(buf, 64, ip, port); }, 3, "recvfrom", ""},
        {"ReceiveFrom(none)", [&] { return udp.ReceiveFrom(buf, 1, ip, port, MSG_DONTWAIT); }, -1,
         "recvfrom", ""},
        {"SendTo(name)", [&] { return udp.SendTo(buf, 3, "localhost", 9); }, 3, "sendto(0.0.0.0)",
         ""},
        {"Socket(udp)", [&] { return udp.Socket(); }, kAny, "close socket", ""},
        {"Connect(refused)", [&] { return udp.Connect("127.0.0.1", udpPort); }, 0,
         "connect(127.0.0.1)", ""},
    };
    for (const auto& step : kSteps) {
        PlatformSeam::Reset();
        int result = 0;
        EXPECT_EQ(ThrownMessage([&] { result = step.call(); }), step.thrown) << step.what;
        EXPECT_EQ(PlatformSeam::Trace(), step.calls) << step.what;
        EXPECT_EQ(result, step.result == kAny ? result : step.result) << step.what;
    }
    EXPECT_EQ(g_maxSdAtLoad, -1);
    EXPECT_EQ(length, int(sizeof(int)));  // the refused GetSockOpt left it
    EXPECT_STREQ(ip, "127.0.0.1");        // the failed ReceiveFrom left the sender's address
    EXPECT_EQ(port, udpPort);
    // Only what Accept filled has a peer.
    EXPECT_STREQ(listener.GetRemoteIP(), "0.0.0.0");
    EXPECT_EQ(client.GetRemote_b4IP(), 0);
    EXPECT_STREQ(spare.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(spare.GetRemote_b4IP(), 1);
}

// A server loop that reuses one client object without closing it, and lives
// on when a peer leaves.
TEST(CSocketTest, AServerLoopReusesItsClientAndOutlivesAPeerThatLeft) {
    CSocket listener, client;
    const int fd = LimitWaits(listener.Socket());
    ASSERT_EQ(listener.Bind(0), 0);
    listener.Listen(4);
    long open = 0;
    pollfd reset{-1, 0, 0};
    for (int i = 0; i < 3; ++i) {
        CSocket peer;
        LimitWaits(peer.Socket());
        ASSERT_EQ(peer.Connect("127.0.0.1", LocalPort(fd)), 1);
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
