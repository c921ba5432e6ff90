#ifndef TANDEL_CFILE_H
#define TANDEL_CFILE_H

#include <sys/stat.h>

#include <cstdio>

#include "CObject.h"
#include "TandelExport.h"

// CFile holds the platform's own struct stat, and GetStatus hands it out. On
// 32-bit x86, large-file support gives a caller another layout under the same
// name, so the library's record would be read wrongly: such a caller is refused.
#if defined(__i386__) && defined(_FILE_OFFSET_BITS) && _FILE_OFFSET_BITS == 64
#error \
    "CFile.h: on 32-bit x86, -D_FILE_OFFSET_BITS=64 (and -D_TIME_BITS=64) change struct stat from the layout libtandel's CFile holds; compile the files that include CFile.h without them"
#endif

/// A buffered file: one stdio stream and a copy of the file's status record.
///
/// Every operation is one call of the matching stdio or POSIX function; the
/// stream does all the buffering. Failures are reported through results, never
/// thrown. Without an open stream the operations report failure (-1, or 0
/// bytes) and call nothing.
///
/// The class-wide operations work on paths without an object.
///
/// Not copyable: one stream has one owner, which closes it once.
///
/// Threads and processes: an object and its stdio stream are one thread's at
/// a time (the stream's own lock covers single stdio calls, not Open, Close or
/// the status record). The class-wide operations keep no state and may run in
/// any thread; XCreateDirectory prints each line with one call, so lines from
/// several threads do not mix within a line. `endl` is writable data shared
/// by the whole process. The descriptor is not closed on exec. After fork,
/// both processes share the file's offset, and bytes still waiting in the
/// stream's buffer are written by each of them: Flush before forking. Files
/// and directories are created under the process's file-creation mask, which
/// CProfile changes for a moment when it creates a profile.
class TANDEL_API CFile : public CObject {
public:
    /// No stream; the status record is all zero.
    CFile();
    /// Flushes and closes the stream, if any.
    virtual ~CFile();

    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    /// Opens `path`, closing the stream this object held first. Only the low
    /// three bits of `mode` count: 1 "w" (create or truncate, write only),
    /// 2 "w+" (create or truncate, read and write), 4 "a+" (create if missing,
    /// every write goes to the end), anything else "r" (read an existing file).
    /// Returns 1 when the stream was opened, else 0 (and IsValid is then 0).
    /// A null path fails.
    int Open(const char* path, int mode);
    /// 1 while a stream is open, else 0.
    int IsValid() const;
    /// The stream's byte offset (ftell), or -1 on failure or without a stream.
    long GetPosition() const;
    /// Refreshes the status record from the open file (fstat) and returns it.
    /// The record belongs to the object and keeps the last file's values until
    /// the next GetStatus or GetLength: Open and Close leave it alone, and a
    /// failing query (or no stream) leaves it as it was. It is the platform's
    /// plain struct stat: on 32-bit x86 a file compiled with
    /// -D_FILE_OFFSET_BITS=64 cannot include this header.
    struct stat* GetStatus();
    /// The file's size from the refreshed status record, or -1 without a
    /// stream. Bytes still waiting in the stream's buffer are not counted, so
    /// after a Write the length lags until Flush or Close.
    long GetLength();
    /// Moves the stream by `offset` from the current position (origin 2), from
    /// the end (origin 4) or from the start (any other origin). Returns 0, or
    /// -1 on failure (the stream stays usable) or without a stream.
    int Seek(long offset, int origin);
    /// Reads up to `count` bytes into `buffer`. Returns the number read: fewer
    /// at end of file or on an error; 0 for a count of 0 or less.
    int Read(void* buffer, int count);
    /// Writes `count` bytes from `buffer`. Returns the number written; 0 for a
    /// count of 0 or less.
    int Write(const void* buffer, int count);
    /// Flushes the stream's buffer: 0 on success, -1 on failure or without a
    /// stream.
    int Flush();
    /// Flushes and closes the stream. Does nothing without one.
    void Close();

    /// 1 when `path` exists. A final symbolic link is not followed, so a
    /// dangling link exists. 0 when the status query fails with ENOENT,
    /// EACCES, ENOTDIR or ENAMETOOLONG (or the path is null); any other
    /// failure, such as a loop of links, counts as existing.
    static int IsExistent(const char* path);
    /// 1 when rename() succeeded, else 0.
    static int Rename(const char* oldPath, const char* newPath);
    /// 1 when remove() deleted the file or empty directory, else 0.
    static int Remove(const char* path);
    /// Creates every level of the directory `path`, shallowest first, with
    /// permissions 0755 (less the file-creation mask). Prints one line per
    /// level to standard output: "create directory: <prefix>/" or
    /// "failed to create directory: <prefix>/ with errno: <n>" (a level that
    /// already exists fails with 17), and carries on past failures. Empty
    /// components are skipped. Returns 1 whatever was created; 0, with nothing
    /// created or printed, for an empty or null path or when memory for the
    /// path's working copy cannot be had. Throws nothing.
    static int XCreateDirectory(const char* path);

    /// The line-feed character (10), for callers; the library does not use it.
    static char endl;

private:
    friend class CArchive;  // moves its records on the stream without a further call

    FILE* m_pStream;
    struct stat m_Status;
};

#endif  // TANDEL_CFILE_H
