// CString behaviour. The string fuzzer checks every operation against a
// std::string model at random; these tests pin the edges by name, the largest
// contents, aliasing, streams and locales. Block sizes and allocation counts
// are in CStringAllocTest, formatting against snprintf in CStringFormatTest.
#include "CString.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

std::string Text(const CString& s) { return std::string(s.GetBuffer(), s.GetLength()); }

// "ab\0c": a string with a NUL among its characters.
CString WithInnerNul() {
    CString s("abXc");
    s.GetBuffer()[2] = '\0';
    return s;
}

}  // namespace

TEST(CStringTest, EmptyAndNullTextsGiveTheEmptyString) {
    const char* none = nullptr;
    for (const CString& s : {CString(), CString(""), CString(none)}) {
        EXPECT_EQ(s.GetLength(), 0);
        EXPECT_STREQ(s.GetBuffer(), "");
    }
    CString s("abc");
    s += none;
    EXPECT_EQ(Text(s), "abc");
    s = none;
    EXPECT_EQ(Text(s), "");
    s.Format(none, 1);
    EXPECT_EQ(Text(s), "");
}

TEST(CStringTest, CopiesBetweenStringsKeepInnerNulsAndTextsStopAtThem) {
    const CString withNul = WithInnerNul();
    CString assigned;
    assigned = withNul;
    CString appended("<");
    appended += withNul;
    EXPECT_EQ(Text(CString(withNul)), std::string("ab\0c", 4));
    EXPECT_EQ(Text(assigned), std::string("ab\0c", 4));
    EXPECT_EQ(Text(appended), std::string("<ab\0c", 5));
    assigned = withNul.GetBuffer();
    EXPECT_EQ(Text(assigned), "ab");
}

TEST(CStringTest, IndexingGivesTheTerminatorAtTheLengthAndMinusOneBeyond) {
    CString s("ab\xff");
    EXPECT_EQ(s[0], 'a');
    EXPECT_EQ(s.GetAt(2), -1);  // all bits set reads as -1 too
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(s.GetAt(3), 0);
    EXPECT_EQ(s[4], -1);
    EXPECT_EQ(s.GetAt(4), -1);
    EXPECT_EQ(s[-1], -1);
}

TEST(CStringTest, OwnCharactersAreSafeSources) {
    // 10 + 10 stays in the 64-byte block; 40 + 40 moves to a new one.
    for (int length : {10, 40}) {
        const std::string original(length, 'q');
        CString appended(original.c_str()), summed(original.c_str()), fromPointer(original.c_str());
        appended += appended;
        summed = summed + summed;
        fromPointer += fromPointer.GetBuffer();
        for (const CString* s : {&appended, &summed, &fromPointer}) EXPECT_EQ(Text(*s), original + original);
    }
    CString s("hello, world");
    const CString& itself = s;
    s = itself;
    EXPECT_EQ(Text(s), "hello, world");
    s = s.GetBuffer() + 7;
    EXPECT_EQ(Text(s), "world");
    for (int i = 5; i < 64; ++i) ASSERT_EQ(s.GetBuffer()[i], '\0') << i;  // nothing stale behind
}

TEST(CStringTest, PlusLeavesItsOperandsUnchanged) {
    CString left("left"), right("right");
    EXPECT_EQ(Text(left + right), "leftright");
    EXPECT_EQ(Text(left + "-text"), "left-text");
    EXPECT_EQ(Text("text-" + right), "text-right");
    EXPECT_EQ(Text(static_cast<const char*>(nullptr) + right), "right");
    EXPECT_EQ(Text(left), "left");
    EXPECT_EQ(Text(right), "right");
}

TEST(CStringTest, LargestContentsAndRefusalsThatThrowNothing) {
    const std::string tooLong(65504, 'b');
    CString s(std::string(65503, 'a').c_str());  // the largest fresh block, 65536 bytes
    EXPECT_EQ(s.GetLength(), 65503);
    // Appends in place fill it to its last byte; the next one is refused.
    s += std::string(32, 'b').c_str();
    s += "c";
    EXPECT_EQ(s.GetLength(), 65535);
    EXPECT_EQ(s[65534], 'b');
    const CString& itself = s;
    s = itself;  // no fresh block could hold it: kept whole
    EXPECT_EQ(s.GetLength(), 65535);

    CString kept("kept");
    EXPECT_NO_THROW(kept = tooLong.c_str());
    EXPECT_EQ(Text(kept), "kept");
    CString refused(tooLong.c_str());  // no block at all, yet usable
    EXPECT_STREQ(refused.GetBuffer(), "");
    refused += "usable";
    EXPECT_EQ(Text(refused), "usable");
}

