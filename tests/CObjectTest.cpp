#include "CObject.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "CArchive.h"
#include "CException.h"
#include "CFile.h"
#include "CTree.h"

// The empty, non-polymorphic root: it adds neither a vtable nor a byte to the
// classes built on it, and a handler for it catches the library's exception.
static_assert(std::is_empty_v<CObject> && !std::is_polymorphic_v<CObject>);
static_assert(std::is_base_of_v<CObject, CFile> && std::is_base_of_v<CObject, CArchive> &&
              std::is_base_of_v<CObject, CTree> && std::is_base_of_v<CObject, CException>);

TEST(CObjectTest, AHandlerForCObjectCatchesEveryCException) {
    bool caught = false;
    try {
        throw CException("SetSockOpt error");
    } catch (const CObject&) {
        caught = true;
    }
    EXPECT_TRUE(caught);
}
