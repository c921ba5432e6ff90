#ifndef TANDEL_CTREE_H
#define TANDEL_CTREE_H

#include "CObject.h"
#include "TandelExport.h"

/// An empty polymorphic class: a CObject with a virtual destructor, for
/// callers that need a common base to delete through.
///
/// Threads and processes: no state; objects may be made and destroyed in any
/// thread.
class TANDEL_API CTree : public CObject {
public:
    CTree();
    virtual ~CTree();
};

#endif  // TANDEL_CTREE_H
