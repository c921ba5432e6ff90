#include "CString.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>

namespace {

// What a string reads as when it never obtained a block. Nothing writes to it:
// every write into a string is bounded by its block size, which is then 0.
char g_noBlockText[1];

// Texts are measured up to this bound: anything longer cannot be held by any
// block, and stopping there keeps the arithmetic on lengths far from overflow.
const int kLongestText = CStreamBuf::kMaxSize;

// The most characters a fresh block can take (BlockSize(65503) == 65536).
const int kLongestContent = 65503;

// Format writes exactly what the C library's vsnprintf writes, whatever the
// build's flags. Under _FORTIFY_SOURCE a direct call becomes the checked
// variant, which ends the process on a "%n" in a format held in writable memory
// and on positional directives that skip an argument. Through this pointer the
// call reaches the plain function: being volatile, it cannot be folded back
// into a direct call. One load, next to formatting a text.
int (*volatile const g_plainVsnprintf)(char*, std::size_t, const char*, va_list) = &std::vsnprintf;

// A null text counts as the empty text.
int TextLength(const char* text) {
    if (text == nullptr) return 0;
    const std::size_t length = std::strlen(text);
    return length < static_cast<std::size_t>(kLongestText) ? static_cast<int>(length)
                                                           : kLongestText;
}

// Case-blind equality of `length` bytes, byte by byte through toupper.
bool EqualAfterToUpper(const char* ours, const char* theirs, int length) {
#ifdef __GLIBC__
    // The locale's tables, looked up once per comparison instead of per byte.
    const std::int32_t* upper = *__ctype_toupper_loc();
    // Locale tables keep their address for the life of the process, so the
    // verdict on a table is remembered by its address.
    static std::atomic<const std::int32_t*> asciiTable{nullptr};
    static std::atomic<const std::int32_t*> otherTable{nullptr};
    bool asciiOnly = upper == asciiTable.load(std::memory_order_relaxed);
    if (!asciiOnly && upper != otherTable.load(std::memory_order_relaxed)) {
        const std::int32_t* lower = *__ctype_tolower_loc();
        asciiOnly = true;
        for (int c = 0; c < 256 && asciiOnly; ++c) {
            asciiOnly = upper[c] == (c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c) &&
                        lower[c] == (c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        (asciiOnly ? asciiTable : otherTable).store(upper, std::memory_order_relaxed);
    }
    // With plain ASCII case ("C", "POSIX", and single bytes in UTF-8 locales)
    // the C library's vectorised comparison gives exactly the same answer.
    if (asciiOnly) return strncasecmp(ours, theirs, static_cast<std::size_t>(length)) == 0;
#endif
    for (int i = 0; i < length; ++i) {
        const unsigned char a = static_cast<unsigned char>(ours[i]);
        const unsigned char b = static_cast<unsigned char>(theirs[i]);
        if (a == b) continue;
#ifdef __GLIBC__
        if (a == 0 || upper[a] != upper[b]) return false;
#else
        if (a == 0 || std::toupper(a) != std::toupper(b)) return false;
#endif
    }
    return true;
}

// Every digit run followed by '$' selects an argument by position; such
// formats are not measured argument by argument.
bool SkipDigits(const char*& p) {
    while (*p >= '0' && *p <= '9') ++p;
    return *p == '$';
}

bool Inside(const char* p, const char* blockStart, const char* blockEnd) {
    return p != nullptr && p >= blockStart && p < blockEnd;
}

// What formatting needs to know of its arguments before it writes.
struct FormatArguments {
    int plainStringLengths = 0;  // the texts of the plain "%s" directives
    bool inBlock = false;        // a string or %n argument lies inside the given block
    bool told = true;            // every argument was told; false past a directive that is not
};

// Walks the directives of `format`, reading every argument with the type its
// own directive gives it, as vsprintf will. Stops at the first positional
// directive and at a conversion it does not know, whose arguments it cannot
// tell: what follows is neither measured nor looked at.
FormatArguments ReadArguments(const char* format, va_list args, const char* blockStart,
                              const char* blockEnd) {
    FormatArguments found;
    va_list ap;
    va_copy(ap, args);
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') continue;
        const char* start = p++;
        while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0' || *p == '\'' ||
               *p == 'I')
            ++p;
        if (*p == '*') {
            ++p;
            found.told = !SkipDigits(p);
            if (found.told) (void)va_arg(ap, int);
        } else if (SkipDigits(p)) {
            found.told = false;
        }
        if (!found.told) break;
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                ++p;
                found.told = !SkipDigits(p);
                if (found.told) (void)va_arg(ap, int);
            } else {
                SkipDigits(p);
            }
        }
        if (!found.told) break;
        char size = 0;  // 'l' long, 'L' long long or long double, 'j' intmax_t, 'z' size_t
        for (;; ++p) {
            if (*p == 'h') continue;
            if (*p == 'l') {
                size = size == 'l' ? 'L' : 'l';
                continue;
            }
            if (*p == 'q' || *p == 'L') {
                size = 'L';
                continue;
            }
            if (*p == 'j') {
                size = 'j';
                continue;
            }
            if (*p == 'z' || *p == 'Z' || *p == 't') {
                size = 'z';
                continue;
            }
            break;
        }
        switch (*p) {
            case 'd':
            case 'i':
            case 'o':
            case 'u':
            case 'x':
            case 'X':
            case 'b':
            case 'B':
                if (size == 'L')
                    (void)va_arg(ap, long long);
                else if (size == 'l')
                    (void)va_arg(ap, long);
                else if (size == 'j')
                    (void)va_arg(ap, intmax_t);
                else if (size == 'z')
                    (void)va_arg(ap, size_t);
                else
                    (void)va_arg(ap, int);
                break;
            case 'c':
            case 'C':
                (void)va_arg(ap, int);  // wint_t is promoted like int
                break;
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                if (size == 'L')
                    (void)va_arg(ap, long double);
                else
                    (void)va_arg(ap, double);
                break;
            case 's':
            case 'S': {
                const char* text = va_arg(ap, const char*);
                if (Inside(text, blockStart, blockEnd)) found.inBlock = true;
                if (*p == 's' && p == start + 1)
                    found.plainStringLengths =
                        std::min(found.plainStringLengths + TextLength(text), kLongestText);
                break;
            }
            case 'n':  // writes its count there
                if (Inside(static_cast<const char*>(va_arg(ap, void*)), blockStart, blockEnd))
                    found.inBlock = true;
                break;
            case 'p':
                (void)va_arg(ap, void*);
                break;
            case '%':
            case 'm':
                break;
            case '\0':
                --p;  // a '%' ending the format: let the loop see the end
                break;
            default:
                found.told = false;
        }
        if (!found.told) break;
    }
    va_end(ap);
    return found;
}

