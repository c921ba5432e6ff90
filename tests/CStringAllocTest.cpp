// Block sizes and allocation counts of CString, seen through the array forms of
// operator new and delete, which this test executable replaces.
#include <gtest/gtest.h>

#include <string>

#include "ArrayAllocations.h"
#include "CString.h"

using ArrayAllocations::Scope;

namespace {

std::string Text(const CString& s) { return std::string(s.GetBuffer(), s.GetLength()); }

struct BlockRule {
    int length;
    std::size_t block;
};

const BlockRule kBlockRule[] = {{0, 32},   {1, 64},   {31, 64},  {32, 96},
                                {63, 96},  {64, 128}, {100, 160}, {65503, 65536}};

}  // namespace

TEST(CStringAllocTest, EveryConstructionTakesOneBlockOfTheRuleSize) {
    for (const BlockRule& rule : kBlockRule) {
        const std::string text(rule.length, 'x');
        Scope scope;
        CString fromText(text.c_str());
        ASSERT_EQ(scope.Count(), 1u) << rule.length;
        EXPECT_EQ(scope.Last(), rule.block) << rule.length;

        CString copy(fromText);
        ASSERT_EQ(scope.Count(), 2u) << rule.length;
        EXPECT_EQ(scope.Last(), rule.block) << rule.length;
    }
    Scope scope;
    CString empty;
    EXPECT_EQ(scope.Sizes(), std::vector<std::size_t>{32});
}

TEST(CStringAllocTest, EveryAssignmentTakesExactlyOneFreshBlock) {
    CString target(std::string(100, 'y').c_str());
    for (const BlockRule& rule : kBlockRule) {
        const std::string text(rule.length, 'x');
        CString source(text.c_str());
        {
            Scope scope;
            target = text.c_str();
            EXPECT_EQ(scope.Sizes(), std::vector<std::size_t>{rule.block}) << rule.length;
            EXPECT_EQ(ArrayAllocations::Deletions(), 1) << rule.length;
        }
        {
            Scope scope;
            target = source;
            EXPECT_EQ(scope.Sizes(), std::vector<std::size_t>{rule.block}) << rule.length;
            EXPECT_EQ(ArrayAllocations::Deletions(), 1) << rule.length;
        }
        // A block that is already large enough is not reused.
        const CString& itself = target;
        Scope scope;
        target = itself;
        EXPECT_EQ(scope.Sizes(), std::vector<std::size_t>{rule.block}) << rule.length;
        EXPECT_EQ(Text(target), text);
    }
}

TEST(CStringAllocTest, AppendsBelowTheBlockSizeAllocateNothing) {
    CString s(std::string(31, 'a').c_str());  // 64-byte block
    const CString more(std::string(30, 'c').c_str());
    Scope scope;
    s += "b";
    s += "";
    s += more;  // 62 characters, below 64
    s += s.GetBuffer() + 62;  // the empty tail of itself
    EXPECT_EQ(scope.Count(), 0u);
    EXPECT_EQ(s.GetLength(), 62);
}

TEST(CStringAllocTest, TheAppendThatReachesTheBlockSizeMovesOnceToTheRuleSize) {
    CString s(std::string(32, 'a').c_str());  // 96-byte block
    Scope scope;
    s += std::string(64, 'b').c_str();  // 96: not below 96
    EXPECT_EQ(scope.Sizes(), std::vector<std::size_t>{160});
    EXPECT_EQ(ArrayAllocations::Deletions(), 1);
    EXPECT_EQ(Text(s), std::string(32, 'a') + std::string(64, 'b'));
}

TEST(CStringAllocTest, RefusedConstructionLeavesAnEmptyUsableString) {
    Scope scope;
    ArrayAllocations::FailNext(1);
    CString s("no memory for this");
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_STREQ(s.GetBuffer(), "");
    EXPECT_STREQ(static_cast<const char*>(CString(s)), "");
    s += "later";
    EXPECT_EQ(Text(s), "later");
}

