// What the fuzzer's short texts do not reach: null and own texts, limits, formats, locales, blocks.
#include <cfloat>
#include <clocale>
#include <cstdint>
#include <cwchar>
#include <sstream>

#include "TestSupport.h"

namespace {

const std::string kLongText(3000, 'L');

// Exactly what snprintf writes, up to its first NUL: every argument must be
// read with the type its own directive gives it.
template <typename... Args>
void ExpectSameAsSnprintf(const char* format, Args... args) {
    char expected[8192];
    std::snprintf(expected, sizeof expected, format, args...);
    // Once into a fresh 32-byte block, once into a large block that is kept.
    CString fresh, large(std::string(500, '#').c_str());
    fresh.Format(format, args...);
    large.Format(format, args...);
    EXPECT_EQ(Text(fresh), expected) << format;
    EXPECT_EQ(Text(large), expected) << format;
    for (int i = large.GetLength(); i < 544; ++i) ASSERT_EQ(large.GetBuffer()[i], '\0') << format;
}

}  // namespace

// Each call beside its literal result: the searches, the characters and the comparisons a line per
// function; then in order the concatenations (which leave their operand), null and own texts, the
// case conversion and the stream operators.
TEST(CStringTest, SearchesComparisonsConcatenationsAndStreams) {
    const char* none = nullptr;
    const std::string q10(10, 'q'), q40(40, 'q');  // 10 + 10 stay in a 64-byte block, 40 + 40 move
    CString s("Hello, World"), nul("AB_CB"), lead("_"), word("x"), t(q10.c_str()), u(q40.c_str());
    CString v, w;
    nul.GetBuffer()[2] = '\0';
    lead.GetBuffer()[0] = '\0';  // empty as a text, not by its length
    using Results = std::vector<long>;
    const auto at = [&](const char* found) {
        return found != nullptr ? found - s.GetBuffer() : -1;
    };
    EXPECT_EQ(Results({at(s.Find("World")), at(s.Find("x")), at(s.Find('o')), at(s.Find('\0'))}),
              Results({7, -1, 4, 12}));  // NUL finds the terminator
    EXPECT_EQ(Results({s.FindIndex("World"), s.FindIndex(""), CString().FindIndex(""),
                       nul.FindIndex("CB")}),
              Results({7, 0, -1, -1}));  // the text ends at the NUL
    EXPECT_EQ(
        Results({s.FindIndex('o'), nul.FindIndex('C'), nul.FindIndex('\0'), s.FindIndex('z')}),
        Results({4, 3, 2, -1}));  // by the length, past the NUL
    EXPECT_EQ(
        Results({s.ReverseFindIndex('o'), nul.ReverseFindIndex('B'), s.ReverseFindIndex('z')}),
        Results({8, 1, -1}));  // up to the NUL
    EXPECT_EQ(Results({s[0], s.GetAt(12), s[13], s[-1]}), Results({'H', 0, -1, -1}));
    EXPECT_EQ(Results({s == CString("Hello, World"), nul == CString("AB"), nul != CString("AB"),
                       s == none, s != "Hello, World", s != "Hello", s != none}),
              Results({1, 1, 0, 0, 0, 1, 1}));
    EXPECT_EQ(Results({s.EqualByNoCase("hELLO, wORLD"), s.EqualByNoCase("hello"),
                       nul.EqualByNoCase("ab"), nul.EqualByNoCase("ab_cb")}),
              Results({1, 0, 0, 0}));  // a NUL never matches
    EXPECT_EQ(Results({lead.IsEmpty(), CString().IsEmpty()}), Results({0, 1}));
    std::istringstream in("  first\tsecond ");
    std::ostringstream out;
    const std::pair<std::string, std::string> kTexts[] = {
        {Text(s + "!"), "Hello, World!"},
        {Text(s + CString("?")), "Hello, World?"},
        {Text(s), "Hello, World"},
        {Text(t + t), q10 + q10},
        {(u = u + u, Text(u)), q40 + q40},
        {(t += t.GetBuffer(), Text(t)), q10 + q10},
        {(u = q40.c_str(), u += u.GetBuffer(), Text(u)), q40 + q40},
        {Text(CString(none) + none), ""},
        {(v = "abc", v += none, Text(none + v)), "abc"},
        {(v.Format(none, 1), Text(v)), ""},
        {(v = "abc", v = none, Text(v)), ""},
        {(v = "hello, world", v = static_cast<const CString&>(v), Text(v)), "hello, world"},
        {(v = v.GetBuffer() + 7, Text(v)), "world"},
        {Text("<" + s), "<Hello, World"},
        {(w = "xxabxx", w.TrimLeft('x'), w.TrimRight('x'), std::string(w.GetBuffer())), "ab"},
        {(w = "abc", w.Left(9), w.Mid(-1), Text(w)), "abc"},
        {(w.Left(-1), Text(w)), ""},
        {(w = "abc", w.Mid(3), Text(w)), ""},
        // Formats and arguments from the string's own characters, positional or not, and a
        // conversion printed as it stands.
        {(w = "abcdef", w.Format("%s-%.2s", w.GetBuffer() + 3, w.GetBuffer()), Text(w)), "def-ab"},
        {(w = "<%s>", w.Format(w.GetBuffer(), "x"), Text(w)), "<x>"},
        {(w = "abcdef", w.Format("%2$s|%1$.3s", w.GetBuffer(), w.GetBuffer() + 4), Text(w)),
         "ef|abc"},
        {(w = "%Q%s", w.Format(w.GetBuffer(), "z"), Text(w)), "%Qz"},
        {(nul.MakeLower(), Text(nul)), std::string("ab\0cb", 5)},
        {(out << nul, out.str()), "ab"},
        {(in >> word, Text(word)), "first"},
        {(in >> word, Text(word)), "second"},
        {(in >> word, Text(word) + (in.fail() ? " failed" : "")), " failed"},
    };
    for (std::size_t i = 0; i < std::size(kTexts); ++i)
        EXPECT_EQ(kTexts[i].first, kTexts[i].second) << "row " << i;
    for (int i = 5; i < 64; ++i) ASSERT_EQ(v.GetBuffer()[i], '\0') << i;  // nothing stale behind
}