// The size the formatted text is expected to take, walked character by
// character: a plain character counts 1; a '%' counts nothing and the
// character after it decides: 'd' adds 4, 'c' adds 1, 's' the length of its
// argument (which the caller adds, from ReadArguments: only a "%s" that
// vsprintf reads as a directive has one; the one in "%%s" is literal text),
// anything else (and the end of the format) 10; that character then counts 1
// itself, except a '%', which starts another directive. So "%d" reserves 5,
// "%c" 2, "%s" its text's length plus 1.
int EstimateFromFormat(const char* format) {
    int estimate = 0;
    for (const char* p = format; *p != '\0';) {
        if (estimate >= kLongestText) return kLongestText;
        if (*p != '%') {
            ++estimate;
            ++p;
            continue;
        }
        const char next = p[1];
        if (next == 'd')
            estimate += 4;
        else if (next == 'c')
            estimate += 1;
        else if (next != 's')
            estimate += 10;
        if (next == '\0') break;
        if (next == '%') {
            ++p;
            continue;
        }
        ++estimate;
        p += 2;
    }
    return estimate < kLongestText ? estimate : kLongestText;
}

// The first occurrence of `text` among the `length` characters at `chars`,
// but only before their first NUL, as strstr sees them: candidates come from
// memchr on the first byte, which is faster than strstr on ordinary text.
char* SearchText(char* chars, int length, const char* text) {
    const std::size_t needed = std::strlen(text);
    const std::size_t available = static_cast<std::size_t>(length);
    if (needed == 0) return chars;
    if (needed > available) return nullptr;
    char* const lastStart = chars + (available - needed);
    for (char* at = chars; at <= lastStart; ++at) {
        at = static_cast<char*>(
            std::memchr(at, text[0], static_cast<std::size_t>(lastStart - at) + 1));
        if (at == nullptr) return nullptr;
        if (std::memcmp(at + 1, text + 1, needed - 1) != 0) continue;
        const std::size_t before = static_cast<std::size_t>(at - chars);
        return std::memchr(chars, '\0', before) == nullptr ? at : nullptr;
    }
    return nullptr;
}

}  // namespace

int CString::BlockSize(int length) {
    return length <= 0 ? 32 : (length & ~31) + 64;
}

