#ifndef TANDEL_CEXCEPTION_H
#define TANDEL_CEXCEPTION_H

#include <exception>
#include <string>

#include "CObject.h"
#include "TandelExport.h"

/// The one exception type the library throws, always by value and always
/// exactly this type. Catch it as `CException&`, `std::exception&` or `CObject&`.
///
/// The failure text is in `m_strMessage`; `what()` is std::exception's own and
/// does not return it.
///
/// Threads and processes: every object holds its own copy of the text and
/// nothing is shared, so an exception thrown in one thread may be kept and
/// read in another. Several threads may read one object at once; changing
/// `m_strMessage` needs the object to itself.
class TANDEL_API CException : public CObject, public std::exception {
public:
    /// Message "Exception:".
    CException() noexcept;
    /// Message: a copy of `text`, the fixed English description of the failure
    /// (for instance "Listen error"). The caller's text may be released
    /// afterwards. A null `text` gives "Exception:". Not explicit: a text
    /// converts, so `CException e = "Listen error";` works, and a text may be
    /// passed where a `const CException&` is expected.
    CException(const char* text) noexcept;
    virtual ~CException() noexcept;

    /// The failure text, open to catchers.
    std::string m_strMessage;
};

#endif  // TANDEL_CEXCEPTION_H
