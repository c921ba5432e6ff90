#include "CProfile.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "CString.h"

namespace {

const char kDefaultProfile[] = "/etc/velonix/Tandel.rc";
const int kLineBufferSize = 257;
// Lines are read in pieces of at most this many bytes, as fgets with the
// limit 256 reads them; it is also the longest line the format holds.
const std::size_t kLongestLine = 255;
// Searches read the file in chunks of this size, on the stack.
const std::size_t kChunkSize = 4096;
// The most bytes of the file a write keeps in memory: the whole file when it
// fits, else the bytes from the write position on, else none (they go
// through a temporary file).
const off_t kLargestHeld = 1 << 20;

// What an object knows of its path, kept in the line buffer's block behind
// the line (the class's layout has no room for more members): the directory
// the path named at open, the last component, and the file the stream holds.
struct Follow {
    dev_t device;
    ino64_t inode;
    int directory;  // an O_PATH descriptor; -1 while there is no stream
    int openError;  // why there is no stream, or no writable one
    // 0 while the descriptor's offset is a position in the file the stream
    // holds (where FindEntry or the open left it); else why InsertContent
    // has none: EINVAL after a failed search, ESTALE once another file has
    // been opened in the old one's place.
    int positionError;
    char name[NAME_MAX + 1];
};
const std::size_t kFollowAt =
    (kLineBufferSize + alignof(Follow) - 1) / alignof(Follow) * alignof(Follow);
const int kBlockSize = static_cast<int>(kFollowAt + sizeof(Follow));

// Null only before the first block, which OpenFile allocates.
Follow* FollowOf(CStreamBuf& buffer) {
    char* block = buffer.GetBuf();
    return block != nullptr ? std::launder(reinterpret_cast<Follow*>(block + kFollowAt)) : nullptr;
}

// Opens the profile's file relative to its directory, for reading and
// writing. Only a file that does not exist is created (when `create` is set),
// never truncated, and with permission bits 0600 whatever the caller's
// file-creation mask; a file that may be read but not written is opened
// read-only. Records which file the stream holds. Null, errno set, on failure.
FILE* OpenIn(Follow& follow, bool create) {
    int readOnly = 0;
    const char* mode = "r+";
    int fd = openat(follow.directory, follow.name, O_RDWR);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        readOnly = errno;
        mode = "r";
        fd = openat(follow.directory, follow.name, O_RDONLY);
    } else if (fd < 0 && errno == ENOENT && create) {
        const mode_t callersMask = umask(077);
        fd = openat(follow.directory, follow.name, O_RDWR | O_CREAT, 0666);
        umask(callersMask);
    }
    if (fd < 0) return nullptr;
    struct stat64 status;
    FILE* stream = fstat64(fd, &status) == 0 ? fdopen(fd, mode) : nullptr;
    if (stream == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
        return nullptr;
    }
    follow.device = status.st_dev;
    follow.inode = status.st_ino;
    follow.openError = readOnly;
    return stream;
}

