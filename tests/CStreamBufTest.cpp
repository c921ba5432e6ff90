#include "CStreamBuf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>

#include "ArrayAllocations.h"
#include "CException.h"
#include "ThrownMessage.h"

static_assert(!std::is_copy_constructible_v<CStreamBuf> && !std::is_copy_assignable_v<CStreamBuf>);

TEST(CStreamBufTest, EmptyBufferHasNoBlock) {
    CStreamBuf buf;
    EXPECT_EQ(buf.GetBuf(), nullptr);
    EXPECT_EQ(buf.GetLength(), 0);
}

TEST(CStreamBufTest, LargestBlockAcceptedAndOneMoreRefusedLeavingTheBlock) {
    CStreamBuf buf;
    buf.AllocateBuf(65536);
    ASSERT_NE(buf.GetBuf(), nullptr);
    EXPECT_EQ(buf.GetLength(), 65536);

    buf.AllocateBuf(16);
    char* block = buf.GetBuf();
    std::memcpy(block, "kept content", 13);
    EXPECT_EQ(ThrownMessage([&] { buf.AllocateBuf(65537); }),
              "AllocateBuf,too large memory to allocate");
    EXPECT_EQ(buf.GetBuf(), block);
    EXPECT_EQ(buf.GetLength(), 16);
    EXPECT_STREQ(buf.GetBuf(), "kept content");
}

TEST(CStreamBufTest, AllocatorNullIsReportedAndLeavesTheBlock) {
    CStreamBuf buf;
    buf.AllocateBuf(8);
    char* block = buf.GetBuf();
    std::memcpy(block, "abcdefg", 8);
    {
        ArrayAllocations::Scope scope;
        ArrayAllocations::FailNext(1);
        EXPECT_EQ(ThrownMessage([&] { buf.AllocateBuf(100); }), "AllocateBuf,allocate memory error");
    }
    EXPECT_EQ(buf.GetBuf(), block);
    EXPECT_EQ(buf.GetLength(), 8);
    EXPECT_STREQ(buf.GetBuf(), "abcdefg");
}

TEST(CStreamBufTest, ZeroOrNegativeSizeFreesTheBlock) {
    for (int size : {0, -1}) {
        CStreamBuf buf;
        buf.AllocateBuf(10);
        ArrayAllocations::Scope scope;
        buf.AllocateBuf(size);
        EXPECT_EQ(buf.GetBuf(), nullptr);
        EXPECT_EQ(buf.GetLength(), 0);
        EXPECT_EQ(ArrayAllocations::Deletions(), 1);
        buf.AllocateBuf(size);  // on an empty buffer: nothing
        EXPECT_EQ(ArrayAllocations::Deletions(), 1);
        EXPECT_EQ(scope.Count(), 0u);
    }
}

TEST(CStreamBufTest, EverySizedRequestAllocatesAFreshBlockAndFreesTheOld) {
    CStreamBuf buf;
    buf.AllocateBuf(32);
    char* first = buf.GetBuf();
    ArrayAllocations::Scope scope;
    buf.AllocateBuf(32);
    EXPECT_NE(buf.GetBuf(), first);
    EXPECT_EQ(scope.Count(), 1u);
    EXPECT_EQ(scope.Last(), 32u);
    EXPECT_EQ(ArrayAllocations::Deletions(), 1);
}

TEST(CStreamBufTest, ZeroClearsFromTheStartToTheEndOnly) {
    CStreamBuf buf;
    buf.Zero(0);  // no block: nothing to do
    buf.AllocateBuf(8);
    std::memset(buf.GetBuf(), 'x', 8);
    buf.Zero(8);
    buf.Zero(100);
    buf.Zero(-1);
    EXPECT_EQ(std::string(buf.GetBuf(), 8), "xxxxxxxx");
    buf.Zero(5);
    EXPECT_EQ(std::string(buf.GetBuf(), 8), std::string("xxxxx\0\0\0", 8));
    buf.Zero(0);
    EXPECT_EQ(std::string(buf.GetBuf(), 8), std::string(8, '\0'));
}

TEST(CStreamBufTest, ReleaseHandsTheBlockOver) {
    CStreamBuf empty;
    EXPECT_EQ(empty.Release(), nullptr);

    char* block;
    {
        CStreamBuf buf;
        buf.AllocateBuf(4);
        block = buf.GetBuf();
        EXPECT_EQ(buf.Release(), block);
        EXPECT_EQ(buf.GetBuf(), nullptr);
        EXPECT_EQ(buf.GetLength(), 0);
    }  // the destructor must not free the block it handed over
    std::memcpy(block, "abc", 4);
    EXPECT_STREQ(block, "abc");
    delete[] block;
}

TEST(CStreamBufTest, DeleteBufIsRepeatable) {
    CStreamBuf buf;
    buf.DeleteBuf();
    buf.AllocateBuf(4);
    buf.DeleteBuf();
    buf.DeleteBuf();
    EXPECT_EQ(buf.GetBuf(), nullptr);
    EXPECT_EQ(buf.GetLength(), 0);
}

TEST(CStreamBufTest, SetLengthRecordsOnlySizesTheBlockHolds) {
    CStreamBuf buf;
    buf.AllocateBuf(64);
    char* block = buf.GetBuf();
    buf.SetLength(10);
    EXPECT_EQ(buf.GetLength(), 10);
    EXPECT_EQ(buf.GetBuf(), block);
    // Larger or negative values are ignored, so Zero stays inside the block.
    buf.SetLength(65536);
    buf.SetLength(-3);
    EXPECT_EQ(buf.GetLength(), 10);
    buf.Zero(0);
}
