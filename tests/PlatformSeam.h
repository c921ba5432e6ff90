#ifndef TANDEL_TESTS_PLATFORMSEAM_H
#define TANDEL_TESTS_PLATFORMSEAM_H

#include <dlfcn.h>

#include <cstddef>
#include <string>
#include <vector>

// Stand-ins defined in the test executable (PlatformSeam.cpp) for C library
// functions and for the array forms of operator new and delete: the library's
// calls, and the tests' own, land there, are recorded, and pass through to
// the real ones unless a case arms a failure.
namespace PlatformSeam {

// The error that makes a write succeed in part, as on a full disk: pwrite
// writes half its bytes, pwritev its first buffer. Other functions fail with EIO.
const int kShort = 0;

// Forgets the calls so far and disarms the failure; done before every test.
void Reset();
// The C functions called since the last Reset, in order, separated by spaces;
// some show what they were given, as in "connect(127.0.0.1)".
std::string Trace();
// The `nth` call from now of `function` (null: of any) fails with `error`, once.
void Fail(const char* function, int nth, int error);
// Whether the armed failure has happened.
bool Failed();

}  // namespace PlatformSeam

// Records the array allocations and deletions of non-null blocks from its
// construction to its destruction, and can make the next allocations fail.
struct ArrayAllocations {
    ArrayAllocations();
    ~ArrayAllocations();
    // The nothrow form yields null; the throwing form throws std::bad_alloc,
    // or with `yieldNull` yields null too, as some allocators do.
    void FailNext(int count, bool yieldNull = false);

    std::vector<std::size_t> sizes;
    int deletions = 0;
};

// In a stand-in: `real`, the C library's function of the stand-in's name.
#define TANDEL_REAL(name) \
    static const auto real = reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))

#endif  // TANDEL_TESTS_PLATFORMSEAM_H
