#include "CString.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <sstream>
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

TEST(CStringTest, NullTextIsTheEmptyText) {
    const char* none = nullptr;
    CString s("abc");
    s += none;
    EXPECT_EQ(Text(s), "abc");
    s = none;
    EXPECT_EQ(Text(s), "");
    s.Format(none, 1);
    EXPECT_EQ(Text(s), "");
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

TEST(CStringTest, ComparisonsGoByTextUpToTheFirstNul) {
    CString withNul("abXc");
    withNul.GetBuffer()[2] = '\0';  // "ab\0c", length 4
    EXPECT_TRUE(withNul == "ab");
    EXPECT_FALSE(withNul != "ab");
    EXPECT_TRUE(withNul == CString("ab"));
    EXPECT_FALSE(withNul.EqualByNoCase("ab"));  // the lengths differ
    EXPECT_FALSE(withNul.EqualByNoCase("abXc"));

    CString hello("Hello");
    EXPECT_TRUE(hello.EqualByNoCase("hELLO"));
    EXPECT_FALSE(hello.EqualByNoCase("Hell"));
    EXPECT_FALSE(hello.EqualByNoCase("Hellp"));
    EXPECT_TRUE(CString().EqualByNoCase(""));
    EXPECT_TRUE(hello != "hello");
    EXPECT_TRUE(hello != CString("Hello!"));
}

TEST(CStringTest, TextSearchesStopAtTheFirstNul) {
    CString abc("abc");
    CString empty;
    EXPECT_EQ(abc.Find(""), abc.GetBuffer());
    EXPECT_EQ(empty.Find(""), empty.GetBuffer());
    EXPECT_EQ(abc.FindIndex(""), 0);
    EXPECT_EQ(empty.FindIndex(""), -1);
    EXPECT_EQ(abc.Find("bc"), abc.GetBuffer() + 1);
    EXPECT_EQ(abc.FindIndex("bc"), 1);
    EXPECT_EQ(abc.Find("cd"), nullptr);
    EXPECT_EQ(abc.FindIndex("cd"), -1);

    CString withNul("abXc");
    withNul.GetBuffer()[2] = '\0';
    EXPECT_EQ(withNul.FindIndex("c"), -1);
    EXPECT_EQ(withNul.Find('c'), nullptr);
}

TEST(CStringTest, CharacterSearches) {
    CString abc("abc");
    EXPECT_EQ(abc.Find('\0'), abc.GetBuffer() + 3);
    EXPECT_EQ(abc.FindIndex('\0'), -1);  // the terminator is never found by position
    EXPECT_EQ(abc.FindIndex('c'), 2);
    EXPECT_EQ(CString().FindIndex('a'), -1);
    EXPECT_EQ(CString().FindIndex('\0'), -1);

    // FindIndex(char) goes by the length, so it sees past an inner NUL.
    CString withNul("abXc");
    withNul.GetBuffer()[2] = '\0';
    EXPECT_EQ(withNul.FindIndex('\0'), 2);
    EXPECT_EQ(withNul.FindIndex('c'), 3);

    EXPECT_EQ(CString("a/b/c").ReverseFindIndex('/'), 3);
    EXPECT_EQ(CString("abcb").ReverseFindIndex('b'), 3);
    EXPECT_EQ(CString("abcb").ReverseFindIndex('z'), -1);
    EXPECT_EQ(CString("abcb").ReverseFindIndex('\0'), 4);
}

TEST(CStringTest, TrimsRemoveRunsAtTheirEndOnly) {
    CString s("   x  ");
    s.TrimLeft(' ');
    EXPECT_EQ(Text(s), "x  ");
    ExpectClearedFrom(s, 64);
    s.TrimRight(' ');
    EXPECT_EQ(Text(s), "x");

    CString spaces("   ");
    spaces.TrimLeft(' ');
    EXPECT_EQ(Text(spaces), "");
    ExpectClearedFrom(spaces, 64);

    CString lineFeed("\n");
    lineFeed.TrimRight('\n');
    EXPECT_EQ(Text(lineFeed), "");
    CString value("a\n\n");
    value.TrimRight('\n');
    EXPECT_EQ(Text(value), "a");
    CString empty;
    empty.TrimRight('\n');
    empty.TrimLeft('\0');
    EXPECT_EQ(Text(empty), "");

    // Trims go by the length: NULs inside the string are characters like any other.
    CString nuls("ab");
    nuls += nuls;
    nuls.GetBuffer()[0] = '\0';
    nuls.GetBuffer()[3] = '\0';  // "\0ba\0"
    nuls.TrimLeft('\0');
    nuls.TrimRight('\0');
    EXPECT_EQ(Text(nuls), "ba");
}

TEST(CStringTest, LeftAndMidCutInsideTheBlock) {
    CString s("abc");
    s.Left(10);
    EXPECT_EQ(Text(s), "abc");
    s.Left(2);
    EXPECT_EQ(Text(s), "ab");
    ExpectClearedFrom(s, 64);
    for (int count : {0, -1}) {
        CString t("abc");
        t.Left(count);
        EXPECT_EQ(Text(t), "");
        EXPECT_EQ(t.GetLength(), 0);
    }

    CString header("[abc]");
    header.Mid(1);
    EXPECT_EQ(Text(header), "abc]");
    ExpectClearedFrom(header, 64);
    header.Mid(0);
    EXPECT_EQ(Text(header), "abc]");
    header.Mid(-1);
    EXPECT_EQ(Text(header), "abc]");
    header.Mid(4);
    EXPECT_EQ(Text(header), "");
    CString t("abc");
    t.Mid(7);
    EXPECT_EQ(Text(t), "");
}

TEST(CStringTest, CaseConversionCoversEveryCharacter) {
    CString s("MiXeD 1x");
    s.GetBuffer()[5] = '\0';  // the conversion goes by the length, past the NUL
    s.MakeUpper();
    EXPECT_EQ(Text(s), std::string("MIXED\0001X", 8));
    s.MakeLower();
    EXPECT_EQ(Text(s), std::string("mixed\0001x", 8));
    s.MakeSameCase(true);
    EXPECT_EQ(Text(s), std::string("MIXED\0001X", 8));
}

TEST(CStringTest, FormatReplacesTheContent) {
    CString s(std::string(100, 'o').c_str());
    s.Format("%d-%s-%c", -7, "x", 'c');
    EXPECT_EQ(Text(s), "-7-x-c");
    ExpectClearedFrom(s, 160);
    s.Format("a%cb", 0);  // a NUL argument ends the string there
    EXPECT_EQ(Text(s), "a");
    ExpectClearedFrom(s, 160);
}

TEST(CStringTest, FormattedTextBeyondTheLargestBlockIsCut) {
    const std::string huge(100000, 'h');
    CString s("before");
    s.Format("<%s>", huge.c_str());
    ASSERT_EQ(s.GetLength(), 65535);
    EXPECT_EQ(Text(s), "<" + huge.substr(0, 65534));
}

TEST(CStringTest, EmptyKeepsNothingButTheBlock) {
    CString s("abc");
    EXPECT_FALSE(s.IsEmpty());
    char* block = s.GetBuffer();
    s.Empty();
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(s.GetBuffer(), block);
    ExpectClearedFrom(s, 64);
    EXPECT_STREQ(static_cast<const char*>(s), "");
}

TEST(CStringTest, StreamsWriteTheTextAndReadOneWord) {
    CString withNul("abXc");
    withNul.GetBuffer()[2] = '\0';
    std::ostringstream out;
    out << withNul << '|' << CString("d");
    EXPECT_EQ(out.str(), "ab|d");

    std::istringstream in("  foo bar");
    CString word("old");
    in >> word;
    EXPECT_EQ(Text(word), "foo");
    EXPECT_EQ(in.rdbuf()->str().substr(in.tellg()), " bar");
    in >> word >> word;
    EXPECT_EQ(Text(word), "");
    EXPECT_TRUE(in.fail());
}

// Case follows the current locale. Latin-1 gives case to bytes above 0x7f,
// which the C locale leaves alone; the test compiles that locale for itself.
TEST(CStringTest, CaseFollowsTheCurrentLocale) {
    char directory[] = "/tmp/tandel-locale-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string command = std::string("localedef -i de_DE -f ISO-8859-1 ") + directory +
                                "/de_DE.ISO-8859-1 >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "localedef (Debian package locales) is needed";
    setenv("LOCPATH", directory, 1);

    CString word("\xe4rger");  // "ärger"
    EXPECT_FALSE(word.EqualByNoCase("\xc4RGER"));
    ASSERT_NE(std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1"), nullptr);
    EXPECT_TRUE(word.EqualByNoCase("\xc4RGER"));
    EXPECT_TRUE(word.EqualByNoCase("\xc4rGeR"));
    EXPECT_FALSE(word.EqualByNoCase("\xc4RGEN"));
    word.MakeUpper();
    EXPECT_EQ(Text(word), "\xc4RGER");
    std::setlocale(LC_CTYPE, "C");
    EXPECT_FALSE(word.EqualByNoCase("\xe4rger"));  // back to ASCII case only

    unsetenv("LOCPATH");
    std::system((std::string("rm -rf ") + directory).c_str());
}
