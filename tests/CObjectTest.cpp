// The empty, non-polymorphic root adds neither a vtable nor a byte to the
// classes built on it. CTree, which has nothing else to test, is checked here.
#include "CArchive.h"
#include "CFile.h"
#include "CObject.h"
#include "CTree.h"

#include "TestSupport.h"

static_assert(std::is_empty_v<CObject> && !std::is_polymorphic_v<CObject>);
static_assert(std::is_base_of_v<CObject, CFile> && std::is_base_of_v<CObject, CArchive> &&
              std::is_base_of_v<CObject, CTree> && std::is_base_of_v<CObject, CException>);
// Deleting through a polymorphic base reaches the derived destructor.
static_assert(std::has_virtual_destructor_v<CTree>);
