// Includes every installed header and links and runs against the shared
// object; its argument is the version the library must report.
#include <cstring>

#include "CArchive.h"
#include "CException.h"
#include "CFile.h"
#include "CFileVersion.h"
#include "CObject.h"
#include "CProfile.h"
#include "CSocket.h"
#include "CStreamBuf.h"
#include "CString.h"
#include "CTree.h"

int main(int argc, char** argv) {
    CString text("installed");
    try {
        CStreamBuf().AllocateBuf(70000);
    } catch (const CObject&) {
        text += " tandel works";
    }
    char* version = nullptr;
    CFileVersion().GetString("FileVersion", &version, nullptr, 0);
    const bool works = text == "installed tandel works" &&
                       CSocket().Send("", 0) != SOCKET_WRONG_KIND && argc == 2 &&
                       std::strcmp(version, argv[1]) == 0;
    return works ? 0 : 1;
}
