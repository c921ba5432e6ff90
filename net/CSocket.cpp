#include "CSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "CException.h"

int CSocket::m_nMaxSd = -1;

namespace {

sockaddr* AsSockaddr(sockaddr_in* address) {
    return reinterpret_cast<sockaddr*>(address);
}

// The destination of Connect and SendTo. No name lookup: text that is not
// dotted-decimal (a null pointer included) leaves the address 0.0.0.0.
sockaddr_in Destination(const char* host, int port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (host != nullptr) inet_pton(AF_INET, host, &address.sin_addr);
    return address;
}

// A negative length would reach the platform as a huge size_t: recv could
// then write, and send read, past the caller's buffer.
bool RefuseNegativeLength(int len) {
    if (len >= 0) return false;
    errno = EINVAL;
    return true;
}

// A closed object's descriptor number may belong to another socket by now:
// nothing is done with it, and the caller learns what a closed descriptor
// gives, EBADF.
bool RefuseClosed(bool closed) {
    if (!closed) return false;
    errno = EBADF;
    return true;
}

}  // namespace

CSocket::CSocket() : m_nSd(-1), m_bTcp(true), m_bClosed(false) {
    std::memset(&m_LocalAddr, 0, sizeof m_LocalAddr);
    std::memset(&m_RemoteAddr, 0, sizeof m_RemoteAddr);
}

CSocket::~CSocket() noexcept {
    Close();
}

int CSocket::Socket(int type) {
    // A descriptor from an earlier Socket() or Accept() would otherwise be
    // lost, and a closed object could never release its new one.
    if (!m_bClosed && m_nSd != -1) close(m_nSd);
    std::memset(&m_LocalAddr, 0, sizeof m_LocalAddr);
    std::memset(&m_RemoteAddr, 0, sizeof m_RemoteAddr);
    m_bTcp = type != SOCK_DGRAM;
    m_bClosed = false;

    m_nSd = socket(AF_INET, type, 0);
    if (m_nSd == -1) {
        m_bClosed = true;
        throw CException("Create a socket description error");
    }
    if (m_nSd > m_nMaxSd) m_nMaxSd = m_nSd;
    return m_nSd;
}

int CSocket::Bind(int port) {
    if (RefuseClosed(m_bClosed)) return EBADF;
    m_LocalAddr.sin_family = AF_INET;
    m_LocalAddr.sin_port = htons(static_cast<std::uint16_t>(port));
    m_LocalAddr.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(m_nSd, AsSockaddr(&m_LocalAddr), sizeof m_LocalAddr) == -1 ? errno : 0;
}

int CSocket::Listen(int backlog) {
    if (!m_bTcp) throw CException("Using UDP,but you want to listen");
    if (RefuseClosed(m_bClosed)) throw CException("Listen error");
    const int result = listen(m_nSd, backlog);
    if (result < 0) throw CException("Listen error");
    return result;
}

int CSocket::Accept(CSocket& client) {
    if (!m_bTcp) throw CException("Using UDP,but you want to accept");
    // The listener would lose its own descriptor to the accepted one.
    if (&client == this) throw CException("Accept error");
    if (RefuseClosed(m_bClosed)) throw CException("Accept error");
    // A server loop may reuse one client object: the descriptor it still
    // holds would otherwise be lost, as in Socket().
    if (!client.m_bClosed && client.m_nSd != -1) {
        close(client.m_nSd);
        client.m_bClosed = true;
    }
    socklen_t length = sizeof client.m_RemoteAddr;
    client.m_nSd = accept(m_nSd, AsSockaddr(&client.m_RemoteAddr), &length);
    if (client.m_nSd < 0) throw CException("Accept error");
    // Open and of stream kind, so that its Close() releases what it accepted.
    client.m_bTcp = true;
    client.m_bClosed = false;
    return client.m_nSd;
}

int CSocket::Connect(const char* host, int port) {
    if (!m_bTcp) throw CException("Using UDP,but you want to connect");
    if (RefuseClosed(m_bClosed)) return 0;
    sockaddr_in destination = Destination(host, port);
    return connect(m_nSd, AsSockaddr(&destination), sizeof destination) >= 0 ? 1 : 0;
}

