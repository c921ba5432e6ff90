#include "CSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>

#include <optional>

#include "TestSupport.h"

namespace {

const int g_maxSdAtLoad = CSocket::m_nMaxSd;  // read before any test runs

int LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Whether `fd` has something to take (bytes, a datagram, a connection) within 5 s: a step that
// would wait longer fails instead.
bool Ready(int fd) {
    pollfd waiting{fd, POLLIN, 0};
    return poll(&waiting, 1, 5000) == 1;
}

// While scripted, the host's name fills the buffer unterminated, as POSIX allows, and looking it up
// gives g_entry.
bool g_scripted = false;
std::string g_lookedUp;
in_addr g_first{htonl(0x0A010203)}, g_second{htonl(0x0A090909)};
char* g_addresses[] = {reinterpret_cast<char*>(&g_first), reinterpret_cast<char*>(&g_second),
                       nullptr};
hostent g_entry{nullptr, nullptr, AF_INET, sizeof(in_addr), g_addresses};

}  // namespace

extern "C" int gethostname(char* name, size_t length) noexcept {
    TANDEL_REAL(gethostname);
    if (!g_scripted) return real(name, length);
    std::memset(name, 'a', length);
    return 0;
}

extern "C" hostent* gethostbyname(const char* name) {
    TANDEL_REAL(gethostbyname);
    if (!g_scripted) return real(name);
    g_lookedUp = name;
    return &g_entry;
}

