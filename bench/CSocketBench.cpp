// Loopback transfers through CSocket and through the raw socket calls it
// wraps, in the same loops against the same peer thread. Each case runs as
// <case>/CSocket and <case>/raw; the ratio of the two is what the class costs.
// The measuring thread runs on the first processor and the peer on the second,
// so that where the scheduler puts them does not swamp the difference.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <thread>
#include <vector>

#include "CSocket.h"

namespace {

constexpr int kChunk = 64 * 1024;
constexpr int kDatagram = 64;

// Keeps the calling thread on one processor; where there is no such processor
// the thread stays where it may run.
void PinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

constexpr int kMeasuringCpu = 0;
constexpr int kPeerCpu = 1;

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    return address;
}

// A descriptor of `type` bound to 127.0.0.1 on a free port, with waits limited
// so that a lost peer ends the run instead of hanging it.
int BoundSocket(int type, int& port) {
    const int fd = socket(AF_INET, type, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

// Accepts one connection and reads it until the sender closes it.
class TcpDrain {
public:
    TcpDrain() : listener_(BoundSocket(SOCK_STREAM, port)) {
        listen(listener_, 1);
        thread_ = std::thread([this] {
            PinTo(kPeerCpu);
            const int connection = accept(listener_, nullptr, nullptr);
            std::vector<char> buf(kChunk);
            while (recv(connection, buf.data(), buf.size(), 0) > 0) {
            }
            close(connection);
        });
    }
    // The sender's end must be closed by now.
    ~TcpDrain() {
        thread_.join();
        close(listener_);
    }

    int port;

private:
    int listener_;
    std::thread thread_;
};

// Sends every datagram back to its sender; an empty one stops it.
class UdpEcho {
public:
    UdpEcho() : fd_(BoundSocket(SOCK_DGRAM, port)) {
        thread_ = std::thread([this] {
            PinTo(kPeerCpu);
            char buf[kDatagram];
            sockaddr_in sender;
            for (;;) {
                socklen_t length = sizeof sender;
                const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0,
                                           reinterpret_cast<sockaddr*>(&sender), &length);
                if (n <= 0) break;
                sendto(fd_, buf, n, 0, reinterpret_cast<sockaddr*>(&sender), length);
            }
        });
    }
    ~UdpEcho() {
        const int stopper = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to = Loopback(port);
        sendto(stopper, "", 0, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        close(stopper);
        thread_.join();
        close(fd_);
    }

    int port;

private:
    int fd_;
    std::thread thread_;
};

void TcpSend64K_CSocket(benchmark::State& state) {
    PinTo(kMeasuringCpu);
    TcpDrain drain;
    CSocket client;
    client.Socket();
    client.Connect("127.0.0.1", drain.port);
    std::vector<char> buf(kChunk, 'x');
    for (auto _ : state) {
        if (client.Send(buf.data(), kChunk) != kChunk) {
            state.SkipWithError("short send");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kChunk);
}

void TcpSend64K_Raw(benchmark::State& state) {
    PinTo(kMeasuringCpu);
    TcpDrain drain;
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to = Loopback(drain.port);
    connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::vector<char> buf(kChunk, 'x');
    for (auto _ : state) {
        if (send(client, buf.data(), kChunk, 0) != kChunk) {
            state.SkipWithError("short send");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kChunk);
    close(client);
}

void UdpRoundTrip_CSocket(benchmark::State& state) {
    PinTo(kMeasuringCpu);
    UdpEcho echo;
    CSocket udp;
    const int fd = udp.Socket(SOCK_DGRAM);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char out[kDatagram] = "ping", in[kDatagram];
    CString ip;
    int port = 0;
    for (auto _ : state) {
        udp.SendTo(out, kDatagram, "127.0.0.1", echo.port);
        if (udp.ReceiveFrom(in, kDatagram, ip, port) != kDatagram) {
            state.SkipWithError("no answer");
            break;
        }
    }
    benchmark::DoNotOptimize(port);
}

// The same work with the raw calls: the destination from its text, the sender
// as text and port.
void UdpRoundTrip_Raw(benchmark::State& state) {
    PinTo(kMeasuringCpu);
    UdpEcho echo;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char out[kDatagram] = "ping", in[kDatagram];
    char ip[INET_ADDRSTRLEN];
    int port = 0;
    for (auto _ : state) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(echo.port));
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        sendto(fd, out, kDatagram, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        if (recvfrom(fd, in, kDatagram, 0, reinterpret_cast<sockaddr*>(&from), &length) !=
            kDatagram) {
            state.SkipWithError("no answer");
            break;
        }
        port = ntohs(from.sin_port);
        std::strcpy(ip, inet_ntoa(from.sin_addr));
    }
    benchmark::DoNotOptimize(port);
    benchmark::DoNotOptimize(ip);
    close(fd);
}

}  // namespace

BENCHMARK(TcpSend64K_CSocket)->Name("TcpSend64K/CSocket")->UseRealTime();
BENCHMARK(TcpSend64K_Raw)->Name("TcpSend64K/raw")->UseRealTime();
BENCHMARK(UdpRoundTrip_CSocket)->Name("UdpRoundTrip/CSocket")->UseRealTime();
BENCHMARK(UdpRoundTrip_Raw)->Name("UdpRoundTrip/raw")->UseRealTime();

BENCHMARK_MAIN();