TEST(CStringTest, FormatGivesWhatSnprintfGives) {
    ExpectSameAsSnprintf("%d|%i|%5d|%-5d|%05d|%+d|% d|%'d|%Id %s", INT_MIN, 1, 2, 3, 4, 5, 6,
                         1234567, 89, "int");
    ExpectSameAsSnprintf("%x %X %#x %o %#o %u %b %#B %08b %s", 255u, 255u, 255u, 8u, 8u, UINT_MAX,
                         5u, 6u, 7u, "unsigned");
    ExpectSameAsSnprintf("%ld %lu %lld %llu %llx %lB %s", LONG_MIN, ULONG_MAX, LLONG_MIN,
                         ULLONG_MAX, 0x123456789abcdefULL, 6ul, "long");
    ExpectSameAsSnprintf("%hhd %hd %hhu %zu %zd %td %jd %ju %s", 300, 70000, 511, SIZE_MAX,
                         std::ptrdiff_t{-5}, std::ptrdiff_t{-6}, INTMAX_MIN, UINTMAX_MAX, "sizes");
    ExpectSameAsSnprintf("%*d|%-*d|%.*d|%*.*f %s", 10, 5, 8, 6, 4, 7, 9, 3, 3.14159, "stars");
    ExpectSameAsSnprintf("%c|%5c|%-3c|%lc %ls|100%% %%d %%s %%%s", 'A', 'x', 'y', wint_t{L'w'},
                         L"wide", "after percent signs");
    ExpectSameAsSnprintf("%c%c|", 'a', 0);
    ExpectSameAsSnprintf("%s|%s|%5s|%-5s|%.3s|%.*s|%10.2s|%.0s%s|%2000s|", "", "text", "ab", "cd",
                         "abcdef", 2, "xyz", "long", kLongText.c_str(), "shown", "right");
    ExpectSameAsSnprintf("%10.4f|%-10.2e|%g|%G|%a|%A|%Lf %p %s", 3.14159, 12345.678, 0.0001, 1e-10,
                         1.0, -0.5, 2.5L, static_cast<const void*>(&kLongText), "floats");
    // 300-odd, 1000 and almost 5000 characters against an estimate of 12 each.
    ExpectSameAsSnprintf("%f|%.1000f|%Lf", DBL_MAX, 1.0 / 3, LDBL_MAX);
    ExpectSameAsSnprintf("%5%|%y|%d", 3);
    // vsnprintf fails on a '%' ending the format: the string stays terminated within its length.
    const char* rejected = "trailing %d %";
    CString s(std::string(100, 'o').c_str());
    s.Format(rejected, 1);
    EXPECT_EQ(static_cast<std::size_t>(s.GetLength()), std::strlen(s.GetBuffer()));
    // Whatever the build's flags, %n counts, in a format held in writable memory too.
    char counting[] = "ab%ncd";
    int count = -1;
    s.Format(counting, &count);
    EXPECT_EQ(Text(s), "abcd");
    EXPECT_EQ(count, 2);
}