TEST(CStringTest, TextOperationsStopAtTheFirstNulAndTheOthersGoByLength) {
    CString withNul = WithInnerNul();
    EXPECT_TRUE(withNul == "ab");
    EXPECT_FALSE(withNul.EqualByNoCase("ab"));  // the lengths differ
    EXPECT_EQ(withNul.FindIndex("c"), -1);
    EXPECT_EQ(withNul.Find('c'), nullptr);
    EXPECT_EQ(withNul.FindIndex('c'), 3);
    EXPECT_EQ(withNul.FindIndex('\0'), 2);
    EXPECT_EQ(withNul.ReverseFindIndex('\0'), 2);
    withNul.MakeUpper();
    EXPECT_EQ(Text(withNul), std::string("AB\0C", 4));

    CString abc("abc"), empty;
    EXPECT_EQ(abc.FindIndex(""), 0);
    EXPECT_EQ(empty.FindIndex(""), -1);
    EXPECT_EQ(empty.Find(""), empty.GetBuffer());
    EXPECT_EQ(abc.Find('\0'), abc.GetBuffer() + 3);
    EXPECT_EQ(abc.FindIndex('\0'), -1);  // the terminator is never found by position
    EXPECT_TRUE(CString("Hello").EqualByNoCase("hELLO"));
    EXPECT_TRUE(empty.EqualByNoCase(""));
}

TEST(CStringTest, TrimsAndCutsWorkInsideTheBlock) {
    CString lineFeed("\n"), spaces("   "), header("[abc]"), s("abc");
    lineFeed.TrimRight('\n');
    spaces.TrimLeft(' ');
    header.Mid(1);
    EXPECT_EQ(Text(lineFeed), "");
    EXPECT_EQ(Text(spaces), "");
    EXPECT_EQ(Text(header), "abc]");
    for (int i = 0; i < 64; ++i) ASSERT_EQ(spaces.GetBuffer()[i], '\0');
    header.Mid(-1);  // unchanged
    header.Mid(4);
    EXPECT_EQ(Text(header), "");
    s.Left(-1);  // a failed search's -1 empties
    EXPECT_EQ(Text(s), "");
}

TEST(CStringTest, FormatEndsAtANulArgumentAndCutsAtTheLargestBlock) {
    CString s(std::string(100, 'o').c_str());
    s.Format("a%cb", 0);
    EXPECT_EQ(Text(s), "a");
    for (int i = 1; i < 160; ++i) ASSERT_EQ(s.GetBuffer()[i], '\0') << i;
    const std::string huge(100000, 'h');
    s.Format("<%s>", huge.c_str());
    EXPECT_EQ(Text(s), "<" + huge.substr(0, 65534));
}

// Whatever the form, the text is what snprintf makes of untouched copies.
TEST(CStringTest, FormatMayReadItsOwnCharacters) {
    char expected[256];
    for (int length : {3, 40}) {  // within the kept block, and beyond it
        const std::string old = "o" + std::string(length - 1, 'p');
        // Positional directives, and a conversion the estimate does not know.
        for (const char* format : {"[%s|%.2s|%s]", "%2$s/%1$s/%2$s", "%Q%s-%s"}) {
            std::snprintf(expected, sizeof expected, format, old.c_str(), old.c_str() + 1,
                          old.c_str());
            CString s(old.c_str());
            s.Format(format, s.GetBuffer(), s.GetBuffer() + 1, static_cast<const char*>(s));
            EXPECT_EQ(Text(s), expected) << format;
        }
    }
    // The format itself in the block: 13 "%d" reserve more than its 64 bytes;
    // the short one would be overwritten by its own text.
    for (const char* format : {"%d%d%d%d%d%d%d%d%d%d%d%d%d", "%d-%d"}) {
        std::snprintf(expected, sizeof expected, format, 1234567, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                      12, 13);
        CString s(format);
        s.Format(s.GetBuffer(), 1234567, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13);
        EXPECT_EQ(Text(s), expected) << format;
    }
}

TEST(CStringTest, StreamsWriteTheTextAndReadOneWord) {
    std::ostringstream out;
    out << WithInnerNul() << '|' << CString("d");
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
    EXPECT_TRUE(word.EqualByNoCase("\xc4rGeR"));
    EXPECT_FALSE(word.EqualByNoCase("\xc4RGEN"));
    word.MakeUpper();
    EXPECT_EQ(Text(word), "\xc4RGER");
    std::setlocale(LC_CTYPE, "C");
    EXPECT_FALSE(word.EqualByNoCase("\xe4rger"));  // back to ASCII case only

    unsetenv("LOCPATH");
    std::system((std::string("rm -rf ") + directory).c_str());
}
