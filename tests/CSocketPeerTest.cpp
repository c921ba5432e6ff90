// CSocket against an independent peer: socket_peer.py, plain Python sockets.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "CSocket.h"
#include "SocketTestSupport.h"

using namespace SocketTestSupport;

namespace {

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

TEST(CSocketPeerTest, StreamBothWaysWithAnIndependentPeer) {
    CSocket listener, server;
    const int fd = listener.Socket();
    LimitWaits(fd);
    ASSERT_EQ(listener.Bind(0), 0);
    listener.Listen(1);
    Peer peer = StartPeer("tcp " + std::to_string(LocalPort(fd)));
    listener.Accept(server);  // it keeps the listener's limit on waits
    char buf[64];
    ASSERT_EQ(server.Receive(buf, sizeof buf, MSG_WAITALL), kLineLength);  // up to the shutdown
    EXPECT_EQ(std::string(buf, kLineLength), kLine);
    EXPECT_EQ(server.Receive(buf, sizeof buf), 0);  // the peer shut down its side
    EXPECT_EQ(server.Send(kAnswer, kLineLength), kLineLength);
    server.Close();
    EXPECT_EQ(pclose(peer.release()), 0);
}

TEST(CSocketPeerTest, DatagramsBothWaysWithAnIndependentPeer) {
    CSocket udp;
    const int fd = udp.Socket(SOCK_DGRAM);
    LimitWaits(fd);
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
