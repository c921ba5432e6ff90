#include "TestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cstdarg>
#include <new>

namespace {

struct State {
    std::string trace;
    std::string failing;  // the function armed to fail; empty: any
    int countdown = 0;    // calls until the armed failure; 0: none armed
    int error = 0;
    bool lasting = false;  // the calls after the armed one fail too
    std::string failed;    // the function of the first call that failed
};

// Made on first use: a stand-in may run before static objects are built.
State& The() {
    static State* state = new State;
    return *state;
}

// Records a call of `function`, given `detail`; true when it is to fail. `full`: the call writes
// past the file's end, which a full disk refuses.
bool Trips(const char* function, const std::string& detail = "", bool full = false) {
    State& the = The();
    the.trace += (the.trace.empty() ? "" : " ") + std::string(function);
    the.trace += detail.empty() ? "" : "(" + detail + ")";
    if (the.countdown == 0 || (!the.failing.empty() && the.failing != function)) return false;
    if (the.countdown > 1) {
        --the.countdown;
        return false;
    }
    if (!the.lasting) the.countdown = 0;
    if (the.error == PlatformSeam::kKill) kill(getpid(), SIGKILL);
    if (the.error == PlatformSeam::kFull && !full) return false;
    if (the.failed.empty()) the.failed = function;
    errno = the.error == PlatformSeam::kShort  ? EIO
            : the.error == PlatformSeam::kFull ? ENOSPC
                                               : the.error;
    return true;
}

// How many of the `size` bytes to write at `at` fit before the file's end, when a full disk is
// armed; all of them otherwise.
std::size_t Room(int fd, off_t at, std::size_t size) {
    TANDEL_REAL(fstat);
    struct stat status;
    if (The().error != PlatformSeam::kFull || real(fd, &status) != 0) return size;
    return status.st_size <= at ? 0 : std::min(size, std::size_t(status.st_size - at));
}

std::string Address(const sockaddr* to) {
    return inet_ntoa(reinterpret_cast<const sockaddr_in*>(to)->sin_addr);
}

// Every test starts with the stand-ins passing through.
class ResetForEachTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { PlatformSeam::Reset(); }
};

[[maybe_unused]] const bool g_resetting =
    (testing::UnitTest::GetInstance()->listeners().Append(new ResetForEachTest), true);

}  // namespace

void PlatformSeam::Reset() {
    The() = State();
}

std::string PlatformSeam::Trace() {
    return The().trace;
}

void PlatformSeam::Fail(const char* function, int nth, int error) {
    The() = State{The().trace, function != nullptr ? function : "", nth, error, false, ""};
}

void PlatformSeam::FailFrom(const char* function, int nth, int error) {
    Fail(function, nth, error);
    The().lasting = true;
}

std::string PlatformSeam::FailedFunction() {
    return The().failed;
}

