#ifndef TANDEL_CPROFILE_H
#define TANDEL_CPROFILE_H

#include <cstdio>

#include "CStreamBuf.h"
#include "TandelExport.h"

class CString;

/// A profile: a text configuration file of `[section]` header lines and
/// `key=value` entry lines, kept open for reading and rewriting in place.
///
/// The format, exactly:
/// - Lines end with a line feed and are read in pieces of at most 255 bytes;
///   a longer line counts as several lines in a row.
/// - A line containing "[" anywhere is a header line; its section name is the
///   text after the first "[" up to the first "]" after it (empty without one).
/// - Any other line is an entry line: its key is the text before its first "="
///   (empty without one), its value the text after it up to the line feed (the
///   whole line without one). Nothing is trimmed; names and keys are compared
///   byte for byte, case-sensitively; there is no comment syntax.
/// - Entries belong to the section above them; lines above the first header
///   belong to none and are never found. The first occurrence of a section,
///   and the first line of a key within it, win.
///
/// A profile object holds one stdio stream on the file and a 257-byte line
/// buffer. Not copyable.
class TANDEL_API CProfile {
public:
    /// Opens the default profile, "/etc/velonix/Tandel.rc" (see OpenFile).
    /// Throws CException only when the line buffer cannot be allocated.
    CProfile();
    /// Opens the profile at `path` (see OpenFile). Throws CException only when
    /// the line buffer cannot be allocated.
    explicit CProfile(const char* path);
    /// Closes the file.
    ~CProfile();

    CProfile(const CProfile&) = delete;
    CProfile& operator=(const CProfile&) = delete;

    /// Closes the file the object holds, if any, then opens `path` for reading
    /// and writing. A missing file is created, empty, with permission bits 0600
    /// (the caller's file-creation mask is restored); an existing file is never
    /// emptied. A file that may be read but not written (EACCES, EROFS) is
    /// opened read-only: lookups work and writes do nothing. No directory is
    /// created. Nothing is reported: when no stream could be had, lookups find
    /// nothing and writes do nothing.
    void OpenFile(const char* path);
    /// Closes the file; a second call does nothing.
    void CloseFile();

    /// Searches the file from its start for `key` in the first `section`. True
    /// when found: the stream then stands at the start of the entry line and
    /// the line buffer holds it. False otherwise: the stream stands at the next
    /// header line after the section, or at the end of the file.
    bool FindEntry(const char* section, const char* key);
    /// Sets `value` to the entry's value (without its line feed), or empties it
    /// when there is no such entry.
    void GetProfile(const char* section, const char* key, CString& value);
    /// Stores the entry's value read as a decimal integer (leading blanks and a
    /// sign accepted, stopping at the first other character, clamped to the
    /// 32-bit range); 0 when there is no such entry or no number.
    void GetProfile(const char* section, const char* key, int* value);

    /// Sets the entry to `value` (null counts as empty): replaces its line in
    /// place, or adds it at the end of its section, or adds the section with
    /// the entry at the end of the file. The rest of the file keeps its bytes.
    ///
    /// Refused, leaving the file byte for byte unchanged: a key containing "=",
    /// "[" or a line feed; a value containing "[" or a line feed; a section
    /// containing "]" or a line feed; an entry line (key, "=", value, line
    /// feed) or a new header line ("[", section, "]", line feed) longer than
    /// 255 bytes. A write that fails part way (a full disk, say) puts the old
    /// content back: the file is always either the old one or the new one.
    void WriteProfile(const char* section, const char* key, const char* value);
    /// Writes `value` in decimal ("%d") with the string form.
    void WriteProfile(const char* section, const char* key, int value);
    /// Replaces the `length` bytes after the stream's position with `text` and
    /// keeps everything after them, moving the rest of the file through a
    /// temporary file; the file is cut to its new length. When the temporary
    /// file cannot be had or any step fails, the file keeps its old content.
    void InsertContent(const char* text, unsigned long length);

private:
    FILE* m_pStream;
    CStreamBuf m_LineBuf;
    bool m_bSectionFound;
};

#endif  // TANDEL_CPROFILE_H
