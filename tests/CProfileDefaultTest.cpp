// The default profile, read without touching /etc: this executable stands in
// for the C library's fopen, so the library's calls land here. The default
// path gets a stream on a temporary file holding `g_defaultContent` (or fails
// as a missing file when that is null); every other path goes to the real fopen.
#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "CProfile.h"
#include "CString.h"

namespace {

const char kDefaultProfile[] = "/etc/velonix/Tandel.rc";
const char* g_defaultContent = nullptr;
std::string g_openedMode;

}  // namespace

extern "C" FILE* fopen(const char* path, const char* mode) {
    using Fopen = FILE* (*)(const char*, const char*);
    static const Fopen real = reinterpret_cast<Fopen>(dlsym(RTLD_NEXT, "fopen"));
    if (path == nullptr || std::strcmp(path, kDefaultProfile) != 0) return real(path, mode);
    g_openedMode = mode;
    if (g_defaultContent == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    FILE* stream = std::tmpfile();
    std::fputs(g_defaultContent, stream);
    std::rewind(stream);
    return stream;
}

TEST(CProfileDefaultTest, TheDefaultConstructorOpensTandelRcForReadingAndWriting) {
    g_defaultContent = "[server]\nport=8080\n";
    CProfile profile;
    EXPECT_EQ(g_openedMode, "r+");
    int port = 0;
    profile.GetProfile("server", "port", &port);
    EXPECT_EQ(port, 8080);
}

TEST(CProfileDefaultTest, WithoutItsDirectoryTheDefaultProfileIsNeitherFoundNorCreated) {
    if (access("/etc/velonix", F_OK) == 0) GTEST_SKIP() << "this machine has /etc/velonix";
    g_defaultContent = nullptr;
    CProfile profile;  // the creating open fails too: no directory is made
    CString value("stale");
    profile.GetProfile("server", "port", value);
    EXPECT_STREQ(value.GetBuffer(), "");
    profile.WriteProfile("server", "port", "1");
    EXPECT_NE(access(kDefaultProfile, F_OK), 0);
}
