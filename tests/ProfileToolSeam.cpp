// Linked into a second build of tandel-profile for its test: flock is the C
// library's, but with TANDEL_TEST_FLOCK set, the command it holds runs once,
// right after the unlock that ends a write, as another writer coming in then.
#include <dlfcn.h>
#include <sys/file.h>

#include <cstdlib>
#include <string>

extern "C" int flock(int fd, int operation) noexcept {
    static const auto real = reinterpret_cast<decltype(&flock)>(dlsym(RTLD_NEXT, "flock"));
    static int writing = -1;  // the descriptor an exclusive lock is held on
    const int result = real(fd, operation);
    if (operation == LOCK_EX) writing = fd;
    const char* command = std::getenv("TANDEL_TEST_FLOCK");
    if (operation == LOCK_UN && fd == writing && command != nullptr) {
        const std::string copy = command;
        unsetenv("TANDEL_TEST_FLOCK");
        if (std::system(copy.c_str()) != 0) std::abort();
    }
    return result;
}