// Each operation in turn: its result, the platform calls it makes, what it throws after "!".
TEST(CSocketTest, OperationsMakeTheirPlatformCallsOnly) {
    CSocket listener, udp, tcp, refused, spare, client, server, other, bound, closed, closedUdp;
    std::optional<CSocket> fresh, open(std::in_place);
    char buf[64] = "hello";
    CString ip("kept");
    long long type = 0;
    int port = 7, one = 1, length = sizeof type, udpPort = 0, fd = -1, serverFd = -1;
    pollfd reset{-1, 0, 0};  // waits for nothing but an error or a hang-up
    int& maxSd = CSocket::m_nMaxSd;
    const int listenerFd = listener.Socket(), udpFd = udp.Socket(SOCK_DGRAM),
              boundFd = bound.Socket();
    for (CSocket* made : {&client, &tcp, &refused}) made->Socket();
    spare.Socket(SOCK_DGRAM);
    bound.Bind(0);  // never listening: a connection to it is refused
    closed.Socket();
    closedUdp.Socket(SOCK_DGRAM);
    for (CSocket* gone : {&closed, &closedUdp}) gone->Close();
    // A result given with errno EBADF, as a closed descriptor gives it.
    const auto closedGives = [](int result) { return errno == EBADF ? result : INT_MIN; };
    const std::string kOption = "SetSockOpt error";
    const auto closedThrows = [](const std::function<void()>& call) {
        return ThrownMessage(call) + (errno == EBADF ? "" : ", not EBADF");
    };
    const std::pair<std::function<int()>, const char*> kSteps[] = {
        {[&] { return fresh.emplace().GetRemote_b4IP(); }, "0"},
        {[&] { return listener.Bind(0); }, "0 bind"},
        {[&] { return listener.Listen(8); }, "0 listen"},
        {[&] { return client.Connect("127.0.0.1", LocalPort(listenerFd)); },
         "1 connect(127.0.0.1)"},
        // A name is looked up nowhere: the address stays 0.0.0.0, this host.
        {[&] { return tcp.Connect("localhost", LocalPort(listenerFd)); }, "1 connect(0.0.0.0)"},
        {[&] { return refused.Bind(LocalPort(listenerFd)) == EADDRINUSE; }, "1 bind"},
        {[&] { return maxSd = -1, Ready(listenerFd) && (serverFd = listener.Accept(server)) >= 0; },
         "1 accept"},
        {[&] { return maxSd; }, "-1"},  // Accept leaves it
        {[&] { return listener.Accept(listener); }, "0 ! Accept error"},
        {[&] { return Ready(listenerFd) && listener.Accept(spare) >= 0; }, "1 close accept"},
        {[&] { return client.Send(buf, 5); }, "5 send"},
        {[&] { return Ready(serverFd) ? server.Receive(buf, sizeof buf) : 0; }, "5 recv"},
        {[&] { return spare.Send(buf, 1); }, "1 send"},  // a stream object now
        // The length goes in as the buffer's and comes out as the option's.
        {[&] { return server.GetSockOpt(SO_TYPE, &type, &length), int(type); }, "1 getsockopt"},
        {[&] { return server.SetSockOpt(TCP_NODELAY, &one, 4, IPPROTO_TCP), 0; }, "0 setsockopt"},
        {[&] { return server.GetSockOpt(TCP_NODELAY, &type, &length, IPPROTO_TCP), int(type); },
         "1 getsockopt"},
        {[&] { return server.SetSockOpt(-1, &one, 4), 0; }, "0 setsockopt ! SetSockOpt error"},
        {[&] { return server.GetSockOpt(-1, &type, &length), 0; },
         "0 getsockopt ! SetSockOpt error"},
        {[&] { return server.Accept(other); }, "0 accept ! Accept error"},
        // A peer that has gone answers with a reset; sending after it gives EPIPE, not SIGPIPE.
        {[&] { return client.Close(), server.Send(buf, 1); }, "1 close send"},
        {[&] { return reset.fd = serverFd, poll(&reset, 1, 5000); }, "1"},
        {[&] { return server.Send(buf, 1) == -1 && errno == EPIPE; }, "1 send"},
        {[&] { return server.Send(buf, 1) == -1 && errno == EPIPE; }, "1 send"},
        {[&] { return server.Close(), 0; }, "0 close"},
        {[&] { return server.Close(), 0; }, "0"},
        // A closed object acts on no descriptor: its number may be another socket's by now.
        {[&] { return closedGives(closed.Bind(0)); }, "9"},
        {[&] { return closedGives(closed.Connect("127.0.0.1", 9)); }, "0"},
        {[&] { return closedGives(closed.Send(buf, 1)); }, "-1"},
        {[&] { return closedGives(closed.Receive(buf, 1)); }, "-1"},
        {[&] { return closedGives(closedUdp.SendTo(buf, 1, "127.0.0.1", 9)); }, "-1"},
        {[&] { return closedGives(closedUdp.ReceiveFrom(buf, 1, ip, port)); }, "-1"},
        {[&] { return closedThrows([&] { closed.Listen(1); }) == "Listen error"; }, "1"},
        {[&] { return closedThrows([&] { closed.Accept(other); }) == "Accept error"; }, "1"},
        {[&] { return closedThrows([&] { closed.SetSockOpt(SO_TYPE, &one, 4); }) == kOption; },
         "1"},
        {[&] {
             return closedThrows([&] { closed.GetSockOpt(SO_TYPE, &one, &length); }) == kOption;
         },
         "1"},
        {[&] { return (fd = server.Socket()) >= 0; }, "1 socket"},
        {[&] { return refused.Socket(-1); }, "0 close socket ! Create a socket description error"},
        {[&] { return maxSd == fd; }, "1"},  // neither Close nor a failed Socket lowers it
        {[&] { return tcp.Listen(1); }, "0 listen ! Listen error"},  // it is connected
        // Only a higher descriptor raises it; destroying an object closes its descriptor.
        {[&] { return maxSd = 100000, open->Socket(), open.reset(), maxSd; },
         "100000 socket close"},
        {[&] { return udp.Bind(0); }, "0 bind"},
        {[&] { return udp.Listen(1); }, "0 ! Using UDP,but you want to listen"},
        {[&] { return udp.Accept(other); }, "0 ! Using UDP,but you want to accept"},
        {[&] { return udp.Connect("127.0.0.1", 9); }, "0 ! Using UDP,but you want to connect"},
        {[&] { return udp.Send(buf, 1) == SOCKET_WRONG_KIND; }, "1"},
        {[&] { return udp.Receive(buf, 1) == SOCKET_WRONG_KIND; }, "1"},
        {[&] { return tcp.SendTo(buf, 1, "127.0.0.1", 9) == SOCKET_WRONG_KIND; }, "1"},
        {[&] { return tcp.ReceiveFrom(buf, 1, ip, port) == SOCKET_WRONG_KIND; }, "1"},
        // A negative length would reach the platform as a huge size.
        {[&] { return tcp.Send(buf, -1); }, "-1"},
        {[&] { return tcp.Receive(buf, -1); }, "-1"},
        {[&] { return udp.SendTo(buf, -1, "127.0.0.1", 9); }, "-1"},
        {[&] { return udp.ReceiveFrom(buf, -1, ip, port); }, "-1"},
        {[&] { return udp.SendTo(buf, 3, "127.0.0.1", udpPort = LocalPort(udpFd)); },
         "3 sendto(127.0.0.1)"},
        {[&] { return Ready(udpFd) ? udp.ReceiveFrom(buf, 64, ip, port) : 0; }, "3 recvfrom"},
        {[&] { return udp.ReceiveFrom(buf, 1, ip, port, MSG_DONTWAIT); }, "-1 recvfrom"},
        {[&] { return udp.SendTo(buf, 3, "localhost", 9); }, "3 sendto(0.0.0.0)"},
        {[&] { return udp.Socket() >= 0; }, "1 close socket"},  // a stream object now
        {[&] { return udp.Connect("127.0.0.1", LocalPort(boundFd)) == 0 && errno == ECONNREFUSED; },
         "1 connect(127.0.0.1)"},
    };
    for (const auto& [call, expected] : kSteps) {
        PlatformSeam::Reset();
        int result = 0;
        const std::string thrown = ThrownMessage([&, &call = call] { result = call(); });
        const std::string calls = PlatformSeam::Trace();
        EXPECT_EQ(std::to_string(result) + (calls.empty() ? "" : " " + calls) +
                      (thrown.empty() ? "" : " ! " + thrown),
                  expected);
    }
    EXPECT_EQ(g_maxSdAtLoad, -1);
    EXPECT_EQ(length, int(sizeof(int)));  // the refused GetSockOpt left it
    EXPECT_EQ(ThrownMessage([&] { listener.GetSockOpt(SO_TYPE, &type, nullptr); }),
              "SetSockOpt error");
    EXPECT_STREQ(ip, "127.0.0.1");  // the failed ReceiveFrom left the sender's address
    EXPECT_EQ(port, udpPort);       // 16 bits, unsigned
    // Only what Accept filled has a peer.
    EXPECT_STREQ(listener.GetRemoteIP(), "0.0.0.0");
    EXPECT_STREQ(spare.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(spare.GetRemote_b4IP(), 1);
}

TEST(CSocketTest, GetLocalIPGivesTheFirstIPv4AddressOfTheHostsName) {
    g_scripted = true;
    EXPECT_STREQ(CSocket().GetLocalIP(), "10.1.2.3");
    EXPECT_EQ(g_lookedUp, std::string(127, 'a'));  // cut at the buffer's end
    g_entry.h_addrtype = AF_INET6;  // no IPv4 address: the local record, 0.0.0.0 when unbound
    EXPECT_STREQ(CSocket().GetLocalIP(), "0.0.0.0");
}
