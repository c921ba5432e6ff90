#ifndef TANDEL_CSOCKET_H
#define TANDEL_CSOCKET_H

#include <netinet/in.h>
#include <sys/socket.h>

#include "CString.h"
#include "TandelExport.h"

/// Returned by a transfer called on an object of the other kind (Send/Receive
/// on a datagram object, SendTo/ReceiveFrom on a stream object). No platform
/// transfer call gives this value.
const int SOCKET_WRONG_KIND = -8965359;

/// One IPv4 socket descriptor, stream (TCP, the default) or datagram (UDP).
///
/// A thin wrapper: each operation makes at most one socket call (Socket() on
/// an object, and Accept() into a client, that still holds a descriptor close
/// it first), with no retry, no buffering and no allocation (apart from a
/// thrown exception and the text ReceiveFrom stores). Operations for one kind
/// check the kind before any platform call. Creation, listening, accepting and
/// the option calls throw CException on failure; binding and connecting return
/// a code; the transfers return the platform call's own result.
///
/// A closed object (after Close(), or after a failed Socket()) makes no
/// platform call: its descriptor number may belong to another socket by now.
/// Each operation fails as on a closed descriptor, with errno EBADF, in the
/// form it reports failures in: Bind returns EBADF, Connect 0, the transfers
/// -1; Listen, Accept and the option calls throw their failure texts. The
/// kind checks still come first; Socket() starts the object over.
///
/// Hosts are IPv4 dotted-decimal text; no host name is ever looked up, and
/// text that does not convert stands for 0.0.0.0.
///
/// Not copyable: one descriptor has one owner, which closes it once.
///
/// Threads and processes: an object is one thread's at a time. `m_nMaxSd` is
/// class-wide and unguarded: Socket() reads and raises it without a lock, so
/// sockets created in several threads at once may leave it below the highest
/// descriptor, and reading it while another thread creates one races with
/// that write. GetRemoteIP and GetLocalIP return text in inet_ntoa's buffer
/// (ReceiveFrom converts through it too), which POSIX lets be one static
/// buffer for the whole process (glibc keeps one per thread): copy the text
/// before the next conversion. GetLocalIP also goes through gethostbyname's
/// shared result: call it in one thread at a time, and not while other code
/// in the process uses gethostbyname. Descriptors are not closed on exec;
/// after fork both processes hold the descriptor, and each object closes its
/// own copy.
class TANDEL_API CSocket {
public:
    /// Fresh object: no descriptor (-1), stream kind, address records zero.
    /// Makes no platform call.
    CSocket();
    /// Close().
    ~CSocket() noexcept;

    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    /// Creates the descriptor: socket(AF_INET, type, 0). Exactly SOCK_DGRAM
    /// makes a datagram object; every other type a stream object. Raises
    /// m_nMaxSd to the new descriptor when it is higher. Returns the descriptor.
    /// On an object that holds or held a descriptor, first closes the one it
    /// still holds open, then starts over as a fresh object.
    /// Throws CException "Create a socket description error" when socket()
    /// fails; the object is then closed, with no descriptor.
    int Socket(int type = SOCK_STREAM);
    /// Binds to `port` (its low 16 bits) on every local address (INADDR_ANY)
    /// and records that as the local address. Returns 0, or the errno value of
    /// a failure (EADDRINUSE for a port in use). Never throws; either kind.
    int Bind(int port);
    /// listen(backlog); returns its result, 0.
    /// Throws CException "Using UDP,but you want to listen" on a datagram
    /// object and "Listen error" when listen() fails.
    int Listen(int backlog);
    /// Accepts one connection into `client`: its descriptor, and the peer's
    /// address as its remote address. Returns the accepted descriptor. A
    /// descriptor `client` still holds is closed first, so one client object
    /// may take connection after connection. On success `client` is an open
    /// stream object that closes the accepted descriptor. m_nMaxSd is not
    /// raised. Throws CException "Using UDP,but you want to accept" on a
    /// datagram object, and "Accept error" when accept() fails (`client` then
    /// has no descriptor) or, before any platform call, when `client` is this
    /// listener itself, which keeps its descriptor.
    int Accept(CSocket& client);
    /// Connects to dotted-decimal `host` at `port`. Returns 1 when connected,
    /// 0 when not (errno as the platform set it). The destination is not
    /// recorded. Throws CException "Using UDP,but you want to connect" on a
    /// datagram object.
    int Connect(const char* host, int port);
    /// Closes the descriptor the first time; later calls do nothing. On an
    /// object that never had one, the platform's close(-1) fails harmlessly.
    void Close();

    /// send() with `flags` and MSG_NOSIGNAL; its result unchanged (bytes sent
    /// or -1), or SOCKET_WRONG_KIND on a datagram object. Sending on a
    /// connection the peer has closed gives -1 with errno EPIPE, never SIGPIPE.
    int Send(const void* buf, int len, int flags = 0);
    /// recv(); its result unchanged (bytes received, 0 once the peer has shut
    /// down, or -1), or SOCKET_WRONG_KIND on a datagram object.
    int Receive(void* buf, int len, int flags = 0);
    /// sendto() dotted-decimal `host` at `port`; its result unchanged (bytes
    /// sent or -1), or SOCKET_WRONG_KIND on a stream object.
    int SendTo(const void* buf, int len, const char* host, int port, int flags = 0);
    /// recvfrom(); its result unchanged (bytes received or -1), or
    /// SOCKET_WRONG_KIND on a stream object. On success `ip` gets the sender's
    /// dotted-decimal address and `port` its port (0 to 65535); otherwise both
    /// are left as they were.
    int ReceiveFrom(void* buf, int len, CString& ip, int& port, int flags = 0);
    // All four transfers refuse a negative `len` with -1 and errno EINVAL,
    // without a platform call: it would pass as a huge size.

    /// setsockopt(level, optname, optval, optlen). Note the order: the option
    /// name first, the level last. Throws CException "SetSockOpt error" when
    /// the platform refuses.
    void SetSockOpt(int optname, const void* optval, int optlen, int level = SOL_SOCKET);
    /// getsockopt(level, optname, optval, optlen): `*optlen` is the buffer's
    /// size in and the option's size out. Throws CException "SetSockOpt error"
    /// (the same text as SetSockOpt) when the platform refuses; `*optlen` is
    /// then untouched. A null `optlen` is refused the same way.
    void GetSockOpt(int optname, void* optval, int* optlen, int level = SOL_SOCKET);

    /// The peer's dotted-decimal address, recorded by Accept on the object
    /// that received the connection; "0.0.0.0" on any other object. The text
    /// lives in inet_ntoa's buffer, overwritten by its next conversion.
    char* GetRemoteIP();
    /// The last octet of the peer's address (20 for 192.168.1.20), 0 to 255;
    /// 0 on an object without a peer.
    int GetRemote_b4IP();
    /// The first IPv4 address the host's name resolves to, as dotted-decimal
    /// text in inet_ntoa's buffer. When the name cannot be had or does not
    /// resolve to IPv4: the recorded local address, "0.0.0.0". Uses no
    /// descriptor; not reentrant (gethostbyname).
    char* GetLocalIP();

    /// The highest descriptor Socket() has created in this process; -1 at
    /// load time. Only a successful Socket() changes it, and only upward.
    static int m_nMaxSd;

private:
    sockaddr_in m_LocalAddr;
    sockaddr_in m_RemoteAddr;
    int m_nSd;
    bool m_bTcp;
    bool m_bClosed;
};

#endif  // TANDEL_CSOCKET_H