TEST(CStringAllocTest, RefusedAssignmentStoresContentThatFitsTheOldBlock) {
    CString s(std::string(100, 'x').c_str());  // 160-byte block
    const char* block = s.GetBuffer();
    Scope scope;
    ArrayAllocations::FailNext(1);
    s = "short";
    EXPECT_EQ(Text(s), "short");
    EXPECT_EQ(s.GetBuffer(), block);
    for (int i = 5; i < 160; ++i) ASSERT_EQ(block[i], '\0');
}

TEST(CStringAllocTest, RefusedAssignmentOrAppendThatDoesNotFitChangesNothing) {
    CString s("kept");  // 64-byte block
    Scope scope;
    ArrayAllocations::FailNext(1);
    s = std::string(80, 'z').c_str();
    EXPECT_EQ(Text(s), "kept");
    ArrayAllocations::FailNext(1);
    s += std::string(80, 'z').c_str();
    EXPECT_EQ(Text(s), "kept");
}

TEST(CStringAllocTest, FormatKeepsTheBlockWhileTheEstimateIsBelowItsSize) {
    CString s;
    char* block = s.GetBuffer();
    Scope scope;
    s.Format("%d", 42);
    EXPECT_EQ(scope.Count(), 0u);
    EXPECT_EQ(s.GetBuffer(), block);
    EXPECT_EQ(Text(s), "42");
    // "%d" reserves 5, but INT_MIN still fits the 32-byte block.
    s.Format("%d", -2147483647 - 1);
    EXPECT_EQ(scope.Count(), 0u);
    EXPECT_EQ(Text(s), "-2147483648");
}

TEST(CStringAllocTest, FormatMovesToTheEstimatesBlockWhenTheEstimateReachesTheSize) {
    // "%s" reserves its text's length plus 1: 31 characters make 32, which is
    // not below the 32-byte block.
    CString s;
    Scope scope;
    s.Format("%s", std::string(31, 'x').c_str());
    EXPECT_EQ(scope.Sizes(), std::vector<std::size_t>{96});
    EXPECT_EQ(s.GetLength(), 31);
}

TEST(CStringAllocTest, FormattedTextLongerThanTheEstimateGetsABlockForItsRealLength) {
    {
        CString s;
        Scope scope;
        s.Format("%300d", 1);  // the estimate is 13
        EXPECT_EQ(scope.Sizes(), std::vector<std::size_t>{352});
        EXPECT_EQ(s.GetLength(), 300);
    }
    // The estimate's block, and the real length's, would be too large: the
    // text is cut to the largest block.
    const std::string huge(70000, 'c');
    CString cut;
    Scope scope;
    cut.Format("%s", huge.c_str());
    EXPECT_EQ(scope.Sizes(), std::vector<std::size_t>{65536});
    EXPECT_EQ(cut.GetLength(), 65535);
}

TEST(CStringAllocTest, InPlaceOperationsNeverAllocate) {
    CString s("  Some Text\n\n");
    CString other("x");
    Scope scope;
    s.TrimLeft(' ');
    s.TrimRight('\n');
    s.MakeUpper();
    s.MakeLower();
    s.Mid(1);
    s.Left(3);
    EXPECT_TRUE(s.EqualByNoCase("OME"));
    EXPECT_FALSE(s == other);
    EXPECT_EQ(s.FindIndex("me"), 1);
    s.Empty();
    EXPECT_EQ(scope.Count(), 0u);
}

TEST(CStringAllocTest, EmptyKeepsTheBlockForLaterAppends) {
    CString s(std::string(100, 'x').c_str());  // 160-byte block
    s.Empty();
    Scope scope;
    for (int i = 0; i < 159; ++i) s += "y";
    EXPECT_EQ(scope.Count(), 0u);
    s += "z";  // the 160th character reaches the block size
    EXPECT_EQ(scope.Sizes(), std::vector<std::size_t>{224});
}
