#ifndef TANDEL_CARCHIVE_H
#define TANDEL_CARCHIVE_H

#include "CFile.h"
#include "CObject.h"
#include "CString.h"
#include "TandelExport.h"

/// Writes typed values to a CFile in a fixed little-endian byte format and
/// reads them back.
///
/// Records follow each other with no header, tags or padding, so a reader must
/// extract the same sequence of types the writer inserted. Each record's bytes,
/// the same on every platform, are listed in doc/archive-format.md.
///
/// The archive keeps no buffer: it hands every record to the file's stdio
/// stream at once, one fwrite per record, and reads one back with one fread.
/// Two calls: writing a string record that has characters (its length, then
/// the characters), reading a long-form count (the marker, then the int
/// record) and reading a string record of 1 to 8192 characters (its length,
/// then the characters). It borrows the file and never opens, closes or
/// deletes it; the file must outlive the archive (or its Close). Nothing is
/// reported: failed writes go unnoticed, failed reads leave zeros. An archive
/// without a file, or over a file without an open stream, writes nothing and
/// reads zeros. It both reads and writes whatever its mode.
///
/// Threads and processes: the archive works on its file's stream, so an
/// archive and its file are one thread's at a time, together, and so are
/// several archives over one file. Archives share nothing else.
class TANDEL_API CArchive : public CObject {
public:
    /// Borrows `file` (may be null). `mode` is stored and not consulted.
    CArchive(CFile* file, int mode);
    /// Closes the archive (flushes the file, which stays open).
    virtual ~CArchive();

    /// 1 when the file has an open stream, else 0 (also after Close).
    int IsValid();
    /// Flushes the file and forgets it; the file stays open. From then on the
    /// archive writes nothing and reads zeros.
    void Close();
    /// Flushes the file's stream; does nothing without a file.
    void Flush();

    /// Reads up to `count` raw bytes; returns how many came (0 without a file).
    int Read(void* buffer, int count);
    /// Writes `count` raw bytes; nothing without a file.
    void Write(const void* buffer, int count);

    /// Writes a count record: 2 bytes for 0 to 65534; otherwise (negative
    /// counts included) FF FF and then the count as an int record.
    void WriteCount(int count);
    /// Reads a count record; 0 when nothing can be read.
    int ReadCount();

    /// Writes the character's byte.
    CArchive& operator<<(char value);
    /// Writes 2 bytes, two's complement.
    CArchive& operator<<(short value);
    /// Writes 4 bytes, two's complement.
    CArchive& operator<<(int value);
    /// Writes the value's low 32 bits, two's complement.
    CArchive& operator<<(long value);
    /// Writes the value's low 32 bits.
    CArchive& operator<<(unsigned long value);
    /// Writes the 4 bytes of the IEEE 754 single-precision value exactly as
    /// the caller passed them: NaN payloads (signalling ones too), denormals
    /// and negative zero are kept. On 32-bit x86 a value that went through an
    /// x87 register in the caller's own code (a float returned by a function,
    /// say) arrives with a signalling NaN already quieted; Write(&value, 4)
    /// hands over a variable's bytes untouched.
    CArchive& operator<<(float value);
    /// Writes the 8 bytes of the IEEE 754 double-precision value, exactly as
    /// the caller passed them (as for float).
    CArchive& operator<<(double value);
    /// Writes the length as an int record, then every character (NULs
    /// included), without a terminator.
    CArchive& operator<<(const CString& value);

    // Each extraction reads its record's width. Bytes that do not arrive (end
    // of file, no file) read as zero: at end of file the value is 0, and a
    // record cut short keeps the low-order bytes that came.

    /// Reads a char record.
    CArchive& operator>>(char& value);
    /// Reads a short record.
    CArchive& operator>>(short& value);
    /// Reads an int record.
    CArchive& operator>>(int& value);
    /// Reads a 32-bit long record and sign-extends it.
    CArchive& operator>>(long& value);
    /// Reads a 32-bit unsigned long record and zero-extends it.
    CArchive& operator>>(unsigned long& value);
    /// Reads a float record.
    CArchive& operator>>(float& value);
    /// Reads a double record.
    CArchive& operator>>(double& value);
    /// Reads a string record. A length below 1 or above 8192 gives the empty
    /// string and reads no characters (those of a longer record stay in the
    /// file, and the next extraction starts at the first of them). Otherwise
    /// all the characters are consumed, and the string holds them up to the
    /// first NUL, or up to the last byte that came when the record is cut short.
    CArchive& operator>>(CString& value);

private:
    CFile* m_pFile;
    [[maybe_unused]] int m_nMode;  // kept as given; no operation consults it
};

#endif  // TANDEL_CARCHIVE_H
