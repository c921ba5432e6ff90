#include "CStreamBuf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "TestSupport.h"

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

TEST(CStreamBufTest, EverySizedRequestTakesAFreshBlockAndNoneFreesIt) {
    CStreamBuf buf;
    buf.AllocateBuf(32);
    char* first = buf.GetBuf();
    ArrayAllocations allocations;
    buf.AllocateBuf(32);
    EXPECT_NE(buf.GetBuf(), first);
    for (int size : {0, -1}) {
        buf.AllocateBuf(size);
        EXPECT_EQ(buf.GetBuf(), nullptr);
        EXPECT_EQ(buf.GetLength(), 0);
    }
    buf.DeleteBuf();  // on an empty buffer: nothing
    EXPECT_EQ(allocations.Sizes(), std::vector<std::size_t>{32});
    EXPECT_EQ(allocations.Deletions(), 2);
}

TEST(CStreamBufTest, ZeroClearsFromItsStartToTheEndOnly) {
    CStreamBuf buf;
    buf.Zero(0);  // no block: nothing to do
    buf.AllocateBuf(8);
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
}

TEST(CStreamBufTest, ReleaseHandsTheBlockOver) {
    EXPECT_EQ(CStreamBuf().Release(), nullptr);
    char* block;
    {
        CStreamBuf buf;
        buf.AllocateBuf(4);
        block = buf.GetBuf();
        EXPECT_EQ(buf.Release(), block);
        EXPECT_EQ(buf.GetBuf(), nullptr);
        EXPECT_EQ(buf.GetLength(), 0);
    }                              // the destructor must not free what it handed over
    std::memcpy(block, "abc", 4);  // the sanitizer build sees a use after free
    delete[] block;
}
