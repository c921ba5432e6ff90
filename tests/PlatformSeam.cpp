#include "PlatformSeam.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

// Atomic, so that a test may watch a call that another thread makes.
std::atomic<int> g_calls[PlatformSeam::kFunctions];
PlatformSeam::Function g_failing = PlatformSeam::kAny;
int g_countdown = 0;  // calls until the armed failure; 0: none armed
int g_error = 0;
bool g_failed = false;
std::string g_from;
std::string g_to;

// Counts a call of `function`; true when it is the one to fail.
bool Trips(PlatformSeam::Function function) {
    ++g_calls[function];
    ++g_calls[PlatformSeam::kAny];
    if (g_countdown == 0 || (g_failing != PlatformSeam::kAny && g_failing != function) ||
        --g_countdown > 0)
        return false;
    g_failed = true;
    errno = g_error == PlatformSeam::kShort ? EIO : g_error;
    return true;
}

bool Short() {
    return g_error == PlatformSeam::kShort;
}

const char* Path(const char* path) {
    return path != nullptr && !g_from.empty() && g_from == path ? g_to.c_str() : path;
}

}  // namespace

// The real function of the seam's own name.
#define TANDEL_REAL(name) \
    static const auto real = reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))

namespace PlatformSeam {

void Reset() {
    for (std::atomic<int>& calls : g_calls) calls = 0;
    g_countdown = 0;
    g_failed = false;
    g_from.clear();
}

int Calls(Function function) {
    return g_calls[function];
}

void Fail(Function function, int nth, int error) {
    g_failing = function;
    g_countdown = nth;
    g_error = error;
    g_failed = false;
}

bool Failed() {
    return g_failed;
}

void Redirect(const char* from, const char* to) {
    g_from = from;
    g_to = to;
}

}  // namespace PlatformSeam

extern "C" int flock(int fd, int operation) noexcept {
    TANDEL_REAL(flock);
    return Trips(PlatformSeam::kFlock) ? -1 : real(fd, operation);
}

extern "C" FILE* fopen(const char* path, const char* mode) {
    TANDEL_REAL(fopen);
    return Trips(PlatformSeam::kFopen) ? nullptr : real(Path(path), mode);
}

extern "C" int fstat(int fd, struct stat* status) noexcept {
    TANDEL_REAL(fstat);
    return Trips(PlatformSeam::kFstat) ? -1 : real(fd, status);
}

extern "C" int ftruncate(int fd, off_t length) noexcept {
    TANDEL_REAL(ftruncate);
    return Trips(PlatformSeam::kFtruncate) ? -1 : real(fd, length);
}

extern "C" off_t lseek(int fd, off_t offset, int whence) noexcept {
    TANDEL_REAL(lseek);
    return Trips(PlatformSeam::kLseek) ? -1 : real(fd, offset, whence);
}

extern "C" int open(const char* path, int flags, ...) {
    TANDEL_REAL(open);
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return Trips(PlatformSeam::kOpen) ? -1 : real(Path(path), flags, mode);
}

extern "C" ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
    TANDEL_REAL(pread);
    return Trips(PlatformSeam::kPread) ? -1 : real(fd, buffer, size, offset);
}

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    TANDEL_REAL(pwrite);
    if (!Trips(PlatformSeam::kPwrite)) return real(fd, buffer, size, offset);
    return Short() ? real(fd, buffer, size / 2, offset) : -1;
}

extern "C" ssize_t pwritev(int fd, const iovec* buffers, int count, off_t offset) {
    TANDEL_REAL(pwritev);
    if (!Trips(PlatformSeam::kPwritev)) return real(fd, buffers, count, offset);
    return Short() ? real(fd, buffers, 1, offset) : -1;
}

extern "C" FILE* tmpfile() {
    TANDEL_REAL(tmpfile);
    return Trips(PlatformSeam::kTmpfile) ? nullptr : real();
}