// Opens `path` as OpenIn does, through a descriptor of its directory that the
// object keeps: the path goes on naming the file it named at open, whatever
// the process's working directory becomes. Null, errno set, on failure.
FILE* OpenPath(const char* path, Follow& follow) {
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    const std::size_t length =
        slash == nullptr || slash == path ? 1 : static_cast<std::size_t>(slash - path);
    char directory[PATH_MAX];
    if (std::strlen(name) > NAME_MAX || length >= sizeof directory) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    std::memcpy(directory, slash != nullptr ? path : ".", length);
    directory[length] = '\0';
    // A path ending in "/" names a directory, which cannot be a profile.
    std::strcpy(follow.name, slash != nullptr && *name == '\0' ? "." : name);
    follow.directory = openat(AT_FDCWD, directory, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (follow.directory < 0) return nullptr;
    FILE* stream = OpenIn(follow, true);
    if (stream == nullptr) {
        const int error = errno;
        close(follow.directory);
        follow.directory = -1;
        errno = error;
    }
    return stream;
}

// An advisory lock on the whole file for the length of one operation. A file
// system that refuses locks is used unlocked.
class FileLock {
public:
    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Locks `fd`; whether the operation may go on (errno says why not).
    bool Take(int fd, int operation) {
        int result;
        while ((result = flock(fd, operation)) != 0 && errno == EINTR) {
        }
        m_fd = fd;
        m_bHeld = result == 0;
        return m_bHeld || errno == ENOLCK || errno == EOPNOTSUPP;
    }
    void Release() {
        if (m_bHeld) flock(m_fd, LOCK_UN);
        m_bHeld = false;
    }

private:
    int m_fd = -1;
    bool m_bHeld = false;
};

// What an operation does when the path names another file than the stream's.
enum class Moved {
    kFollow,          // lookups: open the file there now
    kFollowOrCreate,  // writes: the same, creating a file where there is none
    kRefuse,          // InsertContent: its position belongs to the old file
};

// Files replaced faster than an operation can open them end it after this many.
const int kMostReopenings = 8;

// Locks the file the path names now for one operation: the stream's, or the
// file that replaced it, opened in its place as OpenFile opens (the lock on
// the old one is dropped first). Locking before looking means that a program
// which replaces the file under an exclusive lock on the old one is waited
// for, then followed. Writes pass `size`, which gets the locked file's.
// Returns 0, or the errno value that stops the operation: ENOENT when the
// path names no file (and none is to be created).
int LockCurrent(FILE*& stream, Follow& follow, FileLock& lock, int operation, Moved moved,
                off_t* size) {
    for (int reopenings = 0;; ++reopenings) {
        const int fd = fileno(stream);
        if (!lock.Take(fd, operation)) return errno;
        struct stat64 named;
        bool missing = false;
        bool other = false;
        // A path that cannot be looked at (no search permission on the
        // directory any more, say) leaves the stream's file in use.
        if (fstatat64(follow.directory, follow.name, &named, 0) == 0)
            other = named.st_dev != follow.device || named.st_ino != follow.inode;
        else
            missing = other = errno == ENOENT;
        if (!other && size != nullptr) {
            // The large-file call: on 32-bit x86 the plain one fails for
            // inode numbers beyond 32 bits, which some file systems give.
            struct stat64 status;
            if (fstat64(fd, &status) != 0) return errno;
            *size = static_cast<off_t>(status.st_size);
            if (*size != status.st_size) return EOVERFLOW;
            other = status.st_nlink == 0;
        }
        if (!other) return 0;
        if (moved == Moved::kRefuse || (missing && moved == Moved::kFollow))
            return missing ? ENOENT : ESTALE;
        if (reopenings == kMostReopenings) return EAGAIN;
        lock.Release();
        FILE* current = OpenIn(follow, moved == Moved::kFollowOrCreate);
        if (current == nullptr) return errno;
        std::fclose(stream);
        stream = current;
        follow.positionError = ESTALE;
    }
}

// One piece of the file as the format reads it.
struct Piece {
    const char* data;
    std::size_t size;
    off_t offset;  // where it starts in the file
    char before;   // the byte before it; a line feed at the start of the file
};

// Reads a file from its start with pread, a chunk at a time, and cuts it into
// the pieces fgets with the limit 256 gives: at most 255 bytes, through a
// line feed. Every byte comes from the file as it is now, never from a buffer
// filled by an earlier operation.
class PieceReader {
public:
    // Reads into `chunk` (`size` bytes), and no further than `end` in the file.
    PieceReader(int fd, char* chunk, std::size_t size, off_t end)
        : m_fd(fd),
          m_pChunk(chunk),
          m_nSize(size),
          m_nEnd(end),
          m_nBase(0),
          m_nHave(0),
          m_nAt(0),
          m_cLast('\n'),
          m_bEnd(false),
          m_nError(0) {}

    // The next piece, which stays valid until the next call; false at the end
    // of the file and after a failed read.
    bool Next(Piece* piece) {
        while (!m_bEnd && m_nHave - m_nAt < kLongestLine &&
               std::memchr(m_pChunk + m_nAt, '\n', m_nHave - m_nAt) == nullptr)
            Refill();
        // As fgets, a failed read yields no piece, not the part before it.
        const std::size_t left = m_nHave - m_nAt;
        if (left == 0 || m_nError != 0) return false;
        const char* start = m_pChunk + m_nAt;
        const std::size_t limit = left < kLongestLine ? left : kLongestLine;
        const char* feed = static_cast<const char*>(std::memchr(start, '\n', limit));
        const std::size_t size =
            feed != nullptr ? static_cast<std::size_t>(feed - start) + 1 : limit;
        *piece = {start, size, m_nBase + static_cast<off_t>(m_nAt), m_cLast};
        m_cLast = start[size - 1];
        m_nAt += size;
        return true;
    }
    bool Failed() const { return m_nError != 0; }
    // The errno value of the failed read.
    int Error() const { return m_nError; }
    // Where the next piece starts.
    off_t Offset() const { return m_nBase + static_cast<off_t>(m_nAt); }
    // The last byte of the last piece; a line feed before the first.
    char Last() const { return m_cLast; }
    // The bytes from `offset` on that the chunk still holds: how many, and
    // where they are (left alone when the chunk has moved past `offset`).
    std::size_t Held(off_t offset, const char** data) const {
        if (offset < m_nBase || offset > m_nBase + static_cast<off_t>(m_nHave)) return 0;
        *data = m_pChunk + (offset - m_nBase);
        return m_nHave - static_cast<std::size_t>(offset - m_nBase);
    }

private:
    // Out of line, so that Next, called for every line, is inlined.
    __attribute__((noinline)) void Refill() {
        std::memmove(m_pChunk, m_pChunk + m_nAt, m_nHave - m_nAt);
        m_nBase += static_cast<off_t>(m_nAt);
        m_nHave -= m_nAt;
        m_nAt = 0;
        const off_t at = m_nBase + static_cast<off_t>(m_nHave);
        std::size_t space = m_nSize - m_nHave;
        if (m_nEnd - at < static_cast<off_t>(space)) space = static_cast<std::size_t>(m_nEnd - at);
        ssize_t got = 0;
        while (space > 0 && (got = pread(m_fd, m_pChunk + m_nHave, space, at)) < 0 &&
               errno == EINTR) {
        }
        if (got > 0) {
            m_nHave += static_cast<std::size_t>(got);
            return;
        }
        m_bEnd = true;
        if (got < 0) m_nError = errno;
    }

    int m_fd;
    char* m_pChunk;
    std::size_t m_nSize;
    off_t m_nEnd;
    off_t m_nBase;        // the file offset of the chunk's first byte
    std::size_t m_nHave;  // bytes in the chunk
    std::size_t m_nAt;    // where the next piece starts in the chunk
    char m_cLast;
    bool m_bEnd;
    int m_nError;
};

// What a search found, and where a write for the entry belongs: the entry
// line, or the next header line after the section, or the end of the file.
struct Outcome {
    bool found;
    bool sectionFound;
    off_t position;
    char before;  // the byte before `position`
    Piece entry;  // the entry line's first piece, when found
};

// Whether the `length` bytes at `text` are exactly `name` (`nameLength` bytes).
bool Matches(const char* text, std::size_t length, const char* name, std::size_t nameLength) {
    return length == nameLength && std::memcmp(text, name, length) == 0;
}

// The first `c` among the `length` bytes at `text`, or null.
const char* Find(const char* text, std::size_t length, char c) {
    return static_cast<const char*>(std::memchr(text, c, length));
}

// The "[" that makes a piece a header line, or null. Pieces are parsed up to
// their first NUL, as the string functions that read the format see them.
const char* HeaderOpen(const Piece& piece) {
    const char* open = Find(piece.data, piece.size, '[');
    if (open == nullptr) return nullptr;
    const std::size_t before = static_cast<std::size_t>(open - piece.data);
    return Find(piece.data, before, '\0') == nullptr ? open : nullptr;
}

// Whether an entry line's key, the text before its first "=" (empty without
// one), is `key`. A key of its own is compared without scanning the line:
// its bytes and then "=" (a key holding "=" is never a line's key).
bool HasKey(const Piece& line, const char* key, std::size_t keyLength, bool keyHoldsEquals) {
    if (keyLength == 0) {
        const char* equals = Find(line.data, strnlen(line.data, line.size), '=');
        return equals == nullptr || equals == line.data;
    }
    return !keyHoldsEquals && line.size > keyLength && line.data[keyLength] == '=' &&
           std::memcmp(line.data, key, keyLength) == 0;
}

// Each piece is parsed where the chunk holds it, without a copy.
Outcome Search(PieceReader& reader, const char* section, const char* key) {
    const std::size_t sectionLength = std::strlen(section);
    const std::size_t keyLength = std::strlen(key);
    const bool keyHoldsEquals = Find(key, keyLength, '=') != nullptr;
    Outcome outcome = {false, false, 0, '\n', {}};
    Piece piece;
    while (reader.Next(&piece)) {
        if (const char* open = HeaderOpen(piece)) {
            if (outcome.sectionFound) {
                outcome.position = piece.offset;
                outcome.before = piece.before;
                return outcome;
            }
            const char* name = open + 1;
            const char* close = Find(
                name, strnlen(name, static_cast<std::size_t>(piece.data + piece.size - name)), ']');
            outcome.sectionFound =
                Matches(name, close != nullptr ? static_cast<std::size_t>(close - name) : 0,
                        section, sectionLength);
        } else if (outcome.sectionFound && HasKey(piece, key, keyLength, keyHoldsEquals)) {
            outcome.found = true;
            outcome.position = piece.offset;
            outcome.entry = piece;
            return outcome;
        }
    }
    outcome.position = reader.Offset();
    outcome.before = reader.Last();
    return outcome;
}

// Searches under a shared lock and puts a found entry line into the line
// buffer. A search that is given no section or key, or that cannot lock, find
// the file its path names or read it, finds nothing and has no position (-1).
Outcome LookUp(FILE*& stream, CStreamBuf& buffer, const char* section, const char* key) {
    Outcome outcome = {false, false, -1, '\n', {}};
    Follow* follow = FollowOf(buffer);
    if (stream == nullptr || follow == nullptr || section == nullptr || key == nullptr)
        return outcome;
    FileLock lock;
    if (LockCurrent(stream, *follow, lock, LOCK_SH, Moved::kFollow, nullptr) != 0) return outcome;
    char chunk[kChunkSize];
    PieceReader reader(fileno(stream), chunk, sizeof chunk, std::numeric_limits<off_t>::max());
    outcome = Search(reader, section, key);
    if (reader.Failed()) outcome.position = -1;
    if (outcome.found) {
        char* line = buffer.GetBuf();
        std::memcpy(line, outcome.entry.data, outcome.entry.size);
        line[outcome.entry.size] = '\0';
    }
    return outcome;
}

// How much a new entry line replaces of the one the search found: the whole
// line through its line feed, however long it is, but not a later piece of it
// that reads as a header line: that header and its section stay.
std::size_t ReplacedLength(PieceReader& reader, const Piece& entry) {
    std::size_t length = entry.size;
    bool lineEnds = entry.data[entry.size - 1] == '\n';
    Piece piece;
    while (!lineEnds && reader.Next(&piece) && HeaderOpen(piece) == nullptr) {
        length += piece.size;
        lineEnds = piece.data[piece.size - 1] == '\n';
    }
    return length;
}

// The errno value of a write that wrote `written` of `wanted` bytes: 0 when
// it wrote them all; EIO when it was cut short without an error of its own.
int WriteError(ssize_t written, std::size_t wanted) {
    return written == static_cast<ssize_t>(wanted) ? 0 : written < 0 ? errno : EIO;
}

// Reads exactly `size` bytes at `offset`: 0, or the errno value of the
// failure (EIO when the file ends first).
int ReadAll(int fd, char* to, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t got = pread(fd, to, size, offset);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) continue;
            return got < 0 ? errno : EIO;
        }
        to += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return 0;
}

