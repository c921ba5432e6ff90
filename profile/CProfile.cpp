#include "CProfile.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "CString.h"

namespace {

const char kDefaultProfile[] = "/etc/velonix/Tandel.rc";
const int kLineBufferSize = 257;
// The limit given to fgets: at most 255 bytes of text and the NUL.
const int kPieceLimit = 256;
// The longest line the format holds, line feed included.
const std::size_t kLongestLine = 255;

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

// Whether the `length` bytes at `text` are exactly `name` (`nameLength` bytes).
bool Matches(const char* text, std::size_t length, const char* name, std::size_t nameLength) {
    return length == nameLength && std::memcmp(text, name, length) == 0;
}

// Copies everything from `from`'s position to its end onto `to`, byte for byte
// (NULs included), through `chunk`. Adds the bytes copied to `*copied`.
bool CopyRest(FILE* from, FILE* to, char* chunk, std::size_t chunkSize, long* copied) {
    std::size_t got;
    while ((got = std::fread(chunk, 1, chunkSize, from)) > 0) {
        if (std::fwrite(chunk, 1, got, to) != got) return false;
        *copied += static_cast<long>(got);
    }
    return std::ferror(from) == 0;
}

// How much of the entry line at the stream's position a new line replaces:
// the whole line through its line feed, however long it is, but not a later
// piece of it that reads as a header line (one with "["): that header and its
// section stay. The position is kept.
long ReplacedLength(FILE* stream, char* piece) {
    const long start = std::ftell(stream);
    long end = start;
    while (std::fgets(piece, kPieceLimit, stream) != nullptr) {
        const long next = std::ftell(stream);
        if (end > start && std::strchr(piece, '[') != nullptr) break;
        const bool lineEnds = piece[next - end - 1] == '\n';
        end = next;
        if (lineEnds) break;
    }
    std::fseek(stream, start, SEEK_SET);
    return end - start;
}

// Whether the byte before the stream's position is something other than a
// line feed: text inserted there would join the line it ends.
bool FollowsAnOpenLine(FILE* stream) {
    const long position = std::ftell(stream);
    char before = '\n';
    return position > 0 && pread(fileno(stream), &before, 1, position - 1) == 1 && before != '\n';
}

}  // namespace

CProfile::CProfile() : m_pStream(nullptr), m_bSectionFound(false) { OpenFile(kDefaultProfile); }

CProfile::CProfile(const char* path) : m_pStream(nullptr), m_bSectionFound(false) {
    OpenFile(path);
}

CProfile::~CProfile() { CloseFile(); }

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

// Each piece is parsed where fgets put it, without a copy: the header's name
// and the entry's key are compared in place.
bool CProfile::FindEntry(const char* section, const char* key) {
    m_bSectionFound = false;
    char* line = m_LineBuf.GetBuf();
    if (m_pStream == nullptr || line == nullptr || section == nullptr || key == nullptr) return false;
    m_LineBuf.Zero(0);
    std::fseek(m_pStream, 0, SEEK_SET);
    const std::size_t sectionLength = std::strlen(section);
    const std::size_t keyLength = std::strlen(key);
    bool inSection = false;
    for (;;) {
        const long start = std::ftell(m_pStream);
        if (std::fgets(line, kPieceLimit, m_pStream) == nullptr) return false;
        if (const char* open = std::strchr(line, '[')) {
            if (inSection) {
                std::fseek(m_pStream, start, SEEK_SET);
                return false;
            }
            const char* name = open + 1;
            const char* close = std::strchr(name, ']');
            inSection = Matches(name, close != nullptr ? close - name : 0, section, sectionLength);
            m_bSectionFound = inSection;
        } else if (inSection) {
            const char* equals = std::strchr(line, '=');
            if (Matches(line, equals != nullptr ? equals - line : 0, key, keyLength)) {
                std::fseek(m_pStream, start, SEEK_SET);
                return true;
            }
        }
    }
}

void CProfile::GetProfile(const char* section, const char* key, CString& value) {
    if (!FindEntry(section, key)) {
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
    if (FindEntry(section, key)) {
        const char* line = m_LineBuf.GetBuf();
        const char* equals = std::strchr(line, '=');
        number = std::strtol(equals != nullptr ? equals + 1 : line, nullptr, 10);
    }
    // strtol's long is wider than int on 64-bit builds.
    *value = number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : static_cast<int>(number);
}

void CProfile::WriteProfile(const char* section, const char* key, const char* value) {
    if (value == nullptr) value = "";
    if (m_pStream == nullptr || __fwritable(m_pStream) == 0 || section == nullptr || key == nullptr)
        return;
    // What the format cannot hold would make entries unreachable or forge
    // sections: refused before the file is touched.
    if (std::strpbrk(key, "=[\n") != nullptr || std::strpbrk(value, "[\n") != nullptr ||
        std::strpbrk(section, "]\n") != nullptr ||
        std::strlen(key) + std::strlen(value) + 2 > kLongestLine)
        return;

    CString entry(key);
    entry += "=";
    entry += value;
    entry += "\n";
    if (FindEntry(section, key)) {
        InsertContent(entry, ReplacedLength(m_pStream, m_LineBuf.GetBuf()));
        return;
    }
    if (!m_bSectionFound && std::strlen(section) + 3 > kLongestLine) return;
    CString text(FollowsAnOpenLine(m_pStream) ? "\n" : "");
    if (!m_bSectionFound) {
        text += "[";
        text += section;
        text += "]\n";
    }
    text += entry;
    InsertContent(text, 0);
}

void CProfile::WriteProfile(const char* section, const char* key, int value) {
    CString text;
    text.Format("%d", value);
    WriteProfile(section, key, text);
}

// The old bytes from the position on, the replaced ones included, are saved
// before anything is written, so that a write that fails part way (a full
// disk) can put the old content back.
void CProfile::InsertContent(const char* text, unsigned long length) {
    if (m_pStream == nullptr || __fwritable(m_pStream) == 0 || text == nullptr) return;
    const long position = std::ftell(m_pStream);
    if (position < 0) return;
    FILE* saved = std::tmpfile();
    if (saved == nullptr) return;
    char* chunk = m_LineBuf.GetBuf();
    const std::size_t chunkSize = m_LineBuf.GetLength();
    m_LineBuf.Zero(0);

    long savedLength = 0;
    if (std::fseek(m_pStream, position, SEEK_SET) == 0 &&
        CopyRest(m_pStream, saved, chunk, chunkSize, &savedLength) && std::fflush(saved) == 0) {
        if (length > static_cast<unsigned long>(savedLength)) length = savedLength;
        const std::size_t textLength = std::strlen(text);
        long restored = 0;
        const bool written =
            std::fseek(m_pStream, position, SEEK_SET) == 0 &&
            std::fwrite(text, 1, textLength, m_pStream) == textLength &&
            std::fseek(saved, static_cast<long>(length), SEEK_SET) == 0 &&
            CopyRest(saved, m_pStream, chunk, chunkSize, &restored) &&
            std::fflush(m_pStream) == 0 &&
            ftruncate(fileno(m_pStream), std::ftell(m_pStream)) == 0;
        if (!written) {
            std::clearerr(m_pStream);
            std::rewind(saved);
            if (std::fseek(m_pStream, position, SEEK_SET) == 0 &&
                CopyRest(saved, m_pStream, chunk, chunkSize, &restored))
                std::fflush(m_pStream);
            ftruncate(fileno(m_pStream), position + savedLength);
            std::clearerr(m_pStream);
        }
    }
    std::fclose(saved);
}
