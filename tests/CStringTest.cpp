#include "CString.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text(const CString& s) { return std::string(s.GetBuffer(), s.GetLength()); }

// Every byte from the length to `blockSize` is 0: content never leaves stale
// bytes behind it.
void ExpectClearedFrom(const CString& s, int blockSize) {
    for (int i = s.GetLength(); i < blockSize; ++i) ASSERT_EQ(s.GetBuffer()[i], '\0') << "at " << i;
}

}  // namespace

TEST(CStringTest, EmptyStringsReadAsTheEmptyText) {
    const char* none = nullptr;
    for (const CString& s : {CString(), CString(""), CString(none)}) {
        EXPECT_EQ(s.GetLength(), 0);
        ASSERT_NE(s.GetBuffer(), nullptr);
        EXPECT_EQ(s.GetBuffer()[0], '\0');
        ExpectClearedFrom(s, 32);
    }
}

TEST(CStringTest, CountedCopiesKeepEmbeddedNuls) {
    CString withNul("ab");
    withNul += "X";
    withNul.GetBuffer()[1] = '\0';  // "a\0X"
    CString copy(withNul);
    EXPECT_EQ(Text(copy), std::string("a\0X", 3));
    CString assigned;
    assigned = withNul;
    EXPECT_EQ(Text(assigned), std::string("a\0X", 3));
    CString appended("<");
    appended += withNul;
    EXPECT_EQ(Text(appended), std::string("<a\0X", 4));
    // Text given as a pointer stops at its NUL.
    CString fromPointer;
    fromPointer = withNul.GetBuffer();
    EXPECT_EQ(Text(fromPointer), "a");
}

TEST(CStringTest, IndexingGivesTheTerminatorAtTheLengthAndMinusOneBeyond) {
    CString s("ab\xff");
    EXPECT_EQ(s[0], 'a');
    EXPECT_EQ(s.GetAt(1), 'b');
    EXPECT_EQ(s[2], -1);  // all bits set reads as -1 too
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(s.GetAt(3), 0);
    EXPECT_EQ(s[4], -1);
    EXPECT_EQ(s.GetAt(4), -1);
    EXPECT_EQ(s[-1], -1);
}

TEST(CStringTest, AppendingAStringToItselfDoublesIt) {
    // 10 + 10 stays inside the 64-byte block; 40 + 40 moves to a new one.
    for (int length : {10, 40}) {
        const std::string original(length, 'q');
        CString s(original.c_str());
        s += s;
        EXPECT_EQ(Text(s), original + original);

        CString t(original.c_str());
        t = t + t;
        EXPECT_EQ(Text(t), original + original);

        CString u(original.c_str());
        u += u.GetBuffer();
        EXPECT_EQ(Text(u), original + original);
    }
}

TEST(CStringTest, AssigningFromItsOwnCharacters) {
    CString s("hello, world");
    const CString& itself = s;
    s = itself;
    EXPECT_EQ(Text(s), "hello, world");
    s = s.GetBuffer() + 7;
    EXPECT_EQ(Text(s), "world");
    ExpectClearedFrom(s, 64);
}

TEST(CStringTest, OperatorPlusLeavesItsOperandsUnchanged) {
    CString left("left");
    CString right("right");
    EXPECT_EQ(Text(left + right), "leftright");
    EXPECT_EQ(Text(left + "-text"), "left-text");
    EXPECT_EQ(Text("text-" + right), "text-right");
    EXPECT_EQ(Text(static_cast<const char*>(nullptr) + right), "right");
    EXPECT_EQ(Text(left), "left");
    EXPECT_EQ(Text(right), "right");
}

TEST(CStringTest, ShorterAssignmentLeavesNoStaleBytes) {
    CString s(std::string(100, 'x').c_str());
    s = "y";
    EXPECT_EQ(Text(s), "y");
    ExpectClearedFrom(s, 64);
}

TEST(CStringTest, LongestContentFitsAndLongerIsRefusedWithoutThrowing) {
    const std::string longest(65503, 'a');
    CString s(longest.c_str());
    EXPECT_EQ(s.GetLength(), 65503);

    const std::string tooLong(65504, 'b');
    CString t("kept");
    EXPECT_NO_THROW(t = tooLong.c_str());
    EXPECT_EQ(Text(t), "kept");

    // A refused construction still gives a usable, empty string.
    CString u(tooLong.c_str());
    EXPECT_EQ(u.GetLength(), 0);
    EXPECT_STREQ(u.GetBuffer(), "");
    u += "usable";
    EXPECT_EQ(Text(u), "usable");
}

TEST(CStringTest, AppendsInPlaceFillTheLargestBlockToItsLastByte) {
    // 65503 characters live in a 65536-byte block; appends in place may take
    // it to 65535, and the next one is refused, leaving the string as it was.
    CString s(std::string(65503, 'a').c_str());
    s += std::string(32, 'b').c_str();
    EXPECT_EQ(s.GetLength(), 65535);
    s += "c";
    EXPECT_EQ(s.GetLength(), 65535);
    EXPECT_EQ(s[65534], 'b');
    EXPECT_EQ(s[65535], 0);
    // Self-assignment of a string longer than any fresh block keeps it whole.
    const CString& itself = s;
    s = itself;
    EXPECT_EQ(s.GetLength(), 65535);
    EXPECT_EQ(s[65534], 'b');
}