// Latin-1 gives case to bytes above 0x7f, which the C locale leaves alone.
TEST(CStringTest, CaseFollowsTheCurrentLocale) {
    if (std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1") == nullptr)
        GTEST_SKIP() << "no locale de_DE.ISO-8859-1 (localedef -i de_DE -f ISO-8859-1 makes it)";
    CString word("\xe4rger");  // "ärger"
    EXPECT_TRUE(word.EqualByNoCase("\xc4rGeR"));
    EXPECT_FALSE(word.EqualByNoCase("\xc4RGEN"));
    word.MakeUpper();
    EXPECT_EQ(Text(word), "\xc4RGER");
    std::setlocale(LC_CTYPE, "C");
    EXPECT_FALSE(word.EqualByNoCase("\xe4rger"));  // back to ASCII case only
}

using Sizes = std::vector<std::size_t>;

TEST(CStringTest, ConstructionAndAssignmentTakeExactlyOneBlockOfTheRuleSize) {
    // Characters and the block the size rule gives them.
    const std::pair<int, std::size_t> kBlockRule[] = {
        {0, 32}, {1, 64}, {31, 64}, {32, 96}, {63, 96}, {64, 128}, {100, 160}, {65503, 65536}};
    CString target(std::string(100, 'y').c_str());
    for (const auto& [length, block] : kBlockRule) {
        const std::string text(length, 'x');
        {
            ArrayAllocations allocations;
            CString fromText(text.c_str()), copy(fromText), fresh;  // a new string's block: 32
            EXPECT_EQ(allocations.sizes, Sizes({block, block, 32})) << length;
        }
        const CString source(text.c_str());
        for (int form = 0; form < 3; ++form) {
            const CString& itself = target;
            ArrayAllocations allocations;
            if (form == 0) target = text.c_str();
            if (form == 1) target = source;
            if (form == 2) target = itself;  // a block already large enough is not reused
            EXPECT_EQ(allocations.sizes, Sizes{block}) << length << " form " << form;
            EXPECT_EQ(allocations.deletions, 1);
            EXPECT_EQ(Text(target), text);
        }
    }
}

// Appends and the in-place operations keep the block until the length reaches its size.
TEST(CStringTest, TheBlockIsKeptUntilTheLengthReachesItsSize) {
    CString s(std::string(100, 'x').c_str());  // 160-byte block
    const CString y("y");
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
    for (int i = 0; i < 158; ++i) s += "y";
    s += s.GetBuffer() + 158;  // its own empty tail
    s += y;
    EXPECT_EQ(allocations.sizes, Sizes{});
    s += "z";  // the 160th character reaches the block size
    EXPECT_EQ(allocations.sizes, Sizes{224});
    EXPECT_EQ(allocations.deletions, 1);
    EXPECT_EQ(Text(s), std::string(159, 'y') + "z");
}

// The block follows the estimate while the text fits it, else the text's real length.
TEST(CStringTest, FormatTakesTheBlockTheEstimateOrTheTextNeeds) {
    CString s, t;
    ArrayAllocations allocations;
    s.Format("%d", -2147483647 - 1);  // "%d" reserves 5: the text needs more, within 32
    t.Format("%d%d%d%d%d%d%d", 1, 2, 3, 4, 5, 6, 7);  // 35 reserved
    s.Format("%s", std::string(31, 'x').c_str());     // its length plus 1: 32 is not below 32
    s.Format("%300d", 1);                             // 13 reserved, 300 written
    s.Format("%s", std::string(70000, 'c').c_str());  // cut to the largest block
    EXPECT_EQ(allocations.sizes, Sizes({96, 96, 352, 65536}));
    EXPECT_EQ(s.GetLength(), 65535);
}

// A block refused, for its size or by the allocator, throws nothing: content
// that fits the old block goes there, other content changes nothing, and a
// string without any block is usable.
TEST(CStringTest, RefusedBlocksLeaveValidStrings) {
    CString s(std::string(65503, 'a').c_str());  // the largest fresh block, 65536 bytes
    // Appends in place fill it to its last byte; the next one is refused.
    s += std::string(32, 'b').c_str();
    s += "c";
    EXPECT_EQ(s.GetLength(), 65535);
    EXPECT_EQ(s[65534], 'b');
    const CString& itself = s;
    s = itself;  // no fresh block could hold it: kept whole
    EXPECT_EQ(s.GetLength(), 65535);
    const std::string tooLong(65504, 'b');
    ArrayAllocations allocations;
    allocations.FailNext(1);  // for the first text; the second is too long
    for (const char* text : {"no memory for this", tooLong.c_str()}) {
        CString refused(text);
        EXPECT_STREQ(refused.GetBuffer(), "");
        refused += "usable";
        EXPECT_EQ(Text(refused), "usable");
    }
    CString t(std::string(100, 'x').c_str());  // 160-byte block
    const char* block = t.GetBuffer();
    allocations.FailNext(1);
    t = "short";
    EXPECT_EQ(t.GetBuffer(), block);
    for (int i = 5; i < 160; ++i) ASSERT_EQ(block[i], '\0');
    t = tooLong.c_str();
    allocations.FailNext(1);
    t = std::string(200, 'z').c_str();
    allocations.FailNext(1);
    t += std::string(200, 'z').c_str();
    EXPECT_EQ(Text(t), "short");
    allocations.FailNext(1);
    t.Format("%s!", t.GetBuffer());  // its own characters cannot be written over
    EXPECT_EQ(Text(t), "short");
}
