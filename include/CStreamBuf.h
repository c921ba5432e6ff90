#ifndef TANDEL_CSTREAMBUF_H
#define TANDEL_CSTREAMBUF_H

#include <utility>

#include "TandelExport.h"

/// An owned block of raw bytes on the free store, at most 65536 bytes, with its
/// recorded size. It is the storage of CString and the line buffer of CProfile.
///
/// Replacing the block never carries content over and never clears the new
/// block: keeping or clearing bytes is the owner's business.
/// Not copyable: one block must have one owner.
///
/// Threads and processes: buffers share nothing; each is one thread's at a
/// time.
class TANDEL_API CStreamBuf {
public:
    /// Empty buffer: size 0, no block.
    CStreamBuf();
    /// Frees the block, if any.
    ~CStreamBuf();

    CStreamBuf(const CStreamBuf&) = delete;
    CStreamBuf& operator=(const CStreamBuf&) = delete;

    /// Replaces the block by a fresh one of `size` bytes (contents indeterminate),
    /// or frees it when `size` is 0 or less. Every call with a positive size
    /// allocates anew, even for the same size.
    /// Throws CException "AllocateBuf,too large memory to allocate" above 65536
    /// bytes and "AllocateBuf,allocate memory error" when the allocator yields
    /// null; an exception the allocator throws (std::bad_alloc) passes through
    /// unchanged. In every case the buffer keeps its old block, size and content.
    void AllocateBuf(int size);
    /// Frees the block, if any; size 0, no block. Harmless on an empty buffer.
    void DeleteBuf();
    /// The block's first byte, or null when there is no block.
    char* GetBuf();
    /// Hands the block to the caller, who must free it with `delete[]`; the
    /// buffer is left empty. Null when there was no block.
    char* Release();
    /// Clears the bytes from `start` to the end of the block. Does nothing when
    /// `start` is at or past the size, or is negative, or there is no block.
    void Zero(int start);
    /// The recorded size in bytes.
    int GetLength();
    /// Records `size` without touching the block. Only a value from 0 up to the
    /// current size is recorded; any other is ignored, so the recorded size never
    /// exceeds the real block and Zero never writes past it.
    void SetLength(int size);

    /// The largest block the buffer hands out.
    static const int kMaxSize = 65536;

private:
    friend class CString;  // adopts blocks without copying them

    // Inline, so that it stays out of the library's exported symbols.
    void Swap(CStreamBuf& other) {
        std::swap(m_nLength, other.m_nLength);
        std::swap(m_pBuf, other.m_pBuf);
    }

    int m_nLength;
    char* m_pBuf;
};

#endif  // TANDEL_CSTREAMBUF_H
