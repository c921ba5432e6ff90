// tandel-profile: reads and writes one entry of a profile file. Its command
// line, output and exit statuses are described in tandel-profile.1.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "CFileVersion.h"
#include "CProfile.h"
#include "CString.h"

namespace {

const char kDefaultProfile[] = "/etc/velonix/Tandel.rc";

// Asked for, on stdout with status 0; after a wrong usage, on stderr with 2.
int Usage(FILE* out, int status) {
    std::fputs(
        "usage: tandel-profile [-f FILE] get SECTION KEY\n"
        "       tandel-profile [-f FILE] set SECTION KEY VALUE\n"
        "       tandel-profile -h | --help | --version\n",
        out);
    return status;
}

// The library's version, not one of the tool's own: the two ship together.
int Version() {
    char* version = nullptr;
    CFileVersion().GetString("FileVersion", &version, nullptr, 0);
    std::printf("tandel-profile %s\n", version);
    return 0;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "tandel-profile: %s\n", message.c_str());
    return 2;
}

// Why the profile format cannot hold this entry, or null when it can.
const char* Refusal(const char* key, const char* value) {
    if (std::strpbrk(key, "=[\n") != nullptr) return "a key cannot contain '=', '[' or a line feed";
    if (std::strpbrk(value, "[\n") != nullptr) return "a value cannot contain '[' or a line feed";
    if (std::strlen(key) + std::strlen(value) + 2 > 255)
        return "the entry line would be longer than 255 bytes";
    return nullptr;
}

// The profile at `path`, or the library's default profile when it is null.
std::unique_ptr<CProfile> OpenProfile(const char* path) {
    return path != nullptr ? std::make_unique<CProfile>(path) : std::make_unique<CProfile>();
}

int Get(const char* path, const char* file, const char* section, const char* key) {
    // A missing profile has no entries; looking must not create it. One that
    // cannot be reached (a directory without search permission, say) is a
    // failure, not an absent entry.
    if (access(file, F_OK) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return 1;
        return Fail(std::string("cannot read ") + file + ": " + std::strerror(errno));
    }
    const std::unique_ptr<CProfile> profile = OpenProfile(path);
    CString value;
    profile->GetProfile(section, key, value);
    // An empty value and an absent entry read alike: only then ask which.
    if (value.IsEmpty() && !profile->FindEntry(section, key)) {
        // Absent, or a file that cannot be read at all.
        struct stat status;
        if (stat(file, &status) == 0 && S_ISDIR(status.st_mode))
            return Fail(std::string("cannot read ") + file + ": " + std::strerror(EISDIR));
        if (access(file, R_OK) != 0)
            return Fail(std::string("cannot read ") + file + ": " + std::strerror(errno));
        return 1;
    }
    std::printf("%s\n", value.GetBuffer());
    return 0;
}

int Set(const char* path, const char* file, const char* section, const char* key,
        const char* value) {
    if (std::strpbrk(section, "]\n") != nullptr)
        return Fail("a section name cannot contain ']' or a line feed");
    if (const char* refusal = Refusal(key, value)) return Fail(refusal);
    // The library leaves errno 0 when the entry stands as asked, and the
    // reason when it refused the write: its own write, not what another
    // process may have set since.
    const std::unique_ptr<CProfile> profile = OpenProfile(path);
    profile->WriteProfile(section, key, value);
    const int error = errno;
    if (error == 0) return 0;
    if (error == EINVAL && std::strlen(section) + 3 > 255)
        return Fail("a new section's header line would be longer than 255 bytes");
    return Fail(std::string("cannot write ") + file + ": " + std::strerror(error));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0))
        return Usage(stdout, 0);
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return Version();
    int arg = 1;
    const char* path = nullptr;  // the default profile
    if (arg + 1 < argc && std::strcmp(argv[arg], "-f") == 0) {
        path = argv[arg + 1];
        arg += 2;
    }
    const char* file = path != nullptr ? path : kDefaultProfile;  // for messages and checks
    const int operands = argc - arg - 1;
    if (operands == 2 && std::strcmp(argv[arg], "get") == 0)
        return Get(path, file, argv[arg + 1], argv[arg + 2]);
    if (operands == 3 && std::strcmp(argv[arg], "set") == 0)
        return Set(path, file, argv[arg + 1], argv[arg + 2], argv[arg + 3]);
    return Usage(stderr, 2);
}
