#include "CFile.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "StreamIo.h"

char CFile::endl = 10;

namespace {

// Stream modes by the low three bits of Open's mode argument.
const char* const kStreamModes[8] = {"r", "w", "w+", "r", "a+", "r", "r", "r"};

int Whence(int origin) {
    switch (origin) {
        case 2:
            return SEEK_CUR;
        case 4:
            return SEEK_END;
        default:
            return SEEK_SET;
    }
}

}  // namespace

CFile::CFile() : m_pStream(nullptr), m_Status() {}

CFile::~CFile() {
    Close();
}

int CFile::Open(const char* path, int mode) {
    Close();  // the stream held before would otherwise leak, unflushed
    if (path == nullptr) return 0;
    m_pStream = std::fopen(path, kStreamModes[mode & 7]);
    return m_pStream != nullptr ? 1 : 0;
}

int CFile::IsValid() const {
    return m_pStream != nullptr ? 1 : 0;
}

long CFile::GetPosition() const {
    return m_pStream != nullptr ? std::ftell(m_pStream) : -1;
}

struct stat* CFile::GetStatus() {
    // A failed query leaves the record as it was.
    if (m_pStream != nullptr) fstat(fileno(m_pStream), &m_Status);
    return &m_Status;
}

long CFile::GetLength() {
    if (m_pStream == nullptr) return -1;
    return GetStatus()->st_size;
}

int CFile::Seek(long offset, int origin) {
    return m_pStream != nullptr ? std::fseek(m_pStream, offset, Whence(origin)) : -1;
}

int CFile::Read(void* buffer, int count) {
    return ReadStream(m_pStream, buffer, count);
}

int CFile::Write(const void* buffer, int count) {
    return WriteStream(m_pStream, buffer, count);
}

// fflush of a null stream would flush every stream of the process.
int CFile::Flush() {
    return m_pStream != nullptr ? std::fflush(m_pStream) : -1;
}

void CFile::Close() {
    if (m_pStream == nullptr) return;
    Flush();
    std::fclose(m_pStream);
    m_pStream = nullptr;
}

int CFile::IsExistent(const char* path) {
    if (path == nullptr) return 0;
    struct stat status;
    if (lstat(path, &status) == 0) return 1;
    switch (errno) {
        case ENOENT:
        case EACCES:
        case ENOTDIR:
        case ENAMETOOLONG:
            return 0;
        default:
            return 1;  // ELOOP and the like: something is there
    }
}

int CFile::Rename(const char* oldPath, const char* newPath) {
    if (oldPath == nullptr || newPath == nullptr) return 0;
    return std::rename(oldPath, newPath) == 0 ? 1 : 0;
}

int CFile::Remove(const char* path) {
    if (path == nullptr) return 0;
    return std::remove(path) == 0 ? 1 : 0;
}

int CFile::XCreateDirectory(const char* path) {
    if (path == nullptr || *path == '\0') return 0;
    const std::size_t length = std::strlen(path);
    // The prefix grows component by component, each followed by a slash: at
    // most one byte more than the path, plus the terminator.
    std::unique_ptr<char[]> prefix(new (std::nothrow) char[length + 2]);
    if (!prefix) return 0;  // nothing is thrown, and nothing was created
    std::size_t end = 0;
    if (path[0] == '/') prefix[end++] = '/';
    for (const char* p = path; *p != '\0';) {
        if (*p == '/') {
            ++p;
            continue;
        }
        const std::size_t size = std::strcspn(p, "/");
        std::memcpy(&prefix[end], p, size);
        end += size;
        prefix[end++] = '/';
        prefix[end] = '\0';
        p += size;
        if (mkdir(prefix.get(), 0755) == 0)
            std::printf("create directory: %s\n", prefix.get());
        else
            std::printf("failed to create directory: %s with errno: %d\n", prefix.get(), errno);
    }
    return 1;
}
