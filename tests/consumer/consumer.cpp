// Uses one thing from each header, so that every installed header and the
// shared object are found and linked.
#include <cstdio>
#include <cstring>

#include "CException.h"
#include "CObject.h"
#include "CProfile.h"
#include "CStreamBuf.h"
#include "CString.h"
#include "CTree.h"

int main() {
    CString text("installed");
    text += " tandel";
    CStreamBuf buffer;
    try {
        buffer.AllocateBuf(70000);
    } catch (const CObject&) {
        text += " works";
    }
    CTree tree;
    CProfile profile(static_cast<const char*>(nullptr));
    std::printf("%s\n", text.GetBuffer());
    return std::strcmp(text, "installed tandel works") == 0 ? 0 : 1;
}
