// The root classes, the exception and the byte buffer.
#include "CArchive.h"
#include "CFile.h"
#include "CObject.h"
#include "CStreamBuf.h"
#include "CTree.h"

#include "TestSupport.h"

// The empty, non-polymorphic root adds neither a vtable nor a byte to the
// classes built on it, and handlers for it or for std::exception catch the
// library's exception; deleting through a polymorphic base reaches the
// derived destructor.
static_assert(std::is_empty_v<CObject> && !std::is_polymorphic_v<CObject>);
static_assert(std::is_base_of_v<CObject, CFile> && std::is_base_of_v<CObject, CArchive> &&
              std::is_base_of_v<CObject, CTree> && std::is_base_of_v<CObject, CException>);
static_assert(std::is_base_of_v<std::exception, CException>);
static_assert(std::has_virtual_destructor_v<CException> && std::has_virtual_destructor_v<CTree>);
static_assert(std::is_nothrow_constructible_v<CException, const char*>);

TEST(CExceptionTest, MessagesAreExceptionColonOrACopyOfTheText) {
    EXPECT_EQ(CException().m_strMessage, "Exception:");
    EXPECT_EQ(CException(nullptr).m_strMessage, "Exception:");
    char text[] = "Listen error";
    CException e(text);
    std::memset(text, 'x', sizeof text - 1);
    EXPECT_EQ(e.m_strMessage, "Listen error");
    EXPECT_STREQ(e.what(), std::exception().what());  // what() is not the message
    const auto messageOf = [](const CException& given) { return given.m_strMessage; };
    EXPECT_EQ(messageOf("Accept error"), "Accept error");  // converts from a text
}

static_assert(!std::is_copy_constructible_v<CStreamBuf> && !std::is_copy_assignable_v<CStreamBuf>);

TEST(CStreamBufTest, RefusedRequestsThrowTheirTextAndLeaveTheBlock) {
    CStreamBuf buf;
    buf.AllocateBuf(65536);
    EXPECT_EQ(buf.GetLength(), 65536);
    buf.AllocateBuf(16);
    char* block = buf.GetBuf();
    std::memcpy(block, "kept content", 13);
    EXPECT_EQ(ThrownMessage([&] { buf.AllocateBuf(65537); }),
              "AllocateBuf,too large memory to allocate");
    {
        ArrayAllocations allocations;
        allocations.FailNext(1, true);
        EXPECT_EQ(ThrownMessage([&] { buf.AllocateBuf(100); }),
                  "AllocateBuf,allocate memory error");
        allocations.FailNext(1);  // the allocator's own exception passes through
        EXPECT_THROW(buf.AllocateBuf(100), std::bad_alloc);
    }
    EXPECT_EQ(buf.GetBuf(), block);
    EXPECT_EQ(buf.GetLength(), 16);
    EXPECT_STREQ(buf.GetBuf(), "kept content");
}

// Every request with a positive size takes a fresh block; the others free it.
TEST(CStreamBufTest, BlocksAreFreshAndZeroAndReleaseStayWithinThem) {
    CStreamBuf buf;
    buf.Zero(0);  // no block: nothing to do
    EXPECT_EQ(buf.Release(), nullptr);
    buf.AllocateBuf(8);
    char* first = buf.GetBuf();
    ArrayAllocations allocations;
    buf.AllocateBuf(8);
    EXPECT_NE(buf.GetBuf(), first);
    std::memset(buf.GetBuf(), 'x', 8);
    for (int start : {8, 100, -1}) buf.Zero(start);
    buf.Zero(5);
    EXPECT_EQ(std::string(buf.GetBuf(), 8), std::string("xxxxx\0\0\0", 8));
    // SetLength records only sizes the block holds, so Zero never writes past it.
    buf.SetLength(4);
    buf.SetLength(65536);
    buf.SetLength(-3);
    EXPECT_EQ(buf.GetLength(), 4);
    buf.Zero(0);
    EXPECT_EQ(std::string(buf.GetBuf(), 8), std::string("\0\0\0\0x\0\0\0", 8));
    char* block = buf.GetBuf();
    EXPECT_EQ(buf.Release(), block);  // the caller's now, not the destructor's
    EXPECT_EQ(buf.GetLength(), 0);
    for (int size : {0, -1}) {
        buf.AllocateBuf(4);
        buf.AllocateBuf(size);
        EXPECT_EQ(buf.GetBuf(), nullptr);
        EXPECT_EQ(buf.GetLength(), 0);
    }
    buf.DeleteBuf();  // on an empty buffer: nothing
    EXPECT_EQ(allocations.sizes, std::vector<std::size_t>({8, 4, 4}));
    EXPECT_EQ(allocations.deletions, 3);
    delete[] block;
}