// Takes the result of a call that puts the old bytes back after a failed
// write: when that fails too, nothing is left to try.
void BestEffort(ssize_t) {}

// Copies `size` bytes from `from` at `fromOffset` to `to` at `toOffset`
// through `chunk`: 0, or the errno value of the failure.
int Copy(int from, off_t fromOffset, int to, off_t toOffset, off_t size, char* chunk) {
    while (size > 0) {
        const std::size_t part = static_cast<std::size_t>(
            size < static_cast<off_t>(kChunkSize) ? size : static_cast<off_t>(kChunkSize));
        int error = ReadAll(from, chunk, part, fromOffset);
        if (error == 0) error = WriteError(pwrite(to, chunk, part, toOffset), part);
        if (error != 0) return error;
        fromOffset += static_cast<off_t>(part);
        toOffset += static_cast<off_t>(part);
        size -= static_cast<off_t>(part);
    }
    return 0;
}

// Beyond the bound the bytes from the position on are saved to a temporary
// file, then the text and the kept bytes are written in pieces; a failure puts
// the saved bytes back.
int ReplaceThroughTemporaryFile(int fd, off_t position, off_t replaced, const char* text,
                                std::size_t length, off_t oldLength, char* chunk) {
    FILE* saved = std::tmpfile();
    if (saved == nullptr) return errno;
    const int copy = fileno(saved);
    int error = Copy(fd, position, copy, 0, oldLength, chunk);
    if (error == 0) {
        const off_t textLength = static_cast<off_t>(length);
        const off_t newLength = textLength + (oldLength - replaced);
        error = WriteError(pwrite(fd, text, length, position), length);
        if (error == 0)
            error = Copy(copy, replaced, fd, position + textLength, oldLength - replaced, chunk);
        if (error == 0 && newLength < oldLength && ftruncate(fd, position + newLength) != 0)
            error = errno;
        if (error != 0 && Copy(copy, 0, fd, position, oldLength, chunk) == 0)
            BestEffort(ftruncate(fd, position + oldLength));
    }
    std::fclose(saved);
    return error;
}

