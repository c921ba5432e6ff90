#ifndef TANDEL_COBJECT_H
#define TANDEL_COBJECT_H

#include "TandelExport.h"

/// The empty common root of the library's object classes (CFile, CArchive,
/// CTree, CException). It is not polymorphic: never delete an object through a
/// CObject pointer. A handler for `CObject&` catches every CException.
///
/// Threads and processes: no state; objects may be made and destroyed in any
/// thread.
class TANDEL_API CObject {
public:
    CObject();
    ~CObject();
};

#endif  // TANDEL_COBJECT_H
