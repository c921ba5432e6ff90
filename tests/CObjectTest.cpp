// The empty, non-polymorphic root adds neither a vtable nor a byte to the classes built on it.
#include "CObject.h"

#include <type_traits>

static_assert(std::is_empty_v<CObject> && !std::is_polymorphic_v<CObject>);
