#include "CException.h"

CException::CException() noexcept : m_strMessage("Exception:") {}

CException::CException(const char* text) noexcept : m_strMessage(text) {}

CException::~CException() noexcept {}
