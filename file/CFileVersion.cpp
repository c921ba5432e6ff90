#include "CFileVersion.h"

#include "TandelVersion.h"

CFileVersion::CFileVersion() {}

CFileVersion::~CFileVersion() {}

int CFileVersion::GetString(const char* /*query*/, char** text, unsigned long* /*size*/,
                            unsigned long /*flags*/) {
    // Constant-initialised, so it is ready when the library is loaded.
    static char szFileVersion[] = TANDEL_VERSION;
    *text = szFileVersion;
    return 1;
}