void CString::AllocateBuffer(int length, const char* source) {
    CStreamBuf fresh;
    try {
        fresh.AllocateBuf(BlockSize(length));
    } catch (...) {
        // Refused: go on with the block the string has, if the content fits it.
    }
    if (fresh.GetBuf() != nullptr) {
        // The old block moves into `fresh` and is freed only after the copy
        // below, since the source may lie inside it.
        m_Buffer.Swap(fresh);
    } else if (source != nullptr && length >= m_Buffer.GetLength()) {
        return;  // does not fit: the string keeps what it had
    }
    char* block = m_Buffer.GetBuf();
    if (source != nullptr && length > 0) {
        std::memmove(block, source, static_cast<std::size_t>(length));
        m_nLength = length;
    } else {
        m_nLength = 0;
    }
    m_Buffer.Zero(m_nLength);
    m_pData = block != nullptr ? block : g_noBlockText;
}

void CString::ConcatCopy(int length1, const char* source1, int length2, const char* source2) {
    const int total = length1 + length2;
    if (total < m_Buffer.GetLength()) {
        // In place: only the appended characters and the terminator are
        // written; the bytes after it are 0 already, as after every operation.
        char* block = m_Buffer.GetBuf();
        if (source1 != block) std::memmove(block, source1, static_cast<std::size_t>(length1));
        std::memmove(block + length1, source2, static_cast<std::size_t>(length2));
        block[total] = '\0';
        m_nLength = total;
        return;
    }
    // The content is assembled in a block of its final size, which the string
    // then adopts; both sources stay readable until they have been copied.
    CStreamBuf fresh;
    try {
        fresh.AllocateBuf(BlockSize(total));
    } catch (...) {
        return;  // refused: the string keeps what it had
    }
    char* block = fresh.GetBuf();
    if (length1 > 0) std::memcpy(block, source1, static_cast<std::size_t>(length1));
    if (length2 > 0) std::memcpy(block + length1, source2, static_cast<std::size_t>(length2));
    fresh.Zero(total);
    m_Buffer.Swap(fresh);
    m_nLength = total;
    m_pData = block;
}

CString::CString() : m_nLength(0), m_pData(g_noBlockText) {
    AllocateBuffer(0, nullptr);
}

CString::CString(const char* text) : m_nLength(0), m_pData(g_noBlockText) {
    AllocateBuffer(TextLength(text), text);
}

CString::CString(const CString& other) : m_nLength(0), m_pData(g_noBlockText) {
    AllocateBuffer(other.m_nLength, other.m_pData);
}

CString::~CString() {}

CString& CString::operator=(const CString& other) {
    AllocateBuffer(other.m_nLength, other.m_pData);
    return *this;
}

CString& CString::operator=(const char* text) {
    AllocateBuffer(TextLength(text), text);
    return *this;
}

CString CString::operator+(const char* text) {
    CString result(*this);
    result += text;
    return result;
}

CString CString::operator+(const CString& other) {
    CString result(*this);
    result += other;
    return result;
}

CString operator+(const char* text, const CString& str) {
    CString result(text);
    result += str;
    return result;
}

CString& CString::operator+=(const CString& other) {
    ConcatCopy(m_nLength, m_pData, other.m_nLength, other.m_pData);
    return *this;
}

CString& CString::operator+=(const char* text) {
    if (text != nullptr) ConcatCopy(m_nLength, m_pData, TextLength(text), text);
    return *this;
}

char CString::operator[](int index) {
    return GetAt(index);
}

char CString::GetAt(int index) {
    if (index < 0 || index > m_nLength) return -1;
    return m_pData[index];
}

char* CString::GetBuffer() const {
    return m_pData;
}

int CString::GetLength() const {
    return m_nLength;
}

bool CString::operator==(const CString& other) {
    return std::strcmp(m_pData, other.m_pData) == 0;
}

bool CString::operator==(const char* text) {
    return text != nullptr && std::strcmp(m_pData, text) == 0;
}

bool CString::operator!=(const CString& other) {
    return !(*this == other);
}

bool CString::operator!=(const char* text) {
    return !(*this == text);
}

// Compared in place instead of through two upper-cased scratch copies: the
// result is the same (a NUL in the string never matches a character of the
// text, whose length equals ours) without the allocations.
bool CString::EqualByNoCase(const char* text) {
    return text != nullptr && TextLength(text) == m_nLength &&
           EqualAfterToUpper(m_pData, text, m_nLength);
}

char* CString::Find(const char* text) const {
    return text != nullptr ? SearchText(m_pData, m_nLength, text) : nullptr;
}

char* CString::Find(char c) const {
    return std::strchr(m_pData, c);
}

int CString::FindIndex(const char* text) const {
    const char* found = Find(text);
    if (found == nullptr) return -1;
    const int position = static_cast<int>(found - m_pData);
    return position < m_nLength ? position : -1;
}

int CString::FindIndex(char c) const {
    if (m_nLength <= 0) return -1;
    const void* found = std::memchr(m_pData, c, static_cast<std::size_t>(m_nLength));
    return found != nullptr ? static_cast<int>(static_cast<const char*>(found) - m_pData) : -1;
}

