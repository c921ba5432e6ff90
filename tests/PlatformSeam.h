#ifndef TANDEL_TESTS_PLATFORMSEAM_H
#define TANDEL_TESTS_PLATFORMSEAM_H

// Stand-ins for C library functions in the test executable that links
// PlatformSeam.cpp: the library's calls land there, are counted, and pass
// through to the real functions (dlsym(RTLD_NEXT)) unless a case arms a
// failure. Adding a function takes its name here and one definition there.
namespace PlatformSeam {

enum Function {
    kAny,
    kFlock,
    kFopen,
    kFstat,
    kFtruncate,
    kLseek,
    kOpen,
    kPread,
    kPwrite,
    kPwritev,
    kTmpfile,
    kFunctions
};

// The error that makes a write succeed in part: pwrite writes half its bytes,
// pwritev its first buffer, and they return that count, as on a full disk.
// Other functions fail with EIO.
const int kShort = 0;

// Zeroes the counters, disarms the failure and ends any redirection.
void Reset();
// Calls of `function` (kAny: of all of them) since the last Reset.
int Calls(Function function);
// The `nth` call from now of `function` (kAny: of any of them) fails with
// `error` in errno, once.
void Fail(Function function, int nth, int error);
// Whether the armed failure has happened.
bool Failed();
// fopen and open of the path `from` open `to` instead.
void Redirect(const char* from, const char* to);

}  // namespace PlatformSeam

#endif  // TANDEL_TESTS_PLATFORMSEAM_H
