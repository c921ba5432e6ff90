#ifndef TANDEL_TESTS_TEMPDIR_H
#define TANDEL_TESTS_TEMPDIR_H

#include <ftw.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

// A fresh directory under /tmp, removed with everything in it when the object
// goes out of scope.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/tandel-test-XXXXXX";
        if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = name;
    }
    ~TempDir() {
        nftw(m_path.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); },
             16, FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // The path of `name` inside the directory.
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// The whole content of the file at `path` ("" when it cannot be read).
inline std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the content of the file at `path` by `bytes`.
inline void MakeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

#endif  // TANDEL_TESTS_TEMPDIR_H
