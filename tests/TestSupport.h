#ifndef TANDEL_TESTS_TESTSUPPORT_H
#define TANDEL_TESTS_TESTSUPPORT_H

#include <dlfcn.h>
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
#include <type_traits>
#include <vector>

#include "CException.h"
#include "CString.h"

// The test executable's own C library functions (PlatformSeam.cpp) record the
// calls, the library's too, and pass them on unless a case arms a failure.
namespace PlatformSeam {

// The error of a write that succeeds in part, as on a full disk: pwrite writes
// half its bytes, pwritev its first buffer. Other functions fail with EIO.
const int kShort = 0;

// Forgets the calls so far and disarms the failure; done before every test.
void Reset();
// The calls since the last Reset, some with their arguments: "socket connect(127.0.0.1)".
std::string Trace();
// The `nth` call from now of `function` (null: of any) fails with `error`, once.
void Fail(const char* function, int nth, int error);
// Whether the armed failure has happened.
bool Failed();

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

// A fresh directory under /tmp, removed with everything in it at the end of the scope.
struct TempDir {
    char path[24] = "/tmp/tandel-test-XXXXXX";
    TempDir() { EXPECT_NE(mkdtemp(path), nullptr); }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string File(const std::string& name) const { return std::string(path) + "/" + name; }
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

inline long OpenDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

#endif  // TANDEL_TESTS_TESTSUPPORT_H
