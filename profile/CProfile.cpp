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

// Opens `path` for reading and writing. Only a file that does not exist is
// created, never truncated, and with permission bits 0600 whatever the
// caller's file-creation mask; a file that may be read but not written is
// opened read-only.
FILE* OpenProfile(const char* path) {
    if (FILE* stream = std::fopen(path, "r+")) return stream;
    if (errno == EACCES || errno == EROFS) return std::fopen(path, "r");
    if (errno != ENOENT) return nullptr;
    const mode_t callersMask = umask(077);
    const int fd = open(path, O_RDWR | O_CREAT, 0666);
    umask(callersMask);
    if (fd < 0) return nullptr;
    FILE* stream = fdopen(fd, "r+");
    if (stream == nullptr) close(fd);
    return stream;
}

// An advisory lock on the whole file for the length of one operation. A file
// system that refuses locks is used unlocked.
class FileLock {
public:
    FileLock(int fd, int operation) : m_fd(fd) {
        int result;
        while ((result = flock(fd, operation)) != 0 && errno == EINTR) {
        }
        m_bHeld = result == 0;
        m_bUsable = m_bHeld || errno == ENOLCK || errno == EOPNOTSUPP;
    }
    ~FileLock() {
        if (m_bHeld) flock(m_fd, LOCK_UN);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Whether the operation may go on.
    bool Usable() const { return m_bUsable; }

private:
    int m_fd;
    bool m_bHeld;
    bool m_bUsable;
};

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
          m_bFailed(false) {}

