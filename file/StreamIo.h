#ifndef TANDEL_FILE_STREAMIO_H
#define TANDEL_FILE_STREAMIO_H

#include <cstdio>

// The stdio calls behind CFile::Read and CFile::Write. CArchive uses them on
// its file's stream directly, so that a record costs the caller one call into
// the library and one stdio call, nothing in between.

// A null stream is never handed to stdio, and a negative count would turn into
// a huge size_t and run past the buffer: both move nothing.
inline int ReadStream(std::FILE* stream, void* buffer, int count) {
    if (stream == nullptr || count <= 0) return 0;
    return static_cast<int>(std::fread(buffer, 1, static_cast<std::size_t>(count), stream));
}

inline int WriteStream(std::FILE* stream, const void* buffer, int count) {
    if (stream == nullptr || count <= 0) return 0;
    return static_cast<int>(std::fwrite(buffer, 1, static_cast<std::size_t>(count), stream));
}

#endif  // TANDEL_FILE_STREAMIO_H