// Replaces the `replaced` bytes at `position` of the file, `size` bytes long,
// with `text` (`length` bytes) and keeps everything after them. `held` is what
// the caller has in memory of the file from `position` on (`heldLength`
// bytes). The file ends up the old one or the new one; in memory, the new
// bytes go out in one write, and the old ones are put back when it fails.
// Returns 0, or the errno value of the failure; a position past the end of
// the file (one that shrank since the search) gives EINVAL.
int Replace(int fd, off_t size, off_t position, std::size_t replaced, const char* text,
            std::size_t length, const char* held, std::size_t heldLength, char* chunk) {
    if (held != nullptr && length == replaced && heldLength >= replaced) {
        // The rest of the file keeps its place: only the changed line is written.
        if (std::memcmp(held, text, length) == 0) return 0;
        const ssize_t written = pwrite(fd, text, length, position);
        const int error = WriteError(written, length);
        if (written > 0 && error != 0)
            BestEffort(pwrite(fd, held, static_cast<std::size_t>(written), position));
        return error;
    }
    if (size < position) return EINVAL;
    const off_t oldLength = size - position;  // from the position to the end of the file
    if (replaced > static_cast<std::size_t>(oldLength))
        replaced = static_cast<std::size_t>(oldLength);
    if (oldLength > kLargestHeld)
        return ReplaceThroughTemporaryFile(fd, position, static_cast<off_t>(replaced), text, length,
                                           oldLength, chunk);

    const std::size_t tail = static_cast<std::size_t>(oldLength);  // within the bound
    std::unique_ptr<char[]> saved;
    if (heldLength < tail) {
        saved.reset(new (std::nothrow) char[tail]);
        if (saved == nullptr) return ENOMEM;
        if (heldLength > 0) std::memcpy(saved.get(), held, heldLength);
        if (const int error = ReadAll(fd, saved.get() + heldLength, tail - heldLength,
                                      position + static_cast<off_t>(heldLength)))
            return error;
        held = saved.get();
    }
    iovec parts[] = {{const_cast<char*>(text), length},
                     {const_cast<char*>(held) + replaced, tail - replaced}};
    const std::size_t newLength = length + (tail - replaced);
    const ssize_t written = pwritev(fd, parts, 2, position);
    int error = WriteError(written, newLength);
    // A file that grows needs no cut: the write reaches its new end.
    if (error == 0 && newLength < tail &&
        ftruncate(fd, position + static_cast<off_t>(newLength)) != 0)
        error = errno;
    if (error == 0 || written <= 0) return error;
    if (tail > 0) BestEffort(pwrite(fd, held, tail, position));
    if (written > oldLength) BestEffort(ftruncate(fd, position + oldLength));
    return error;
}

