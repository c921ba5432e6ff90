// Linked into a second build of tandel-profile for its test. flock is the C
// library's, except as TANDEL_TEST_FLOCK asks: "fail" refuses exclusive locks
// with EIO; any other text is a command run once, right after the unlock that
// ends a write, as another writer that comes in just then.
#include <dlfcn.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int flock(int fd, int operation) noexcept {
    static const auto real = reinterpret_cast<decltype(&flock)>(dlsym(RTLD_NEXT, "flock"));
    static int writing = -1;  // the descriptor an exclusive lock is held on
    const char* steer = std::getenv("TANDEL_TEST_FLOCK");
    if (steer == nullptr) return real(fd, operation);
    if (std::strcmp(steer, "fail") == 0 && operation == LOCK_EX) {
        errno = EIO;
        return -1;
    }
    const int result = real(fd, operation);
    if (operation == LOCK_EX) writing = fd;
    if (operation == LOCK_UN && fd == writing) {
        const std::string command = steer;
        unsetenv("TANDEL_TEST_FLOCK");
        if (std::system(command.c_str()) != 0) std::abort();
    }
    return result;
}
