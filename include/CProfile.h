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
/// A profile object holds one stdio stream on the file, a descriptor of the
/// file's directory (O_PATH: it reads and writes nothing, but counts against
/// the process's limit of open files), and one block of 552 bytes (544 on
/// 32-bit x86): the 257-byte line buffer, then what the object knows of its
/// path (the directory, the last component, the file it holds, whether the
/// stream stands at a position a search found). Not copyable.
/// It reads and writes the stream's descriptor directly (positioned reads and
/// writes), so every operation sees the file as it is on disk at that moment,
/// including what other processes wrote since the last call.
///
/// An object follows its path. Every lookup and write first checks (one
/// fstatat) that the path still names the file the object holds; when another
/// file has taken its place (a rename over it, as editors and `sed -i` do) or
/// the held file has no links left, it opens the path again as OpenFile does
/// and works on the file that is there now. When the path names no file, a
/// lookup finds nothing and a write creates the file as OpenFile would. The
/// path's directory is the one it named at open, whatever the process's
/// working directory becomes; a symbolic link as the last component is
/// followed anew each time, as open() follows it. When the path cannot be
/// checked at all (search permission on the directory lost, say), the object
/// keeps using the file it holds.
///
/// Sharing a profile: lookups hold a shared advisory lock (flock) on the file
/// across their search; WriteProfile and InsertContent hold an exclusive one
/// from before the search until the file is complete. Processes, and objects
/// within one process, that reach the file through this class therefore never
/// lose each other's entries nor read a half-written file. A file system that
/// refuses locks is used unlocked. Programs that read or write the file by
/// other means are not held back. Locks stay on the file: an operation locks
/// the file it holds, then checks the path. So a program that replaces the
/// file while it holds an exclusive flock on the old one is waited for, then
/// followed, and no write is lost; one that replaces the file without that
/// lock can still make a write that overlaps the replacement land in the
/// replaced file, and be lost with it. One object is not for concurrent use
/// by several threads; an object inherited across fork shares its lock with
/// the parent's, so a child process opens its own. Creating a missing
/// profile sets the process's file-creation mask to 077 for the length of one
/// open(): files and directories other threads create meanwhile get no group
/// or other permission bits, and a umask() another thread calls meanwhile is
/// undone.
///
/// A write changes the file in place, never replacing it: the file keeps its
/// inode, and with it its owner, permission bits and other links. A write
/// holds at most 1 MiB of the file in memory: the whole file when it is no
/// larger, else the bytes from the write position to the end. It puts the
/// new text and the bytes after it back in one positioned write; when the
/// file shrinks, the cut to the new length follows (a file that grows needs
/// no cut). A line replaced by one of the same length is written alone. A writer
/// killed at any point then leaves the old file or the new one, with two
/// exceptions: a shrinking write killed between its write and its cut leaves
/// the new content followed by the old file's last bytes, up to the old
/// length; and the kernel may stop a write that spans several pages of its
/// file cache between two pages (tmpfs does so from 4 KiB on), leaving new
/// bytes in front of old ones. Beyond 1 MiB the bytes after the write position
/// go through a temporary file and are copied back in pieces: a failure still
/// puts the old content back, but a writer killed there can leave a torn file.
class TANDEL_API CProfile {
public:
    /// Opens the default profile, "/etc/velonix/Tandel.rc" (see OpenFile).
    /// Throws only when the line buffer cannot be allocated: CException, or
    /// the allocator's own exception (std::bad_alloc) as it comes.
    CProfile();
    /// Opens the profile at `path` (see OpenFile), also as a conversion:
    /// `CProfile profile = path;`. Throws as the default constructor does.
    CProfile(const char* path);
    /// Closes the file.
    ~CProfile();

    CProfile(const CProfile&) = delete;
    CProfile& operator=(const CProfile&) = delete;

