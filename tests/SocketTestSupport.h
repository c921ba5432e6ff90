#ifndef TANDEL_TESTS_SOCKETTESTSUPPORT_H
#define TANDEL_TESTS_SOCKETTESTSUPPORT_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>


// Helpers for the socket tests, made with the platform's calls directly so
// they do not lean on the class under test.
namespace SocketTestSupport {

// The port a descriptor is bound to (getsockname), or -1.
inline int LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
    return ntohs(address.sin_port);
}

inline bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// Blocking receives and accepts give up after a few seconds, so a broken test
// fails instead of hanging.
inline void LimitWaits(int fd) {
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

}  // namespace SocketTestSupport

#endif  // TANDEL_TESTS_SOCKETTESTSUPPORT_H
