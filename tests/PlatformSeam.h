#ifndef TANDEL_TESTS_PLATFORMSEAM_H
#define TANDEL_TESTS_PLATFORMSEAM_H

#include <dlfcn.h>

#include <string>

// Stand-ins for C library functions, defined in the test executable
// (PlatformSeam.cpp): the library's calls, and the tests' own, land there, are
// recorded, and pass through to the real functions unless a case arms a
// failure. Functions go by their C names; a null name stands for any of them.
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

// In a stand-in: `real`, the C library's function of the stand-in's name.
#define TANDEL_REAL(name) \
    static const auto real = reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))

#endif  // TANDEL_TESTS_PLATFORMSEAM_H
