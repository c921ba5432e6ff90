#include "CSocket.h"

#include <dirent.h>
#include <netinet/tcp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <type_traits>

#include "SocketTestSupport.h"
#include "ThrownMessage.h"

using namespace SocketTestSupport;

// A copy would close the one descriptor twice.
static_assert(!std::is_copy_constructible_v<CSocket> && !std::is_copy_assignable_v<CSocket>);

namespace {

// Read before any test runs: the value the library was loaded with.
const int g_maxSdAtLoad = CSocket::m_nMaxSd;

int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    int count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

// A listener on a free port with one connection to it, accepted.
struct Connection {
    CSocket listener, client, server;
    int listenerFd, clientFd, serverFd, port;

    Connection() {
        listenerFd = listener.Socket();
        LimitWaits(listenerFd);
        EXPECT_EQ(listener.Bind(0), 0);
        listener.Listen(4);
        port = LocalPort(listenerFd);
        clientFd = client.Socket();
        LimitWaits(clientFd);
        EXPECT_EQ(client.Connect("127.0.0.1", port), 1);
        serverFd = listener.Accept(server);
        LimitWaits(serverFd);
    }
};

}  // namespace

TEST(CSocketTest, MaxSdStartsAtMinusOneAndOnlySocketRaisesIt) {
    EXPECT_EQ(g_maxSdAtLoad, -1);
    const int saved = CSocket::m_nMaxSd;
    Connection c;
    CSocket second;
    second.Socket();
    ASSERT_EQ(second.Connect("127.0.0.1", c.port), 1);

    CSocket::m_nMaxSd = -1;
    CSocket accepted;
    c.listener.Accept(accepted);
    EXPECT_EQ(CSocket::m_nMaxSd, -1);
    CSocket failed;
    EXPECT_EQ(ThrownMessage([&] { failed.Socket(-1); }), "Create a socket description error");
    EXPECT_EQ(CSocket::m_nMaxSd, -1);

    CSocket created;
    const int fd = created.Socket();
    EXPECT_EQ(CSocket::m_nMaxSd, fd);
    created.Close();
    EXPECT_EQ(CSocket::m_nMaxSd, fd);

    CSocket::m_nMaxSd = 100000;
    CSocket lower;
    lower.Socket();
    EXPECT_EQ(CSocket::m_nMaxSd, 100000);
    CSocket::m_nMaxSd = std::max(saved, fd);
}

TEST(CSocketTest, WrongKindIsRefusedWithoutTouchingTheDescriptor) {
    CSocket udp, tcp;
    const int udpFd = udp.Socket(SOCK_DGRAM);
    const int tcpFd = tcp.Socket(SOCK_STREAM);
    char buf[8] = "x";
    CString ip("kept");
    int port = 4242;
    errno = 0;
    EXPECT_EQ(ThrownMessage([&] { udp.Listen(1); }), "Using UDP,but you want to listen");
    EXPECT_EQ(ThrownMessage([&] { udp.Accept(tcp); }), "Using UDP,but you want to accept");
    EXPECT_EQ(ThrownMessage([&] { udp.Connect("127.0.0.1", 9); }), "Using UDP,but you want to connect");
    EXPECT_EQ(udp.Send(buf, 1), SOCKET_WRONG_KIND);
    EXPECT_EQ(udp.Receive(buf, 1), SOCKET_WRONG_KIND);
    EXPECT_EQ(tcp.SendTo(buf, 1, "127.0.0.1", 9), SOCKET_WRONG_KIND);
    EXPECT_EQ(tcp.ReceiveFrom(buf, 1, ip, port), SOCKET_WRONG_KIND);
    EXPECT_EQ(errno, 0);  // no platform call was made
    EXPECT_STREQ(ip.GetBuffer(), "kept");
    EXPECT_EQ(port, 4242);
    EXPECT_TRUE(IsOpen(udpFd));
    EXPECT_TRUE(IsOpen(tcpFd));  // the refused Accept left its client alone
}

TEST(CSocketTest, FailedCreationListenAcceptAndOptionsThrowTheirTexts) {
    CSocket failed;
    EXPECT_EQ(ThrownMessage([&] { failed.Socket(-1); }), "Create a socket description error");
    EXPECT_EQ(ThrownMessage([&] { failed.Listen(1); }), "Listen error");

    CSocket notListening, client;
    notListening.Socket();
    EXPECT_EQ(ThrownMessage([&] { notListening.Accept(client); }), "Accept error");
    int value = 1, length = sizeof value;
    EXPECT_EQ(ThrownMessage([&] { notListening.SetSockOpt(-1, &value, length); }), "SetSockOpt error");
    EXPECT_EQ(ThrownMessage([&] { notListening.GetSockOpt(-1, &value, &length); }), "SetSockOpt error");
    EXPECT_EQ(length, int(sizeof value));
    EXPECT_EQ(ThrownMessage([&] { notListening.GetSockOpt(SO_TYPE, &value, nullptr); }), "SetSockOpt error");
}