// A stand-in that fails by returning `failed` and traces `detail`; the last
// argument, when given, is the noexcept the C library declares the function with.
#define TANDEL_SEAM(result, name, failed, detail, parameters, arguments, ...) \
    extern "C" result name parameters __VA_ARGS__ {                           \
        TANDEL_REAL(name);                                                    \
        return Trips(#name, detail) ? failed : real arguments;                \
    }

TANDEL_SEAM(int, accept, -1, "", (int fd, sockaddr* from, socklen_t* n), (fd, from, n))
TANDEL_SEAM(int, bind, -1, "", (int fd, const sockaddr* at, socklen_t n), (fd, at, n), noexcept)
TANDEL_SEAM(int, connect, -1, Address(to), (int fd, const sockaddr* to, socklen_t n), (fd, to, n))
TANDEL_SEAM(int, flock, -1, "", (int fd, int operation), (fd, operation), noexcept)
TANDEL_SEAM(int, fstat64, -1, "", (int fd, struct stat64* status), (fd, status), noexcept)
TANDEL_SEAM(int, fstatat64, -1, "", (int fd, const char* name, struct stat64* s, int flags),
            (fd, name, s, flags), noexcept)
TANDEL_SEAM(int, ftruncate, -1, "", (int fd, off_t length), (fd, length), noexcept)
TANDEL_SEAM(int, getsockopt, -1, "", (int fd, int level, int name, void* v, socklen_t* n),
            (fd, level, name, v, n), noexcept)
TANDEL_SEAM(int, listen, -1, "", (int fd, int backlog), (fd, backlog), noexcept)
TANDEL_SEAM(off_t, lseek, -1, "", (int fd, off_t at, int whence), (fd, at, whence), noexcept)
TANDEL_SEAM(int, lstat, -1, "", (const char* path, struct stat* status), (path, status), noexcept)
// A failing close still releases the descriptor, as Linux's does.
extern "C" int close(int fd) {
    TANDEL_REAL(close);
    const int result = real(fd);
    return Trips("close") ? -1 : result;
}

// Traces the path; passes the mode on only where there is one.
extern "C" int openat(int fd, const char* path, int flags, ...) {
    TANDEL_REAL(openat);
    va_list rest;
    va_start(rest, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(rest, mode_t) : 0;
    va_end(rest);
    return Trips("openat", path) ? -1 : real(fd, path, flags, mode);
}

TANDEL_SEAM(ssize_t, pread, -1, "", (int fd, void* to, size_t n, off_t at), (fd, to, n, at))
TANDEL_SEAM(ssize_t, recv, -1, "", (int fd, void* to, size_t n, int flags), (fd, to, n, flags))
TANDEL_SEAM(ssize_t, recvfrom, -1, "",
            (int fd, void* to, size_t n, int f, sockaddr* a, socklen_t* an), (fd, to, n, f, a, an))
TANDEL_SEAM(ssize_t, send, -1, "", (int fd, const void* v, size_t n, int f), (fd, v, n, f))
TANDEL_SEAM(ssize_t, sendto, -1, Address(to),
            (int fd, const void* v, size_t n, int f, const sockaddr* to, socklen_t tn),
            (fd, v, n, f, to, tn))
TANDEL_SEAM(int, setsockopt, -1, "", (int fd, int level, int name, const void* v, socklen_t n),
            (fd, level, name, v, n), noexcept)
TANDEL_SEAM(int, socket, -1, "", (int domain, int type, int p), (domain, type, p), noexcept)
TANDEL_SEAM(FILE*, tmpfile, nullptr, "", (), ())

// Writes that fail part way write half the bytes, or the first buffer; on a full disk, what fits.
extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t at) {
    TANDEL_REAL(pwrite);
    const std::size_t room = Room(fd, at, size);
    if (!Trips("pwrite", "", room < size)) return real(fd, data, size, at);
    if (The().error == PlatformSeam::kShort) return real(fd, data, size / 2, at);
    return The().error == PlatformSeam::kFull && room > 0 ? real(fd, data, room, at) : -1;
}

extern "C" ssize_t pwritev(int fd, const iovec* parts, int count, off_t at) {
    TANDEL_REAL(pwritev);
    std::vector<iovec> kept(parts, parts + count);
    std::size_t size = 0;
    for (const iovec& part : kept) size += part.iov_len;
    std::size_t room = Room(fd, at, size);
    if (!Trips("pwritev", "", room < size)) return real(fd, parts, count, at);
    if (The().error == PlatformSeam::kShort) return real(fd, parts, 1, at);
    if (The().error != PlatformSeam::kFull || room == 0) return -1;
    int n = 0;
    for (; room > 0; room -= kept[n++].iov_len) kept[n].iov_len = std::min(kept[n].iov_len, room);
    return real(fd, kept.data(), n, at);
}

namespace {

ArrayAllocations* g_recording = nullptr;
int g_failures = 0;
bool g_yieldNull = false;

void* Allocate(std::size_t size) {
    if (g_failures > 0) {
        --g_failures;
        return nullptr;
    }
    if (g_recording != nullptr) g_recording->sizes.push_back(size);
    return std::malloc(size == 0 ? 1 : size);
}

void Free(void* block) {
    if (block != nullptr && g_recording != nullptr) ++g_recording->deletions;
    std::free(block);
}

}  // namespace

// The vector's storage comes from the single-object operator new, not replaced.
ArrayAllocations::ArrayAllocations() {
    sizes.reserve(64);
    g_recording = this;
}

ArrayAllocations::~ArrayAllocations() {
    g_recording = nullptr;
    g_failures = 0;
}

void ArrayAllocations::FailNext(int count, bool yieldNull) {
    g_failures = count;
    g_yieldNull = yieldNull;
}

// Yielding null breaks the language's promise on purpose, as some allocators do.
__attribute__((no_sanitize("returns-nonnull-attribute"))) void* operator new[](std::size_t size) {
    void* block = Allocate(size);
    if (block == nullptr && !g_yieldNull) throw std::bad_alloc();
    return block;
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void operator delete[](void* block) noexcept {
    Free(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    Free(block);
}