void CSocket::Close() {
    if (m_bClosed) return;
    close(m_nSd);
    m_bClosed = true;
}

int CSocket::Send(const void* buf, int len, int flags) {
    if (!m_bTcp) return SOCKET_WRONG_KIND;
    if (RefuseNegativeLength(len) || RefuseClosed(m_bClosed)) return -1;
    // A peer that has gone must not end the process with SIGPIPE: the caller
    // gets -1 and EPIPE instead.
    return static_cast<int>(send(m_nSd, buf, static_cast<std::size_t>(len), flags | MSG_NOSIGNAL));
}

int CSocket::Receive(void* buf, int len, int flags) {
    if (!m_bTcp) return SOCKET_WRONG_KIND;
    if (RefuseNegativeLength(len) || RefuseClosed(m_bClosed)) return -1;
    return static_cast<int>(recv(m_nSd, buf, static_cast<std::size_t>(len), flags));
}

int CSocket::SendTo(const void* buf, int len, const char* host, int port, int flags) {
    if (m_bTcp) return SOCKET_WRONG_KIND;
    if (RefuseNegativeLength(len) || RefuseClosed(m_bClosed)) return -1;
    sockaddr_in destination = Destination(host, port);
    return static_cast<int>(sendto(m_nSd, buf, static_cast<std::size_t>(len), flags,
                                   AsSockaddr(&destination), sizeof destination));
}

int CSocket::ReceiveFrom(void* buf, int len, CString& ip, int& port, int flags) {
    if (m_bTcp) return SOCKET_WRONG_KIND;
    if (RefuseNegativeLength(len) || RefuseClosed(m_bClosed)) return -1;
    sockaddr_in sender;
    std::memset(&sender, 0, sizeof sender);
    socklen_t length = sizeof sender;
    const int received = static_cast<int>(
        recvfrom(m_nSd, buf, static_cast<std::size_t>(len), flags, AsSockaddr(&sender), &length));
    if (received == -1) return -1;
    port = ntohs(sender.sin_port);
    ip = inet_ntoa(sender.sin_addr);
    return received;
}

void CSocket::SetSockOpt(int optname, const void* optval, int optlen, int level) {
    if (RefuseClosed(m_bClosed)) throw CException("SetSockOpt error");
    if (setsockopt(m_nSd, level, optname, optval, static_cast<socklen_t>(optlen)) == -1)
        throw CException("SetSockOpt error");
}

void CSocket::GetSockOpt(int optname, void* optval, int* optlen, int level) {
    if (RefuseClosed(m_bClosed)) throw CException("SetSockOpt error");
    // The platform's length is a socklen_t: pass a copy, not the caller's int
    // under another type. A null length goes through as null and is refused.
    socklen_t length = optlen != nullptr ? static_cast<socklen_t>(*optlen) : 0;
    if (getsockopt(m_nSd, level, optname, optval, optlen != nullptr ? &length : nullptr) == -1)
        throw CException("SetSockOpt error");
    if (optlen != nullptr) *optlen = static_cast<int>(length);
}

char* CSocket::GetRemoteIP() {
    return inet_ntoa(m_RemoteAddr.sin_addr);
}

int CSocket::GetRemote_b4IP() {
    return static_cast<int>(ntohl(m_RemoteAddr.sin_addr.s_addr) & 0xFF);
}

char* CSocket::GetLocalIP() {
    char name[128];
    if (gethostname(name, sizeof name) == 0) {
        // A truncated name need not be terminated.
        name[sizeof name - 1] = '\0';
        const hostent* host = gethostbyname(name);
        if (host != nullptr && host->h_addrtype == AF_INET && host->h_addr_list[0] != nullptr) {
            in_addr first;
            std::memcpy(&first, host->h_addr_list[0], sizeof first);
            return inet_ntoa(first);
        }
    }
    return inet_ntoa(m_LocalAddr.sin_addr);
}
