// CSocket against an independent peer: socket_peer.py, plain Python sockets.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "CSocket.h"
#include "SocketTestSupport.h"

using namespace SocketTestSupport;

namespace {

// socket_peer.py in a child process, with its standard output in a pipe.
class Peer {
public:
    explicit Peer(const std::string& arguments)
        : pipe_(popen((std::string(TANDEL_PYTHON " " TANDEL_SOCKET_PEER " ") + arguments).c_str(), "r")) {}
    ~Peer() {
        if (pipe_ != nullptr) pclose(pipe_);
    }

    // The port the peer printed, or 0.
    int Port() {
        char line[32];
        return pipe_ != nullptr && fgets(line, sizeof line, pipe_) != nullptr ? std::atoi(line) : 0;
    }

    // Waits for the peer: true when it exited with 0, having got what it expected.
    bool Succeeded() {
        const int status = pclose(pipe_);
        pipe_ = nullptr;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    FILE* pipe_;
};

// Everything until the peer shuts down (Receive gives 0); "(failed)" marks a
// failed or timed-out receive.
std::string ReceiveAll(CSocket& socket) {
    std::string all;
    char buf[64];
    for (int pieces = 0; pieces < 100; ++pieces) {
        const int n = socket.Receive(buf, sizeof buf);
        if (n <= 0) return n == 0 ? all : all + "(failed)";
        all.append(buf, n);
    }
    return all + "(endless)";
}

}  // namespace

TEST(CSocketPeerTest, StreamToAnIndependentServer) {
    Peer peer("tcp-server");
    const int port = peer.Port();
    ASSERT_GT(port, 0);
    CSocket client;
    LimitWaits(client.Socket());
    ASSERT_EQ(client.Connect("127.0.0.1", port), 1);
    EXPECT_EQ(client.Send("hello, peer\n", 12), 12);
    EXPECT_EQ(ReceiveAll(client), "HELLO, PEER\n");
    client.Close();
    EXPECT_TRUE(peer.Succeeded());
}

TEST(CSocketPeerTest, StreamFromAnIndependentClient) {
    CSocket listener, server;
    const int fd = listener.Socket();
    LimitWaits(fd);
    ASSERT_EQ(listener.Bind(0), 0);
    listener.Listen(1);
    Peer peer("tcp-client " + std::to_string(LocalPort(fd)));
    LimitWaits(listener.Accept(server));
    EXPECT_STREQ(server.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(ReceiveAll(server), "hello, library\n");
    EXPECT_EQ(server.Send("HELLO, LIBRARY\n", 15), 15);
    server.Close();
    EXPECT_TRUE(peer.Succeeded());
}

TEST(CSocketPeerTest, DatagramsBothWaysWithAnIndependentPeer) {
    CSocket udp;
    const int fd = udp.Socket(SOCK_DGRAM);
    LimitWaits(fd);
    ASSERT_EQ(udp.Bind(0), 0);
    char buf[64];
    CString ip;
    int port = -1;

    Peer echo("udp-echo");
    const int echoPort = echo.Port();
    ASSERT_GT(echoPort, 0);
    EXPECT_EQ(udp.SendTo("hello", 5, "127.0.0.1", echoPort), 5);
    const int answered = udp.ReceiveFrom(buf, sizeof buf, ip, port);
    ASSERT_GT(answered, 0);
    EXPECT_EQ(std::string(buf, answered), std::to_string(LocalPort(fd)) + " hello");
    EXPECT_STREQ(ip.GetBuffer(), "127.0.0.1");
    EXPECT_EQ(port, echoPort);
    EXPECT_TRUE(echo.Succeeded());

    Peer sender("udp-send " + std::to_string(LocalPort(fd)));
    const int senderPort = sender.Port();
    ip = "";
    EXPECT_EQ(udp.ReceiveFrom(buf, sizeof buf, ip, port), 17);
    EXPECT_EQ(std::string(buf, 17), "hello from python");
    EXPECT_STREQ(ip.GetBuffer(), "127.0.0.1");
    EXPECT_EQ(port, senderPort);
    EXPECT_TRUE(sender.Succeeded());
}
