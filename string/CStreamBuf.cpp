#include "CStreamBuf.h"

#include <cstring>

#include "CException.h"

CStreamBuf::CStreamBuf() : m_nLength(0), m_pBuf(nullptr) {}

CStreamBuf::~CStreamBuf() {
    delete[] m_pBuf;
}

void CStreamBuf::AllocateBuf(int size) {
    if (size <= 0) {
        DeleteBuf();
        return;
    }
    if (size > kMaxSize) throw CException("AllocateBuf,too large memory to allocate");
    // An exception from the allocator passes through unchanged. An allocator
    // may also yield null (one a program put in place of the standard one);
    // compilers assume the throwing form never does and would drop the check,
    // so the empty asm hides where the pointer came from.
    char* block = new char[static_cast<std::size_t>(size)];
    __asm__("" : "+r"(block));
    if (block == nullptr) throw CException("AllocateBuf,allocate memory error");
    delete[] m_pBuf;
    m_pBuf = block;
    m_nLength = size;
}

void CStreamBuf::DeleteBuf() {
    m_nLength = 0;
    delete[] m_pBuf;
    m_pBuf = nullptr;
}

char* CStreamBuf::GetBuf() {
    return m_pBuf;
}

char* CStreamBuf::Release() {
    char* block = m_pBuf;
    m_pBuf = nullptr;
    m_nLength = 0;
    return block;
}

void CStreamBuf::Zero(int start) {
    if (m_pBuf != nullptr && start >= 0 && start < m_nLength)
        std::memset(m_pBuf + start, 0, static_cast<std::size_t>(m_nLength - start));
}

int CStreamBuf::GetLength() {
    return m_nLength;
}

void CStreamBuf::SetLength(int size) {
    if (size >= 0 && size <= m_nLength) m_nLength = size;
}
