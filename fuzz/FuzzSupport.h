#ifndef TANDEL_FUZZ_FUZZSUPPORT_H
#define TANDEL_FUZZ_FUZZSUPPORT_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// A file of this process under $TMPDIR (/tmp without it); every input rewrites it. The user's id
// keeps it apart from a file another user's aborted run left under the same process id.
inline const std::string& ScratchFile() {
    static const char* const root = std::getenv("TMPDIR");
    static const std::string path = std::string(root != nullptr && *root != '\0' ? root : "/tmp") +
                                    "/tandel-fuzz-" + std::to_string(getuid()) + "-" +
                                    std::to_string(getpid());
    return path;
}

// Ends the run when the library and the model differ, naming what differs. The scratch file goes
// first: an aborted run would leave it behind.
inline void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "the library differs from the model: %s\n", what);
    std::remove(ScratchFile().c_str());
    std::abort();
}

#endif  // TANDEL_FUZZ_FUZZSUPPORT_H
