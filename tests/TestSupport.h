#ifndef TANDEL_TESTS_TESTSUPPORT_H
#define TANDEL_TESTS_TESTSUPPORT_H

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
#include "PlatformSeam.h"

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

inline bool OnPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null").c_str()) == 0;
}

#endif  // TANDEL_TESTS_TESTSUPPORT_H
