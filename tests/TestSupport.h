#ifndef TANDEL_TESTS_TESTSUPPORT_H
#define TANDEL_TESTS_TESTSUPPORT_H

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "CException.h"
#include "CString.h"

// The test executable's own C library functions (PlatformSeam.cpp) record the
// calls, the library's too, and pass them on unless a case arms a failure.
namespace PlatformSeam {

// The error of a write that succeeds in part: pwrite writes half its bytes,
// pwritev its first buffer. Other functions fail with EIO.
const int kShort = 0;
// A full disk: pwrite and pwritev write only up to the file's end (ENOSPC when
// nothing fits there); the other functions, and writes within the file, pass.
const int kFull = -1;
// The process kills itself (SIGKILL) at the call, before making it.
const int kKill = -2;

// Forgets the calls so far and disarms the failure; done before every test.
void Reset();
// The calls since the last Reset, some with their arguments: "socket connect(127.0.0.1)".
std::string Trace();
// The `nth` call from now of `function` (null: of any) fails with `error`, once.
void Fail(const char* function, int nth, int error);
// The same, and every later call of `function` (null: of any) fails too.
void FailFrom(const char* function, int nth, int error);
// The function of the first call that failed since arming; "" when none has.
std::string FailedFunction();

}  // namespace PlatformSeam

// In a stand-in: `real`, the C library's function of the stand-in's name.
#define TANDEL_REAL(name) \
    static const auto real = reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))

// Records array allocations and deletions (of blocks) while it lives; fails the next ones.
struct ArrayAllocations {
    ArrayAllocations();
    ~ArrayAllocations();
    // The nothrow form yields null; the throwing form throws std::bad_alloc,
    // or with `yieldNull` yields null too, as some allocators do.
    void FailNext(int count, bool yieldNull = false);

    std::vector<std::size_t> sizes;
    int deletions = 0;
};

// A fresh directory under $TMPDIR (/tmp without it), removed with everything in it at the end of
// the scope.
struct TempDir {
    static std::string Root() {
        const char* root = std::getenv("TMPDIR");
        return root != nullptr && *root != '\0' ? root : "/tmp";
    }
    std::string path = Root() + "/tandel-test-XXXXXX";
    TempDir() { EXPECT_NE(mkdtemp(path.data()), nullptr); }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string File(const std::string& name) const { return path + "/" + name; }
};

inline std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void MakeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string Text(const CString& s) {
    return std::string(s.GetBuffer(), s.GetLength());
}

// The message of the CException that `call` throws, or "" when none.
template <typename Call>
std::string ThrownMessage(Call call) {
    try {
        call();
    } catch (const CException& e) {
        return e.m_strMessage;
    }
    return "";
}

// The descriptors from 0 to 63 that are free. Asked by number rather than listed from /proc, so
// that descriptors an emulator keeps for itself do not count.
inline std::vector<int> FreeDescriptors() {
    std::vector<int> free;
    for (int fd = 0; fd < 64; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) free.push_back(fd);
    return free;
}

// Those of `free` that are open now: the descriptors taken since.
inline std::vector<int> Taken(const std::vector<int>& free) {
    std::vector<int> taken;
    for (const int fd : free)
        if (fcntl(fd, F_GETFD) != -1) taken.push_back(fd);
    return taken;
}

#endif  // TANDEL_TESTS_TESTSUPPORT_H
