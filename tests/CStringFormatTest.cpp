// CString::Format against snprintf: whatever the format, the text must be
// exactly what snprintf writes (up to its first NUL), and every argument must
// be read with the type its own directive gives it. A format whose arguments
// were read out of step would crash or print garbage here, and the sanitizer
// build reports any write outside the block.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "CString.h"

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
template <typename... Args>
void ExpectSameAsSnprintf(const char* format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format, args...);
    ASSERT_GE(length, 0) << format;
    std::string expected(length + 1, '\0');
    std::snprintf(&expected[0], expected.size(), format, args...);
    expected = expected.c_str();

    // Once into a fresh 32-byte block, once into a large block that is kept.
    CString fresh;
    fresh.Format(format, args...);
    EXPECT_EQ(std::string(fresh.GetBuffer(), fresh.GetLength()), expected) << format;
    CString large(std::string(500, '#').c_str());
    large.Format(format, args...);
    EXPECT_EQ(std::string(large.GetBuffer(), large.GetLength()), expected) << format;
    for (int i = large.GetLength(); i < 544; ++i) ASSERT_EQ(large.GetBuffer()[i], '\0') << format;
}
#pragma GCC diagnostic pop

const std::string kLongText(3000, 'L');

}  // namespace

TEST(CStringFormatTest, IntegersWithFlagsWidthsAndLengths) {
    ExpectSameAsSnprintf("%d", 42);
    ExpectSameAsSnprintf("%d", INT_MIN);
    ExpectSameAsSnprintf("%i|%5d|%-5d|%05d|%+d|% d", 1, 2, 3, 4, 5, 6);
    ExpectSameAsSnprintf("%x %X %#x %o %#o %u", 255u, 255u, 255u, 8u, 8u, UINT_MAX);
    ExpectSameAsSnprintf("%ld %lu", LONG_MIN, ULONG_MAX);
    ExpectSameAsSnprintf("%lld %llu %llx", LLONG_MIN, ULLONG_MAX, 0x123456789abcdefULL);
    ExpectSameAsSnprintf("%hhd %hd %hhu", 300, 70000, 511);
    ExpectSameAsSnprintf("%zu %zd %td %jd %ju", SIZE_MAX, static_cast<std::ptrdiff_t>(-5),
                         static_cast<std::ptrdiff_t>(-6), INTMAX_MIN, UINTMAX_MAX);
    ExpectSameAsSnprintf("%*d|%-*d|%.*d", 10, 5, 8, 6, 4, 7);
    ExpectSameAsSnprintf("%'d %Id", 1234567, 89);
    ExpectSameAsSnprintf("%b|%#B|%08b", 5u, 6u, 7u);
}

TEST(CStringFormatTest, CharactersAndPercentSigns) {
    ExpectSameAsSnprintf("%c", 'A');
    ExpectSameAsSnprintf("%c%c|", 'a', 0);
    ExpectSameAsSnprintf("%5c|%-3c|", 'x', 'y');
    ExpectSameAsSnprintf("100%% %d%%", 5);
    ExpectSameAsSnprintf("%%d %%s %%c %d", 9);
    ExpectSameAsSnprintf("%lc %ls", static_cast<wint_t>(L'w'), L"wide");
}

TEST(CStringFormatTest, StringsShortLongAndCut) {
    ExpectSameAsSnprintf("%s", "");
    ExpectSameAsSnprintf("<%s>", "text");
    ExpectSameAsSnprintf("%s", kLongText.c_str());
    ExpectSameAsSnprintf("%s%s%s", "a", kLongText.c_str(), "b");
    ExpectSameAsSnprintf("%5s|%-5s|%.3s|%.*s|%10.2s", "ab", "cd", "abcdef", 2, "xyz", "long");
    ExpectSameAsSnprintf("%.0s%s", kLongText.c_str(), "shown");
    ExpectSameAsSnprintf("%2000s|", "right-aligned");
}

TEST(CStringFormatTest, ArgumentsStayInStepBeforeAString) {
    // Directives other than a plain %d, %c or %s still consume their
    // arguments, and "%%s" consumes none; the %s after them must read its own.
    ExpectSameAsSnprintf("%5d %s", 7, "seven");
    ExpectSameAsSnprintf("%ld %s", 123456789L, "long");
    ExpectSameAsSnprintf("%lld %s", LLONG_MAX, "long long");
    ExpectSameAsSnprintf("%f %s", 2.5, "double");
    ExpectSameAsSnprintf("%Lf %s", 2.5L, "long double");
    ExpectSameAsSnprintf("%*.*f %s", 9, 3, 3.14159, "stars");
    ExpectSameAsSnprintf("%p %s", static_cast<const void*>(&kLongText), "pointer");
    ExpectSameAsSnprintf("%%s %s", "after a literal");
    ExpectSameAsSnprintf("%%%s", "percent then string");
    ExpectSameAsSnprintf("%c%s%d%s", 'c', "one", 2, kLongText.c_str());
    ExpectSameAsSnprintf("%b %s", 5u, "binary");
    ExpectSameAsSnprintf("%lB %s", 6ul, "long binary");
}

TEST(CStringFormatTest, FloatingPointIncludingVeryLongResults) {
    ExpectSameAsSnprintf("%10.4f|%-10.2e|%g|%G", 3.14159, 12345.678, 0.0001, 1e-10);
    ExpectSameAsSnprintf("%a %A", 1.0, -0.5);
    ExpectSameAsSnprintf("%f", DBL_MAX);  // 300-odd characters against an estimate of 12
    ExpectSameAsSnprintf("%.1000f", 1.0 / 3);
    ExpectSameAsSnprintf("%Lf", LDBL_MAX);  // almost 5000 characters
}

TEST(CStringFormatTest, FormatsThatEndOddly) {
    ExpectSameAsSnprintf("%5%|%d", 3);
    ExpectSameAsSnprintf("%y|%d", 4);
}

TEST(CStringFormatTest, AFormatTheCLibraryRejectsStillLeavesAValidString) {
    // A '%' ending the format makes snprintf fail; what it wrote before
    // failing may stay, but the string is terminated within its length.
    for (const char* initial : {"", "a previous value much longer than the result"}) {
        CString s(initial);
        const char* format = "trailing %d %";
        s.Format(format, 1);
        EXPECT_EQ(static_cast<std::size_t>(s.GetLength()), std::strlen(s.GetBuffer()));
        EXPECT_EQ(std::string(s.GetBuffer()).find("result"), std::string::npos);
    }
}