char* Append(char* to, const char* text, std::size_t length) {
    std::memcpy(to, text, length);
    return to + length;
}

// Why an object cannot write: its open's failure, or EBADF once closed.
int NoWritableStream(const Follow* follow) {
    return follow != nullptr ? follow->openError : EBADF;
}

// A file opened read-only is searched like any other: only a write that
// would change it reaches the descriptor, which refuses it (EBADF) before
// anything changes; the caller learns why the open gave no write access.
int Refusal(FILE* stream, const Follow& follow, int error) {
    return error == EBADF && __fwritable(stream) == 0 ? follow.openError : error;
}

// WriteProfile's work: 0 when the entry stands in the file as asked, else the
// errno value of what refused it. The search, the text and the write happen
// under one exclusive lock, so the write lands relative to the file as the
// search saw it.
int WriteEntry(FILE*& stream, CStreamBuf& buffer, bool& sectionFound, const char* section,
               const char* key, const char* value) {
    if (value == nullptr) value = "";
    if (section == nullptr || key == nullptr) return EINVAL;
    // What the format cannot hold would make entries unreachable or forge
    // sections: refused before the file is touched.
    const std::size_t sectionLength = std::strlen(section);
    const std::size_t keyLength = std::strlen(key);
    const std::size_t valueLength = std::strlen(value);
    if (std::strpbrk(key, "=[\n") != nullptr || std::strpbrk(value, "[\n") != nullptr ||
        std::strpbrk(section, "]\n") != nullptr || keyLength + valueLength + 2 > kLongestLine)
        return EINVAL;
    Follow* follow = FollowOf(buffer);
    if (stream == nullptr || follow == nullptr) return NoWritableStream(follow);

    FileLock lock;
    off_t size = 0;
    if (const int error =
            LockCurrent(stream, *follow, lock, LOCK_EX, Moved::kFollowOrCreate, &size))
        return error;
    const int fd = fileno(stream);
    // A file that fits the bound is read in one go: it is all needed anyway.
    char chunk[kChunkSize];
    std::unique_ptr<char[]> whole;
    if (size > static_cast<off_t>(sizeof chunk) && size <= kLargestHeld) {
        whole.reset(new (std::nothrow) char[static_cast<std::size_t>(size)]);
        if (whole == nullptr) return ENOMEM;
    }
    PieceReader reader(fd, whole != nullptr ? whole.get() : chunk,
                       whole != nullptr ? static_cast<std::size_t>(size) : sizeof chunk, size);
    const Outcome outcome = Search(reader, section, key);
    sectionFound = outcome.sectionFound;
    // A line feed to end an open last line, a header line and the entry line.
    char text[1 + 2 * kLongestLine];
    char* end = text;
    if (!outcome.found) {
        if (outcome.before != '\n') *end++ = '\n';
        if (!sectionFound) {
            if (sectionLength + 3 > kLongestLine) return EINVAL;
            end = Append(end, "[", 1);
            end = Append(end, section, sectionLength);
            end = Append(end, "]\n", 2);
        }
    }
    const char* line = end;
    end = Append(end, key, keyLength);
    end = Append(end, "=", 1);
    end = Append(end, value, valueLength);
    end = Append(end, "\n", 1);
    std::size_t replaced = 0;
    if (outcome.found) {
        // The entry as asked, as the file's last line only without the line
        // feed: nothing to write.
        const Piece& entry = outcome.entry;
        if (entry.size + 1 == static_cast<std::size_t>(end - line) &&
            outcome.position + static_cast<off_t>(entry.size) == size &&
            std::memcmp(entry.data, line, entry.size) == 0)
            return 0;
        replaced = ReplacedLength(reader, entry);
    }
    if (reader.Failed()) return reader.Error();
    const char* held = nullptr;
    const std::size_t heldLength = reader.Held(outcome.position, &held);
    return Refusal(stream, *follow,
                   Replace(fd, size, outcome.position, replaced, text,
                           static_cast<std::size_t>(end - text), held, heldLength, chunk));
}

