#include "CStreamBuf.h"

#include <cstring>
#include <new>

#include "CException.h"

CStreamBuf::CStreamBuf() : m_nLength(0), m_pBuf(nullptr) {}

CStreamBuf::~CStreamBuf() { delete[] m_pBuf; }

void CStreamBuf::AllocateBuf(int size) {
    if (size <= 0) {
        DeleteBuf();
        return;
    }
    if (size > kMaxSize) throw CException("AllocateBuf,too large memory to allocate");
    // The nothrow form lets an exhausted allocator report null instead of throwing.
    char* block = new (std::nothrow) char[size];
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

char* CStreamBuf::GetBuf() { return m_pBuf; }

char* CStreamBuf::Release() {
    char* block = m_pBuf;
    m_pBuf = nullptr;
    m_nLength = 0;
    return block;
}

void CStreamBuf::Zero(int start) {
    if (m_pBuf != nullptr && start >= 0 && start < m_nLength)
        std::memset(m_pBuf + start, 0, m_nLength - start);
}

int CStreamBuf::GetLength() { return m_nLength; }

void CStreamBuf::SetLength(int size) {
    if (size >= 0 && size <= m_nLength) m_nLength = size;
}
