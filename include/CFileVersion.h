#ifndef TANDEL_CFILEVERSION_H
#define TANDEL_CFILEVERSION_H

#include "TandelExport.h"

/// Asks for the library's version string: the version it was built as, four
/// dot-separated numbers (major.minor.patch.build), which is also the shared
/// object's file-name suffix and the packages' version. The object has no state.
///
/// Threads and processes: any thread may make objects and call GetString. The
/// text it hands out is one array inside the library, shared by every caller
/// in the process and writable through the pointer: reading it from several
/// threads at once is safe while nobody writes to it, and a write would change
/// what every later call returns.
class TANDEL_API CFileVersion {
public:
    /// Does nothing.
    CFileVersion();
    /// Does nothing.
    ~CFileVersion();

    /// Stores in `*text` the address of the NUL-terminated version text kept
    /// inside the library, and returns 1. Every call hands out the same
    /// address; the text must be neither freed nor changed. `text` must not be
    /// null. `query`, `size` and `flags` are not used: `*size` keeps its value
    /// (measure the text for its length).
    int GetString(const char* query, char** text, unsigned long* size, unsigned long flags);
};

#endif  // TANDEL_CFILEVERSION_H
