#ifndef TANDEL_TESTS_PLATFORMSEAM_H
#define TANDEL_TESTS_PLATFORMSEAM_H

#include <dlfcn.h>

#include <cstddef>
#include <string>
#include <vector>

// Stand-ins defined in the test executable (PlatformSeam.cpp), for C library
// functions and for the array forms of operator new and delete: the library's
// calls, and the tests' own, land there, are recorded, and pass through to
// the real ones unless a case arms a failure.

// C functions go by their names; a null name stands for any of them.
namespace PlatformSeam {

// The error that makes a write succeed in part: pwrite writes half its bytes,
// pwritev its first buffer, as on a full disk. Other functions fail with EIO.
const int kShort = 0;

// Forgets the calls so far and disarms the failure.
void Reset();
// The calls since the last Reset, in order, separated by spaces; some show
// what they were given, as in "connect(127.0.0.1)" or "fopen(/etc/x,r+)".
std::string Trace();
// The `nth` call from now of `function` fails with `error` in errno, once.
void Fail(const char* function, int nth, int error);
// Whether the armed failure has happened.
bool Failed();

}  // namespace PlatformSeam

// Records what goes through the array forms of operator new and delete in the
// test executable (the library's blocks included) from its construction to
// its destruction, and can make the next allocations fail.
struct ArrayAllocations {
    ArrayAllocations();
    ~ArrayAllocations();
    // The next `count` allocations fail: the nothrow form yields null, the
    // throwing form throws std::bad_alloc, or with `yieldNull` yields null too,
    // as an allocator that reports exhaustion that way does.
    void FailNext(int count, bool yieldNull = false);

    std::vector<std::size_t> sizes;  // of the allocations, in order
    int deletions = 0;               // of blocks, not of null
};

// In a stand-in: `real`, the C library's function of the stand-in's name.
#define TANDEL_REAL(name) \
    static const auto real = reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))

#endif  // TANDEL_TESTS_PLATFORMSEAM_H