// InsertContent's work: 0, or the errno value of what refused it. Its
// position belongs to the file the last search read: when the path names
// another file now, or none, nothing is written.
int Insert(FILE*& stream, CStreamBuf& buffer, const char* text, unsigned long length) {
    if (text == nullptr) return EINVAL;
    Follow* follow = FollowOf(buffer);
    if (stream == nullptr || follow == nullptr) return NoWritableStream(follow);
    FileLock lock;
    off_t size = 0;
    if (const int error = LockCurrent(stream, *follow, lock, LOCK_EX, Moved::kRefuse, &size))
        return error;
    if (follow->positionError != 0) return follow->positionError;
    const int fd = fileno(stream);
    const off_t position = lseek(fd, 0, SEEK_CUR);
    if (position < 0) return errno;
    char chunk[kChunkSize];
    return Refusal(stream, *follow,
                   Replace(fd, size, position, length, text, std::strlen(text), nullptr, 0, chunk));
}

}  // namespace

CProfile::CProfile() : m_pStream(nullptr), m_bSectionFound(false) {
    OpenFile(kDefaultProfile);
}

CProfile::CProfile(const char* path) : m_pStream(nullptr), m_bSectionFound(false) {
    OpenFile(path);
}

CProfile::~CProfile() {
    CloseFile();
}

