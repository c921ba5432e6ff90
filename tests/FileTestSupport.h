#ifndef TANDEL_TESTS_FILETESTSUPPORT_H
#define TANDEL_TESTS_FILETESTSUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

// Helpers for the file and archive tests.

// A fresh directory under /tmp, removed with everything in it at the end of the scope.
struct TempDir {
    char path[24] = "/tmp/tandel-test-XXXXXX";
    TempDir() { EXPECT_NE(mkdtemp(path), nullptr); }
    ~TempDir() { EXPECT_EQ(std::system(("rm -rf " + File("")).c_str()), 0); }
    std::string File(const std::string& name) const { return std::string(path) + "/" + name; }
};

inline std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void MakeFile(const std::string& path, const std::string& bytes) { std::ofstream(path) << bytes; }

#endif  // TANDEL_TESTS_FILETESTSUPPORT_H