int CString::ReverseFindIndex(char c) const {
    const char* found = std::strrchr(m_pData, c);
    return found != nullptr ? static_cast<int>(found - m_pData) : -1;
}

void CString::TrimLeft(char c) {
    int count = 0;
    while (count < m_nLength && m_pData[count] == c) ++count;
    if (count == 0) return;
    const int remaining = m_nLength - count;
    std::memmove(m_pData, m_pData + count, static_cast<std::size_t>(remaining));
    std::memset(m_pData + remaining, 0, static_cast<std::size_t>(count));
    m_nLength = remaining;
}

void CString::TrimRight(char c) {
    while (m_nLength > 0 && m_pData[m_nLength - 1] == c) m_pData[--m_nLength] = '\0';
}

void CString::Left(int count) {
    if (count > m_nLength) count = m_nLength;
    if (count < 0) count = 0;
    m_nLength = count;
    m_Buffer.Zero(count);
}

void CString::Mid(int start) {
    if (start < 0) return;
    if (start >= m_nLength) {
        Empty();
        return;
    }
    m_nLength -= start;
    std::memmove(m_pData, m_pData + start, static_cast<std::size_t>(m_nLength));
    m_Buffer.Zero(m_nLength);
}

void CString::MakeSameCase(bool upper) {
    for (int i = 0; i < m_nLength; ++i) {
        const unsigned char c = static_cast<unsigned char>(m_pData[i]);
        m_pData[i] = static_cast<char>(upper ? std::toupper(c) : std::tolower(c));
    }
}

void CString::MakeUpper() {
    MakeSameCase(true);
}

void CString::MakeLower() {
    MakeSameCase(false);
}

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

// The block follows the estimate while the text fits it; a text that does not
// fit is formatted again into a block sized by its real length, cut to the
// largest block when even that cannot hold it.
void CString::FormatV(const char* format, va_list args) {
    if (format == nullptr) format = "";
    const char* current = m_Buffer.GetBuf();
    const char* currentEnd = current + m_Buffer.GetLength();
    FormatArguments arguments;
    if (std::strpbrk(format, "sSn") != nullptr)
        arguments = ReadArguments(format, args, current, currentEnd);
    const int estimate =
        std::min(EstimateFromFormat(format) + arguments.plainStringLengths, kLongestText);
    // While formatting may read this string's own block (the format or an
    // argument lies in it, or the arguments could not be told), the block is
    // set aside, alive, and the text goes to a fresh one.
    CStreamBuf setAside;
    if (Inside(format, current, currentEnd) || arguments.inBlock || !arguments.told) {
        try {
            setAside.AllocateBuf(BlockSize(std::min(estimate, kLongestContent)));
        } catch (...) {
            return;  // refused: the string stays as it was
        }
        setAside.Zero(0);
        m_Buffer.Swap(setAside);
        m_nLength = 0;
        m_pData = m_Buffer.GetBuf();
    } else if (estimate >= m_Buffer.GetLength()) {
        AllocateBuffer(estimate, nullptr);
    }
    va_list again;
    va_copy(again, args);
    int size = m_Buffer.GetLength();
    int written = g_plainVsnprintf(m_Buffer.GetBuf(), static_cast<std::size_t>(size), format, args);
    if (written >= size) {
        AllocateBuffer(written < kLongestContent ? written : kLongestContent, nullptr);
        size = m_Buffer.GetLength();
        written =
            g_plainVsnprintf(m_Buffer.GetBuf(), static_cast<std::size_t>(size), format, again);
    }
    va_end(again);
    char* block = m_Buffer.GetBuf();
    if (block == nullptr) return;  // no block could be had: the string stays empty
    block[size - 1] = '\0';        // a format that failed midway may leave no terminator
    const int previousLength = m_nLength;
    m_nLength = static_cast<int>(std::strlen(block));
    // Clear what the old text and the written bytes left behind the new end
    // (a "%c" of 0 writes past it); a failed format may have written anywhere.
    if (written < 0) {
        m_Buffer.Zero(m_nLength);
    } else {
        const int dirtyEnd = std::max(previousLength, std::min(written, size - 1));
        if (dirtyEnd > m_nLength)
            std::memset(block + m_nLength, 0, static_cast<std::size_t>(dirtyEnd - m_nLength));
    }
}

void CString::Empty() {
    m_nLength = 0;
    m_Buffer.Zero(0);
}

bool CString::IsEmpty() {
    return m_nLength == 0;
}

CString::operator const char*() const {
    return m_pData;
}

std::ostream& operator<<(std::ostream& out, const CString& str) {
    return out << str.GetBuffer();
}

std::istream& operator>>(std::istream& in, CString& str) {
    std::string word;
    in >> word;
    str = word.c_str();
    return in;
}
