#include "CStreamBuf.h"

#include <memory>

#include "TestSupport.h"

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

// Every request with a positive size takes a fresh block, the others free it;
// Zero and SetLength never reach past the block.
TEST(CStreamBufTest, BlocksAreFreshAndZeroAndReleaseStayWithinThem) {
    CStreamBuf buf;
    EXPECT_EQ(buf.GetBuf(), nullptr);
    EXPECT_EQ(buf.GetLength(), 0);
    buf.Zero(0);  // no block: nothing to do
    EXPECT_EQ(buf.Release(), nullptr);
    ArrayAllocations allocations;
    buf.AllocateBuf(8);
    buf.AllocateBuf(8);
    std::memset(buf.GetBuf(), 'x', 8);
    for (int start : {8, 100, -1, 5}) buf.Zero(start);
    EXPECT_EQ(std::string(buf.GetBuf(), 8), std::string("xxxxx\0\0\0", 8));
    for (int size : {4, 65536, -3}) buf.SetLength(size);
    buf.Zero(0);
    EXPECT_EQ(std::string(buf.GetBuf(), 8), std::string("\0\0\0\0x\0\0\0", 8));
    char* block = buf.GetBuf();
    const std::unique_ptr<char[]> released(buf.Release());  // the caller's now
    EXPECT_EQ(released.get(), block);
    EXPECT_EQ(buf.GetLength(), 0);
    for (int size : {0, -1}) {
        buf.AllocateBuf(4);
        buf.AllocateBuf(size);
        EXPECT_EQ(buf.GetBuf(), nullptr);
        EXPECT_EQ(buf.GetLength(), 0);
    }
    buf.DeleteBuf();  // on an empty buffer: nothing
    EXPECT_EQ(allocations.sizes, std::vector<std::size_t>({8, 8, 4, 4}));
    EXPECT_EQ(allocations.deletions, 3);
}