void CProfile::OpenFile(const char* path) {
    CloseFile();
    m_bSectionFound = false;
    // Sized before the open, so that a refused buffer leaves no stream behind.
    m_LineBuf.AllocateBuf(kBlockSize);
    Follow* follow = new (m_LineBuf.GetBuf() + kFollowAt) Follow;
    follow->directory = -1;
    follow->openError = EFAULT;  // what open() says of a null path
    follow->positionError = 0;   // the start of the file
    if (path == nullptr) return;
    m_pStream = OpenPath(path, *follow);
    if (m_pStream == nullptr) follow->openError = errno;
}

void CProfile::CloseFile() {
    if (Follow* follow = FollowOf(m_LineBuf)) {
        if (follow->directory >= 0) close(follow->directory);
        follow->directory = -1;
        follow->openError = EBADF;
    }
    if (m_pStream == nullptr) return;
    std::fclose(m_pStream);
    m_pStream = nullptr;
}

// The descriptor's offset is the position InsertContent works at. A search
// that failed marks it as none, so that InsertContent refuses to write: a lost
// position must not read as the end of a section.
bool CProfile::FindEntry(const char* section, const char* key) {
    const Outcome outcome = LookUp(m_pStream, m_LineBuf, section, key);
    m_bSectionFound = outcome.sectionFound;
    if (m_pStream == nullptr) return false;
    const int fd = fileno(m_pStream);
    Follow* follow = FollowOf(m_LineBuf);
    if (outcome.position >= 0 && lseek(fd, outcome.position, SEEK_SET) == outcome.position) {
        follow->positionError = 0;
        return outcome.found;
    }
    follow->positionError = EINVAL;
    return false;
}

void CProfile::GetProfile(const char* section, const char* key, CString& value) {
    if (!LookUp(m_pStream, m_LineBuf, section, key).found) {
        value.Empty();
        return;
    }
    const char* line = m_LineBuf.GetBuf();
    const char* equals = std::strchr(line, '=');
    value = equals != nullptr ? equals + 1 : line;
    value.TrimRight('\n');
}

// Parsed straight from the line buffer: strtol stops at the line feed anyway.
void CProfile::GetProfile(const char* section, const char* key, int* value) {
    if (value == nullptr) return;
    long number = 0;
    if (LookUp(m_pStream, m_LineBuf, section, key).found) {
        const char* line = m_LineBuf.GetBuf();
        const char* equals = std::strchr(line, '=');
        number = std::strtol(equals != nullptr ? equals + 1 : line, nullptr, 10);
    }
    // strtol's long is wider than int on 64-bit builds.
    *value = number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : static_cast<int>(number);
}

// errno is set last, after every call the write made (the unlock included).
void CProfile::WriteProfile(const char* section, const char* key, const char* value) {
    const int error = WriteEntry(m_pStream, m_LineBuf, m_bSectionFound, section, key, value);
    errno = error;
}

void CProfile::WriteProfile(const char* section, const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    WriteProfile(section, key, text);
}

void CProfile::InsertContent(const char* text, unsigned long length) {
    const int error = Insert(m_pStream, m_LineBuf, text, length);
    errno = error;
}
