#include "CException.h"

CException::CException() noexcept : m_strMessage("Exception:") {}

// A null text is no description: the message is the default one.
CException::CException(const char* text) noexcept
    : m_strMessage(text != nullptr ? text : "Exception:") {}

CException::~CException() noexcept {}
