#ifndef TANDEL_CSTRING_H
#define TANDEL_CSTRING_H

#include <cstdarg>
#include <iosfwd>

#include "CStreamBuf.h"
#include "TandelExport.h"

/// The library's string: a counted run of 8-bit characters followed by a NUL,
/// kept in one CStreamBuf block.
///
/// Blocks are sized with slack: 32 bytes when empty, otherwise the length
/// rounded down to a multiple of 32, plus 64. Every construction and assignment
/// takes a fresh block of that size; appends that stay below the block size
/// work in place; the append that reaches it moves to a new block. Bytes after
/// the last character are always 0. The longest string that can be given a new
/// block has 65503 characters; appends in place may fill a block to 65535.
///
/// No exception leaves a CString operation. When a block cannot be had (content
/// too long, memory exhausted) the operation leaves the string as it was, unless
/// the new content fits the block the string already has, in which case it is
/// stored there (Format cuts its text to that block). A string whose
/// construction was refused is empty and reads as "".
///
/// Copies from another CString are counted (embedded NULs survive); everything
/// taking a `const char*` measures the text up to its NUL. Trimming, Left, Mid,
/// the case conversions and FindIndex(char) go by the length, so a NUL inside
/// the string counts as a character there; the equality operators and the
/// other searches stop at the first NUL.
///
/// Threads and processes: strings share nothing that needs a lock, so
/// different strings may be used in different threads at once. Operations
/// that only read a string (comparisons, searches, GetAt, GetBuffer,
/// GetLength, IsEmpty, and copies and concatenations that take it as a
/// source) may run on it in several threads at once; one that changes it
/// needs it to itself. Case conversion, the case-blind comparison and Format
/// read the C library's locale, which no other thread may change (setlocale)
/// meanwhile.
class TANDEL_API CString {
public:
    /// Empty string in a 32-byte block.
    CString();
    /// Copy of `text` up to its NUL; a null pointer gives the empty string.
    CString(const char* text);
    /// Counted copy of `other`'s characters.
    CString(const CString& other);
    ~CString();

    /// Counted copy of `other`; safe when `other` is this string.
    CString& operator=(const CString& other);
    /// Copy of `text` up to its NUL; `text` may point into this string's own
    /// characters. A null pointer empties the string.
    CString& operator=(const char* text);

    /// This string followed by `text`; this string is unchanged.
    CString operator+(const char* text);
    /// This string followed by `other`; this string is unchanged.
    CString operator+(const CString& other);
    /// Appends `other`, which may be this string itself.
    CString& operator+=(const CString& other);
    /// Appends `text`, which may point into this string; null appends nothing.
    CString& operator+=(const char* text);

    /// The character at `index` (0 at the length, the terminator), or -1 above
    /// the length. A negative index also gives -1.
    char operator[](int index);
    /// Same as operator[].
    char GetAt(int index);

    /// The first character; the text is always NUL-terminated.
    char* GetBuffer() const;
    /// The number of characters, not counting the terminator.
    int GetLength() const;

    /// True when the texts are equal up to their first NULs (strcmp).
    bool operator==(const CString& other);
    /// True when the text up to the first NUL equals `text` (strcmp); false
    /// for a null `text`.
    bool operator==(const char* text);
    /// The negation of operator==.
    bool operator!=(const CString& other);
    /// The negation of operator==.
    bool operator!=(const char* text);
    /// Case-blind equality with `text`: the lengths must match and every
    /// character must match after toupper. A string holding a NUL never matches.
    bool EqualByNoCase(const char* text);

    /// First occurrence of `text` in the string's text (strstr), or null.
    char* Find(const char* text) const;
    /// First occurrence of `c` in the string's text (strchr), or null; NUL
    /// finds the terminator.
    char* Find(char c) const;
    /// Position of the first occurrence of `text`, or -1. The empty text is
    /// found at 0 in a non-empty string and not at all in the empty one.
    int FindIndex(const char* text) const;
    /// Position of the first `c` among all GetLength() characters (a NUL inside
    /// the string is found; the terminator never is), or -1.
    int FindIndex(char c) const;
    /// Position of the last `c` in the string's text (strrchr), or -1.
    int ReverseFindIndex(char c) const;

    /// Removes every leading `c`. Keeps the block.
    void TrimLeft(char c);
    /// Removes every trailing `c`. Keeps the block.
    void TrimRight(char c);
    /// Keeps the first `count` characters (none when negative). Keeps the block.
    void Left(int count);
    /// Drops the first `start` characters; empty when `start` is at or past the
    /// end, unchanged when it is negative. Keeps the block.
    void Mid(int start);
    /// Converts every character, up to the length, with toupper (true) or
    /// tolower (false). Keeps the block.
    void MakeSameCase(bool upper);
    /// MakeSameCase(true).
    void MakeUpper();
    /// MakeSameCase(false).
    void MakeLower();

    /// Replaces the content with the printf-style formatted text (exactly what
    /// vsprintf writes), cut to 65535 characters when it is longer. A null
    /// format formats as the empty text. The library's hardened build keeps
    /// that: "%n" stores its count even in a format held in writable memory,
    /// where the C library's checked formatting would end the program.
    ///
    /// The block follows an estimate made from the format before formatting:
    /// a plain character counts 1; the directive "%d" 5, "%c" 2, "%s" its
    /// argument's length plus 1, and any other directive 11 plus 1 for each
    /// further character ("%5d" 12, "%5s" 12 whatever its argument); in "%%"
    /// the first "%" counts 10 and the second starts a directive, and a "%"
    /// that ends the format counts 10. Arguments after a positional directive
    /// or an unknown conversion are not measured. The string keeps its block
    /// while the estimate is below the block's size ("%d" keeps an empty
    /// string's 32 bytes), else it gets a block of the rule size for the
    /// estimate. A text that does not fit is formatted a second time, into a
    /// block of the rule size for its real length.
    ///
    /// The format and any argument may point into this string's own
    /// characters, in every form of directive: the text is what they held
    /// before the call. Then, and when a format with a string or %n directive
    /// cannot be walked argument by argument (positional directives, an
    /// unknown conversion), the text goes to a fresh block sized for the
    /// estimate and the old one is freed afterwards; if no fresh block can be
    /// had, the string stays as it was.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    /// Same, with an argument list.
    void FormatV(const char* format, va_list args);

    /// Length 0; the block is cleared and kept, so later appends into it
    /// allocate nothing.
    void Empty();
    /// True when the length is 0.
    bool IsEmpty();

    /// The first character (same as GetBuffer()).
    operator const char*() const;

private:
    static int BlockSize(int length);
    void AllocateBuffer(int length, const char* source);
    void ConcatCopy(int length1, const char* source1, int length2, const char* source2);

    CStreamBuf m_Buffer;
    int m_nLength;
    char* m_pData;
};

/// `text` (null counts as empty) followed by `str`.
TANDEL_API CString operator+(const char* text, const CString& str);
/// Writes the text up to its first NUL.
TANDEL_API std::ostream& operator<<(std::ostream& out, const CString& str);
/// Reads one white-space delimited word into `str` (std::string extraction);
/// on failure `str` becomes empty and the stream's fail state is set.
TANDEL_API std::istream& operator>>(std::istream& in, CString& str);

#endif  // TANDEL_CSTRING_H