    // The next piece, which stays valid until the next call; false at the end
    // of the file and after a failed read.
    bool Next(Piece* piece) {
        while (!m_bEnd && m_nHave - m_nAt < kLongestLine &&
               std::memchr(m_pChunk + m_nAt, '\n', m_nHave - m_nAt) == nullptr)
            Refill();
        // As fgets, a failed read yields no piece, not the part before it.
        const std::size_t left = m_nHave - m_nAt;
        if (left == 0 || m_bFailed) return false;
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
    bool Failed() const { return m_bFailed; }
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
        m_bFailed = got < 0;
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
    bool m_bFailed;
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

// Searches under a shared lock and puts a found entry line into `line`. A
// search that cannot lock or read finds nothing and has no position (-1).
Outcome LookUp(FILE* stream, char* line, const char* section, const char* key) {
    Outcome outcome = {false, false, 0, '\n', {}};
    if (stream == nullptr || line == nullptr || section == nullptr || key == nullptr)
        return outcome;
    const int fd = fileno(stream);
    const FileLock lock(fd, LOCK_SH);
    if (!lock.Usable()) {
        outcome.position = -1;
        return outcome;
    }
    char chunk[kChunkSize];
    PieceReader reader(fd, chunk, sizeof chunk, std::numeric_limits<off_t>::max());
    outcome = Search(reader, section, key);
    if (reader.Failed()) outcome.position = -1;
    if (outcome.found) {
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

// Reads exactly `size` bytes at `offset`.
bool ReadAll(int fd, char* to, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t got = pread(fd, to, size, offset);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) continue;
            return false;
        }
        to += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

// Takes the result of a call that puts the old bytes back after a failed
// write: when that fails too, nothing is left to try.
void BestEffort(ssize_t) {}

// Copies `size` bytes from `from` at `fromOffset` to `to` at `toOffset`
// through `chunk`.
bool Copy(int from, off_t fromOffset, int to, off_t toOffset, off_t size, char* chunk) {
    while (size > 0) {
        const off_t part =
            size < static_cast<off_t>(kChunkSize) ? size : static_cast<off_t>(kChunkSize);
        if (!ReadAll(from, chunk, static_cast<std::size_t>(part), fromOffset) ||
            pwrite(to, chunk, static_cast<std::size_t>(part), toOffset) != part)
            return false;
        fromOffset += part;
        toOffset += part;
        size -= part;
    }
    return true;
}

// Beyond the bound the bytes from the position on are saved to a temporary
// file, then the text and the kept bytes are written in pieces; a failure puts
// the saved bytes back.
void ReplaceThroughTemporaryFile(int fd, off_t position, off_t replaced, const char* text,
                                 std::size_t length, off_t oldLength, char* chunk) {
    FILE* saved = std::tmpfile();
    if (saved == nullptr) return;
    const int copy = fileno(saved);
    if (Copy(fd, position, copy, 0, oldLength, chunk)) {
        const off_t textLength = static_cast<off_t>(length);
        const off_t newLength = textLength + (oldLength - replaced);
        const bool written =
            pwrite(fd, text, length, position) == static_cast<ssize_t>(length) &&
            Copy(copy, replaced, fd, position + textLength, oldLength - replaced, chunk) &&
            (newLength >= oldLength || ftruncate(fd, position + newLength) == 0);
        if (!written && Copy(copy, 0, fd, position, oldLength, chunk))
            BestEffort(ftruncate(fd, position + oldLength));
    }
    std::fclose(saved);
}

// Replaces the `replaced` bytes at `position` of the file, `size` bytes long,
// with `text` (`length` bytes) and keeps everything after them. `held` is what
// the caller has in memory of the file from `position` on (`heldLength`
// bytes). The file ends up the old one or the new one; in memory, the new
// bytes go out in one write, and the old ones are put back when it fails.
void Replace(int fd, off_t size, off_t position, std::size_t replaced, const char* text,
             std::size_t length, const char* held, std::size_t heldLength, char* chunk) {
    if (held != nullptr && length == replaced && heldLength >= replaced) {
        // The rest of the file keeps its place: only the changed line is written.
        if (std::memcmp(held, text, length) == 0) return;
        const ssize_t written = pwrite(fd, text, length, position);
        if (written > 0 && written != static_cast<ssize_t>(length))
            BestEffort(pwrite(fd, held, static_cast<std::size_t>(written), position));
        return;
    }
    if (size < position) return;
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
        if (saved == nullptr) return;
        if (heldLength > 0) std::memcpy(saved.get(), held, heldLength);
        if (!ReadAll(fd, saved.get() + heldLength, tail - heldLength,
                     position + static_cast<off_t>(heldLength)))
            return;
        held = saved.get();
    }
    iovec parts[] = {{const_cast<char*>(text), length},
                     {const_cast<char*>(held) + replaced, tail - replaced}};
    const std::size_t newLength = length + (tail - replaced);
    const ssize_t written = pwritev(fd, parts, 2, position);
    // A file that grows needs no cut: the write reaches its new end.
    if (written == static_cast<ssize_t>(newLength) &&
        (newLength >= tail || ftruncate(fd, position + static_cast<off_t>(newLength)) == 0))
        return;
    if (written <= 0) return;
    if (tail > 0) BestEffort(pwrite(fd, held, tail, position));
    if (written > oldLength) BestEffort(ftruncate(fd, position + oldLength));
}

char* Append(char* to, const char* text, std::size_t length) {
    std::memcpy(to, text, length);
    return to + length;
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
    m_LineBuf.AllocateBuf(kLineBufferSize);
    if (path != nullptr) m_pStream = OpenProfile(path);
}

void CProfile::CloseFile() {
    if (m_pStream == nullptr) return;
    std::fclose(m_pStream);
    m_pStream = nullptr;
}

// The descriptor's offset is the position InsertContent works at. A search
// that failed leaves it past the end of the file, where InsertContent refuses
// to write: a lost position must not read as the end of a section.
bool CProfile::FindEntry(const char* section, const char* key) {
    const Outcome outcome = LookUp(m_pStream, m_LineBuf.GetBuf(), section, key);
    m_bSectionFound = outcome.sectionFound;
    if (m_pStream == nullptr) return false;
    const int fd = fileno(m_pStream);
    if (outcome.position >= 0 && lseek(fd, outcome.position, SEEK_SET) == outcome.position)
        return outcome.found;
    lseek(fd, 1, SEEK_END);
    return false;
}

void CProfile::GetProfile(const char* section, const char* key, CString& value) {
    if (!LookUp(m_pStream, m_LineBuf.GetBuf(), section, key).found) {
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
    if (LookUp(m_pStream, m_LineBuf.GetBuf(), section, key).found) {
        const char* line = m_LineBuf.GetBuf();
        const char* equals = std::strchr(line, '=');
        number = std::strtol(equals != nullptr ? equals + 1 : line, nullptr, 10);
    }
    // strtol's long is wider than int on 64-bit builds.
    *value = number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : static_cast<int>(number);
}

// The search, the text and the write happen under one exclusive lock, so the
// write lands relative to the file as the search saw it.
void CProfile::WriteProfile(const char* section, const char* key, const char* value) {
    if (value == nullptr) value = "";
    if (m_pStream == nullptr || __fwritable(m_pStream) == 0 || section == nullptr || key == nullptr)
        return;
    // What the format cannot hold would make entries unreachable or forge
    // sections: refused before the file is touched.
    const std::size_t sectionLength = std::strlen(section);
    const std::size_t keyLength = std::strlen(key);
    const std::size_t valueLength = std::strlen(value);
    if (std::strpbrk(key, "=[\n") != nullptr || std::strpbrk(value, "[\n") != nullptr ||
        std::strpbrk(section, "]\n") != nullptr || keyLength + valueLength + 2 > kLongestLine)
        return;

    const int fd = fileno(m_pStream);
    const FileLock lock(fd, LOCK_EX);
    struct stat status;
    if (!lock.Usable() || fstat(fd, &status) != 0) return;
    // A file that fits the bound is read in one go: it is all needed anyway.
    char chunk[kChunkSize];
    std::unique_ptr<char[]> whole;
    if (status.st_size > static_cast<off_t>(sizeof chunk) && status.st_size <= kLargestHeld) {
        whole.reset(new (std::nothrow) char[static_cast<std::size_t>(status.st_size)]);
        if (whole == nullptr) return;
    }
    PieceReader reader(fd, whole != nullptr ? whole.get() : chunk,
                       whole != nullptr ? static_cast<std::size_t>(status.st_size) : sizeof chunk,
                       status.st_size);
    const Outcome outcome = Search(reader, section, key);
    m_bSectionFound = outcome.sectionFound;
    // A line feed to end an open last line, a header line and the entry line.
    char text[1 + 2 * kLongestLine];
    char* end = text;
    std::size_t replaced = 0;
    if (outcome.found) {
        replaced = ReplacedLength(reader, outcome.entry);
    } else {
        if (outcome.before != '\n') *end++ = '\n';
        if (!m_bSectionFound) {
            if (sectionLength + 3 > kLongestLine) return;
            end = Append(end, "[", 1);
            end = Append(end, section, sectionLength);
            end = Append(end, "]\n", 2);
        }
    }
    if (reader.Failed()) return;
    end = Append(end, key, keyLength);
    end = Append(end, "=", 1);
    end = Append(end, value, valueLength);
    end = Append(end, "\n", 1);
    const char* held = nullptr;
    const std::size_t heldLength = reader.Held(outcome.position, &held);
    Replace(fd, status.st_size, outcome.position, replaced, text,
            static_cast<std::size_t>(end - text), held, heldLength, chunk);
}

void CProfile::WriteProfile(const char* section, const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    WriteProfile(section, key, text);
}

void CProfile::InsertContent(const char* text, unsigned long length) {
    if (m_pStream == nullptr || __fwritable(m_pStream) == 0 || text == nullptr) return;
    const int fd = fileno(m_pStream);
    const FileLock lock(fd, LOCK_EX);
    if (!lock.Usable()) return;
    const off_t position = lseek(fd, 0, SEEK_CUR);
    struct stat status;
    if (position < 0 || fstat(fd, &status) != 0) return;
    char chunk[kChunkSize];
    Replace(fd, status.st_size, position, length, text, std::strlen(text), nullptr, 0, chunk);
}