    /// Closes the file (and its directory) the object holds, if any, then
    /// opens `path` for reading and writing. A missing file is created, empty,
    /// with permission bits 0600 (the caller's file-creation mask is
    /// restored); an existing file is never emptied. A file that may be read
    /// but not written (EACCES, EROFS) is opened read-only: lookups work and
    /// writes are refused. No directory is created. Nothing is reported here:
    /// when no stream could be had, lookups find nothing and writes are
    /// refused with the open's errno.
    void OpenFile(const char* path);
    /// Closes the file and its directory; a second call does nothing.
    void CloseFile();

    /// Searches the file from its start for `key` in the first `section`. True
    /// when found: the stream then stands at the start of the entry line and
    /// the line buffer holds it. False otherwise: the stream stands at the next
    /// header line after the section, or at the end of the file. When the
    /// section or key is null, the path names no file, or the lock or a read
    /// fails, the search finds nothing and leaves no position: an
    /// InsertContent that follows changes nothing (EINVAL), whatever the file
    /// becomes meanwhile.
    bool FindEntry(const char* section, const char* key);
    /// Sets `value` to the entry's value (without its line feed), or empties it
    /// when there is no such entry.
    void GetProfile(const char* section, const char* key, CString& value);
    /// Stores the entry's value read as a decimal integer (leading blanks and a
    /// sign accepted, stopping at the first other character, clamped to the
    /// 32-bit range); 0 when there is no such entry or no number.
    void GetProfile(const char* section, const char* key, int* value);

    /// Sets the entry to `value` (null counts as empty): replaces its line in
    /// place, or adds it at the end of its section (after the empty lines that
    /// end it: right before the next header line, or at the end of the file),
    /// or adds the section with the entry at the end of the file. The rest of
    /// the file keeps its bytes.
    ///
    /// Refused, leaving the file byte for byte unchanged: a key containing "=",
    /// "[" or a line feed; a value containing "[" or a line feed; a section
    /// containing "]" or a line feed; an entry line (key, "=", value, line
    /// feed) or a new header line ("[", section, "]", line feed) longer than
    /// 255 bytes. Also refused, file unchanged: the lock, a read of the file or
    /// the memory to hold it cannot be had. A write that fails part way (a full
    /// disk, say) puts the old content back: the file is always either the old
    /// one or the new one. Only a failure that lasts through the putting back
    /// (a device that refuses every write from then on) can leave what a
    /// killed writer leaves (see the class), a torn file among it. Writing the
    /// value an entry already has writes nothing.
    ///
    /// errno tells whether the write landed: 0 when the entry stands as asked
    /// (written, or already there); else why it was refused: EINVAL for what
    /// the format cannot hold (a null section or key included); for an object
    /// without a stream, why its open failed (EBADF once closed); for a file
    /// opened read-only, EACCES or EROFS when the write would change it;
    /// EAGAIN for a file replaced again and
    /// again faster than it could be opened; otherwise the failing call's own
    /// (EIO for a write cut short without one).
    void WriteProfile(const char* section, const char* key, const char* value);
    /// Writes `value` in decimal ("%d") with the string form; errno as there.
    void WriteProfile(const char* section, const char* key, int value);
    /// Replaces the `length` bytes after the stream's position (where the last
    /// FindEntry left it; lookups and writes do not move it) with `text` and
    /// keeps everything after them; the file is cut to its new length. The
    /// search and this call are two operations: another process may change
    /// the file between them. The position belongs to the file the search
    /// read: when the path names another file by then, or none, or a lookup
    /// or write has meanwhile followed the path to another file, nothing is
    /// written (errno ESTALE or ENOENT). When the last search found no
    /// position (EINVAL), or any step fails, the file keeps its old content.
    /// Without any search, the position is the start of the file. errno as
    /// for WriteProfile.
    void InsertContent(const char* text, unsigned long length);

private:
    FILE* m_pStream;
    CStreamBuf m_LineBuf;
    bool m_bSectionFound;
};

#endif  // TANDEL_CPROFILE_H