TEST(CSocketTest, BindReturnsTheErrorNumberInsteadOfThrowing) {
    CSocket first, second, none;
    const int fd = first.Socket();
    second.Socket();
    ASSERT_EQ(first.Bind(0), 0);
    EXPECT_EQ(second.Bind(LocalPort(fd)), EADDRINUSE);
    EXPECT_EQ(none.Bind(0), EBADF);
}

TEST(CSocketTest, ConnectAnswersOneOrZero) {
    Connection c;  // connected: 1
    CSocket boundOnly, refused;
    const int fd = boundOnly.Socket();
    ASSERT_EQ(boundOnly.Bind(0), 0);
    refused.Socket();
    EXPECT_EQ(refused.Connect("127.0.0.1", LocalPort(fd)), 0);
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(CSocketTest, AcceptGivesOnlyTheClientThePeersAddress) {
    Connection c;
    EXPECT_STREQ(c.server.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(c.server.GetRemote_b4IP(), 1);
    for (CSocket* other : {&c.listener, &c.client}) {
        EXPECT_STREQ(other->GetRemoteIP(), "0.0.0.0");
        EXPECT_EQ(other->GetRemote_b4IP(), 0);
    }
}

TEST(CSocketTest, SocketAgainReleasesTheOldDescriptorAndStartsFresh) {
    const int before = OpenDescriptors();
    {
        CSocket s;
        s.Socket(SOCK_DGRAM);
        s.Socket();
        EXPECT_EQ(OpenDescriptors(), before + 1);
        EXPECT_NE(s.Send("x", 1, MSG_NOSIGNAL), SOCKET_WRONG_KIND);  // a stream object again

        s.Close();
        const int fd = s.Socket();
        s.Close();
        EXPECT_FALSE(IsOpen(fd));

        EXPECT_EQ(ThrownMessage([&] { s.Socket(-1); }), "Create a socket description error");
        s.Socket();
    }
    EXPECT_EQ(OpenDescriptors(), before);

    Connection c;
    c.server.Socket();
    EXPECT_STREQ(c.server.GetRemoteIP(), "0.0.0.0");
}

TEST(CSocketTest, AcceptReleasesWhatTheClientHeldAndLeavesAnOpenStream) {
    Connection c;
    CSocket second, third;
    second.Socket();
    third.Socket();
    ASSERT_EQ(second.Connect("127.0.0.1", c.port), 1);
    ASSERT_EQ(third.Connect("127.0.0.1", c.port), 1);

    CSocket target;
    target.Socket(SOCK_DGRAM);
    const int before = OpenDescriptors();
    c.listener.Accept(target);
    EXPECT_EQ(OpenDescriptors(), before);  // the datagram descriptor went
    EXPECT_EQ(target.Send("x", 1), 1);      // and it is a stream object now

    target.Close();
    const int accepted = c.listener.Accept(target);
    target.Close();
    EXPECT_FALSE(IsOpen(accepted));

    // A failed Accept leaves the client without a descriptor.
    CSocket notListening, client;
    notListening.Socket();
    client.Socket();
    const int open = OpenDescriptors();
    EXPECT_EQ(ThrownMessage([&] { notListening.Accept(client); }), "Accept error");
    EXPECT_EQ(OpenDescriptors(), open - 1);
    EXPECT_EQ(client.Send("x", 1, MSG_NOSIGNAL), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST(CSocketTest, NegativeLengthsMoveNothing) {
    Connection c;
    char buffer[8] = "canary";
    ASSERT_EQ(c.client.Send("x", 1), 1);
    errno = 0;
    EXPECT_EQ(c.server.Receive(buffer, -1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(c.client.Send(buffer, -1), -1);
    EXPECT_STREQ(buffer, "canary");
    EXPECT_EQ(c.server.Receive(buffer, sizeof buffer), 1);  // the byte sent is still there

    CSocket udp;
    udp.Socket(SOCK_DGRAM);
    CString ip("kept");
    int port = 7;
    EXPECT_EQ(udp.SendTo(buffer, -1, "127.0.0.1", c.port), -1);
    EXPECT_EQ(udp.ReceiveFrom(buffer, -1, ip, port), -1);
    EXPECT_TRUE(ip == "kept");
    EXPECT_EQ(port, 7);
}

TEST(CSocketTest, OptionsTakeTheNameFirstAndTheLevelLast) {
    CSocket s;
    const int fd = s.Socket();
    int one = 1;
    s.SetSockOpt(TCP_NODELAY, &one, sizeof one, IPPROTO_TCP);
    int value = 0;
    socklen_t length = sizeof value;
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, &length), 0);
    EXPECT_NE(value, 0);

    // The length goes in as the buffer's size and comes out as the option's.
    long long wide = 0;
    int wideLength = sizeof wide;
    s.GetSockOpt(SO_TYPE, &wide, &wideLength);
    EXPECT_EQ(wideLength, int(sizeof(int)));
    EXPECT_EQ(static_cast<int>(wide), SOCK_STREAM);
    value = 0;
    int valueLength = sizeof value;
    s.GetSockOpt(TCP_NODELAY, &value, &valueLength, IPPROTO_TCP);
    EXPECT_NE(value, 0);
}

