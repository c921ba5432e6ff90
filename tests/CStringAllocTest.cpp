// Block sizes and allocation counts of CString, seen through the array forms
// of operator new and delete, which the test executable replaces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CString.h"
#include "TestSupport.h"

using Sizes = std::vector<std::size_t>;

TEST(CStringAllocTest, ConstructionAndAssignmentTakeExactlyOneBlockOfTheRuleSize) {
    // Characters and the block the size rule gives them.
    const std::pair<int, std::size_t> kBlockRule[] = {
        {0, 32}, {1, 64}, {31, 64}, {32, 96}, {63, 96}, {64, 128}, {100, 160}, {65503, 65536}};
    CString target(std::string(100, 'y').c_str());
    for (const auto& [length, block] : kBlockRule) {
        const std::string text(length, 'x');
        {
            ArrayAllocations allocations;
            CString fromText(text.c_str());
            CString copy(fromText);
            EXPECT_EQ(allocations.Sizes(), Sizes({block, block})) << length;
        }
        const CString source(text.c_str());
        for (int form = 0; form < 3; ++form) {
            const CString& itself = target;
            ArrayAllocations allocations;
            if (form == 0) target = text.c_str();
            if (form == 1) target = source;
            if (form == 2) target = itself;  // a block already large enough is not reused
            EXPECT_EQ(allocations.Sizes(), Sizes{block}) << length << " form " << form;
            EXPECT_EQ(allocations.Deletions(), 1);
            EXPECT_EQ(Text(target), text);
        }
    }
}

TEST(CStringAllocTest, AppendsStayInTheBlockUntilTheyReachItsSize) {
    CString s(std::string(31, 'a').c_str());  // 64-byte block
    const CString more(std::string(30, 'c').c_str());
    ArrayAllocations allocations;
    s += "b";
    s += more;                // 62 characters, below 64
    s += s.GetBuffer() + 62;  // its own empty tail
    EXPECT_EQ(allocations.Sizes(), Sizes{});
    s += std::string(34, 'd').c_str();  // 96 is not below 96
    EXPECT_EQ(allocations.Sizes(), Sizes{160});
    EXPECT_EQ(allocations.Deletions(), 1);
    EXPECT_EQ(Text(s),
              std::string(32, 'a').replace(31, 1, "b") + more.GetBuffer() + std::string(34, 'd'));
}

TEST(CStringAllocTest, EmptyAndTheInPlaceOperationsKeepTheBlock) {
    CString s(std::string(100, 'x').c_str());  // 160-byte block
    ArrayAllocations allocations;
    s.TrimLeft('x');
    s += "  Some Text\n\n";
    s.TrimRight('\n');
    s.MakeUpper();
    s.Mid(1);
    s.Left(3);
    EXPECT_TRUE(s.EqualByNoCase(" so"));
    EXPECT_EQ(s.FindIndex("SO"), 1);
    s.Empty();
    for (int i = 0; i < 159; ++i) s += "y";
    EXPECT_EQ(allocations.Sizes(), Sizes{});
    s += "z";  // the 160th character reaches the block size
    EXPECT_EQ(allocations.Sizes(), Sizes{224});
}

// The block follows the estimate while the text fits it; a text beyond it
// gets a block for its real length.
TEST(CStringAllocTest, FormatTakesTheBlockTheEstimateOrTheTextNeeds) {
    CString s, t;
    ArrayAllocations allocations;
    s.Format("%d", -2147483647 - 1);  // "%d" reserves 5: the text needs more, within 32
    t.Format("%d%d%d%d%d%d%d", 1, 2, 3, 4, 5, 6, 7);  // 35 reserved
    s.Format("%s", std::string(31, 'x').c_str());     // its length plus 1: 32 is not below 32
    s.Format("%300d", 1);                             // 13 reserved, 300 written
    s.Format("%s", std::string(70000, 'c').c_str());  // cut to the largest block
    EXPECT_EQ(allocations.Sizes(), Sizes({96, 96, 352, 65536}));
    EXPECT_EQ(s.GetLength(), 65535);
}

TEST(CStringAllocTest, RefusedBlocksLeaveValidStrings) {
    ArrayAllocations allocations;
    allocations.FailNext(1);
    CString refused("no memory for this");
    EXPECT_STREQ(refused.GetBuffer(), "");
    refused += "later";
    EXPECT_EQ(Text(refused), "later");

    // New content that fits the old block goes there; other content changes nothing.
    CString s(std::string(100, 'x').c_str());  // 160-byte block
    const char* block = s.GetBuffer();
    allocations.FailNext(1);
    s = "short";
    EXPECT_EQ(Text(s), "short");
    EXPECT_EQ(s.GetBuffer(), block);
    for (int i = 5; i < 160; ++i) ASSERT_EQ(block[i], '\0');
    allocations.FailNext(1);
    s = std::string(200, 'z').c_str();
    allocations.FailNext(1);
    s += std::string(200, 'z').c_str();
    EXPECT_EQ(Text(s), "short");
    allocations.FailNext(1);
    s.Format("%s!", s.GetBuffer());  // its own characters cannot be written over
    EXPECT_EQ(Text(s), "short");
}
