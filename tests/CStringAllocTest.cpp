// Block sizes and allocation counts of CString, seen through the array forms
// of operator new and delete, which this test executable replaces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ArrayAllocations.h"
#include "CString.h"

using ArrayAllocations::Scope;
using Sizes = std::vector<std::size_t>;

namespace {

std::string Text(const CString& s) { return std::string(s.GetBuffer(), s.GetLength()); }

// Characters and the block the size rule gives them.
const std::pair<int, std::size_t> kBlockRule[] = {{0, 32},   {1, 64},   {31, 64},   {32, 96},
                                                  {63, 96},  {64, 128}, {100, 160}, {65503, 65536}};

}  // namespace

TEST(CStringAllocTest, ConstructionAndAssignmentTakeExactlyOneBlockOfTheRuleSize) {
    CString target(std::string(100, 'y').c_str());
    for (const auto& [length, block] : kBlockRule) {
        const std::string text(length, 'x');
        {
            Scope scope;
            CString fromText(text.c_str());
            CString copy(fromText);
            EXPECT_EQ(scope.Sizes(), Sizes({block, block})) << length;
        }
        const CString source(text.c_str());
        for (int form = 0; form < 3; ++form) {
            const CString& itself = target;
            Scope scope;
            if (form == 0) target = text.c_str();
            if (form == 1) target = source;
            if (form == 2) target = itself;  // a block already large enough is not reused
            EXPECT_EQ(scope.Sizes(), Sizes{block}) << length << " form " << form;
            EXPECT_EQ(ArrayAllocations::Deletions(), 1);
            EXPECT_EQ(Text(target), text);
        }
    }
}

TEST(CStringAllocTest, AppendsBelowTheBlockSizeAllocateNothing) {
    CString s(std::string(31, 'a').c_str());  // 64-byte block
    const CString more(std::string(30, 'c').c_str());
    Scope scope;
    s += "b";
    s += more;                 // 62 characters, below 64
    s += s.GetBuffer() + 62;  // its own empty tail
    EXPECT_EQ(scope.Count(), 0u);
    EXPECT_EQ(s.GetLength(), 62);
}

TEST(CStringAllocTest, TheAppendThatReachesTheBlockSizeMovesOnceToTheRuleSize) {
    CString s(std::string(32, 'a').c_str());  // 96-byte block
    Scope scope;
    s += std::string(64, 'b').c_str();  // 96 is not below 96
    EXPECT_EQ(scope.Sizes(), Sizes{160});
    EXPECT_EQ(ArrayAllocations::Deletions(), 1);
    EXPECT_EQ(Text(s), std::string(32, 'a') + std::string(64, 'b'));
}

TEST(CStringAllocTest, EmptyAndTheInPlaceOperationsKeepTheBlock) {
    CString s(std::string(100, 'x').c_str());  // 160-byte block
    Scope scope;
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
    EXPECT_EQ(scope.Count(), 0u);
    s += "z";  // the 160th character reaches the block size
    EXPECT_EQ(scope.Sizes(), Sizes{224});
}

TEST(CStringAllocTest, FormatFollowsTheEstimateWhileTheTextFits) {
    CString s;
    Scope scope;
    s.Format("%d", 42);                 // reserves 5: the 32-byte block stays
    s.Format("%d", -2147483647 - 1);    // more than 5, still within 32
    EXPECT_EQ(scope.Count(), 0u);
    EXPECT_EQ(Text(s), "-2147483648");
    // "%s" reserves its text's length plus 1: 31 characters make 32, not below 32.
    s.Format("%s", std::string(31, 'x').c_str());
    EXPECT_EQ(scope.Sizes(), Sizes{96});
}

TEST(CStringAllocTest, FormattedTextBeyondTheEstimateGetsABlockForItsRealLength) {
    CString s;
    {
        Scope scope;
        s.Format("%300d", 1);  // the estimate is 13
        EXPECT_EQ(scope.Sizes(), Sizes{352});
    }
    const std::string huge(70000, 'c');
    Scope scope;
    s.Format("%s", huge.c_str());  // too large for any block: cut to the largest
    EXPECT_EQ(scope.Sizes(), Sizes{65536});
    EXPECT_EQ(s.GetLength(), 65535);
}

TEST(CStringAllocTest, RefusedBlocksLeaveValidStrings) {
    Scope scope;
    ArrayAllocations::FailNext(1);
    CString refused("no memory for this");
    EXPECT_STREQ(refused.GetBuffer(), "");
    refused += "later";
    EXPECT_EQ(Text(refused), "later");

    // New content that fits the old block goes there; other content changes nothing.
    CString s(std::string(100, 'x').c_str());  // 160-byte block
    const char* block = s.GetBuffer();
    ArrayAllocations::FailNext(1);
    s = "short";
    EXPECT_EQ(Text(s), "short");
    EXPECT_EQ(s.GetBuffer(), block);
    for (int i = 5; i < 160; ++i) ASSERT_EQ(block[i], '\0');
    ArrayAllocations::FailNext(1);
    s = std::string(200, 'z').c_str();
    ArrayAllocations::FailNext(1);
    s += std::string(200, 'z').c_str();
    EXPECT_EQ(Text(s), "short");
    ArrayAllocations::FailNext(1);
    s.Format("%s!", s.GetBuffer());  // its own characters cannot be written over
    EXPECT_EQ(Text(s), "short");
}
