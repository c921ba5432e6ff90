#include "CArchive.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "CFile.h"
#include "CString.h"
#include "TestSupport.h"

namespace {

// "fe ff" for the bytes FE FF.
std::string Hex(const std::string& bytes) {
    std::string hex;
    char pair[4];
    for (unsigned char byte : bytes)
        hex.append(pair, std::snprintf(pair, sizeof pair, " %02x", byte));
    return hex.substr(hex.empty() ? 0 : 1);
}

// Whether extractions into `values`, none of them zero, and of a count give zeros.
template <typename... Values>
bool ReadsZeros(CArchive& a, Values... values) {
    ((a >> values), ...);
    return ((values == Values()) && ...) && a.ReadCount() == 0;
}
bool ReadsZeros(CArchive& a) {
    return ReadsZeros(a, 'x', short{1}, 1, 1L, 1UL, 1.0f, 1.0, CString("x"));
}

// The value with the bytes of `bits`, which the optimised build places in the
// argument without an x87 load (that would quiet a signalling NaN).
template <typename Value, typename Bits>
Value As(Bits bits) {
    Value value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// What `write` puts into the new file "archive" in `dir` through an archive.
std::string Archived(const TempDir& dir, const std::function<void(CArchive&)>& write) {
    CFile file;
    EXPECT_EQ(file.Open(dir.File("archive").c_str(), 1), 1);
    CArchive archive(&file, 0);
    write(archive);
    file.Close();
    return FileBytes(dir.File("archive"));
}

}  // namespace

TEST(CArchiveTest, EveryRecordHasItsBytesAndAgreesWithPythonsStruct) {
    TempDir dir;
    CString withNul("abXcd");
    withNul.GetBuffer()[2] = '\0';
    const long wide = static_cast<long>(sizeof(long) > 4 ? 0x123456789abcdefLL : 0x89abcdefLL);
    const std::pair<std::function<void(CArchive&)>, const char*> kRecords[] = {
        {[](CArchive& a) { a << 'A' << CFile::endl
                             << short{-2}; }, "41 0a fe ff"},
        {[](CArchive& a) { a << 1 << 0x12345678; }, "01 00 00 00 78 56 34 12"},
        {[](CArchive& a) { a << -2L << 0xdeadbeefUL; }, "fe ff ff ff ef be ad de"},
        {[&](CArchive& a) { a << wide << static_cast<unsigned long>(wide); },
         "ef cd ab 89 ef cd ab 89"},
        {[](CArchive& a) { a << 1.0f << 1.0; }, "00 00 80 3f 00 00 00 00 00 00 f0 3f"},
        // A signalling NaN, the smallest denormal and negative zero, bit for bit.
        {[](CArchive& a) { a << As<float>(0x7f800001u) << As<float>(1u) << -0.0f; },
         "01 00 80 7f 01 00 00 00 00 00 00 80"},
        {[](CArchive& a) { a << As<double>(0x7ff0000000000001ull) << As<double>(1ull) << -0.0; },
         "01 00 00 00 00 00 f0 7f 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80"},
        {[](CArchive& a) { a << CString("abc") << CString(); }, "03 00 00 00 61 62 63 00 00 00 00"},
        {[&](CArchive& a) { a << withNul; }, "05 00 00 00 61 62 00 63 64"},
        {[](CArchive& a) {
             for (int n : {0, 40000, 65534}) a.WriteCount(n);
         },
         "00 00 40 9c fe ff"},
        {[](CArchive& a) {
             for (int n : {65535, 70000, -1}) a.WriteCount(n);
         },
         "ff ff ff ff 00 00 ff ff 70 11 01 00 ff ff ff ff ff ff"},
    };
    for (const auto& [write, hex] : kRecords) EXPECT_EQ(Hex(Archived(dir, write)), hex);
    if (!OnPath("python3")) GTEST_SKIP() << "no python3 to cross-check with its struct module";
    // The whole stream and a few more values, packed on their own by Python.
    const std::string ours = Hex(Archived(dir, [&](CArchive& a) {
        for (const auto& record : kRecords) record.first(a);
        a << short{SHRT_MIN} << INT_MIN << 0.1f << -2.5e-300;
    }));
    FILE* python = popen(
        "python3 -c 'import struct, sys; "
        "sys.stdout.write(struct.pack(\"<cchiilLlLfdIIIQQQi3sii5sHHHHiHiHihifd\", "
        "b\"A\", b\"\\n\", -2, 1, 0x12345678, -2, 0xdeadbeef, -0x76543211, 0x89abcdef, 1.0, 1.0, "
        "0x7f800001, 1, 2**31, 0x7ff0000000000001, 1, 2**63, 3, b\"abc\", "
        "0, 5, b\"ab\\0cd\", 0, 40000, 65534, 65535, 65535, 65535, 70000, 65535, -1, "
        "-2**15, -2**31, 0.1, -2.5e-300).hex(\" \"))'",
        "r");
    ASSERT_NE(python, nullptr);
    char theirs[1024];
    const std::size_t got = std::fread(theirs, 1, sizeof theirs, python);
    ASSERT_EQ(pclose(python), 0);
    EXPECT_EQ(ours, std::string(theirs, got));
}

TEST(CArchiveTest, ExtractionWidensExactlyTakesStringsUpTo8192AndKeepsWhatCameOfARecordCutShort) {
    TempDir dir;
    const std::string longest = "F" + std::string(8191, 'b');
    const std::string written = Archived(dir, [&](CArchive& a) {
        a.Write("\x01\x00\x80\x7f\x01\x00\x00\x00\x00\x00\xf0\x7f", 12);  // signalling NaNs
        a << -1L << -1L;
        a.WriteCount(-1);
        a.WriteCount(40000);
        a << CString("F") << CString(longest.c_str()) << CString((longest + "b").c_str());
        a.Write("\x05\x00\x00\x00hi", 6);
    });
    CFile file;
    ASSERT_EQ(file.Open(dir.File("archive").c_str(), 0), 1);
    CArchive a(&file, 0);
    float f;  // extracted into variables: a float returned by value may pass through x87
    double d;
    long l = 0;
    unsigned long u = 0;
    CString one, most, more("keep"), cut;
    char next = 0;
    a >> f >> d >> l >> u;
    EXPECT_EQ(std::memcmp(&f, written.data(), 4) | std::memcmp(&d, written.data() + 4, 8), 0);
    EXPECT_EQ(l, -1L);           // sign-extended
    EXPECT_EQ(u, 0xffffffffUL);  // zero-extended
    EXPECT_EQ(a.ReadCount(), -1);
    EXPECT_EQ(a.ReadCount(), 40000);
    a >> one >> most >> more >> next;
    EXPECT_EQ(Text(one) + Text(most) + Text(more), "F" + longest);
    EXPECT_EQ(next, 'F');  // the first character of the longer record, which read empty
    file.Seek(-6, 4);
    a >> cut;
    EXPECT_EQ(Text(cut), "hi");
    EXPECT_TRUE(ReadsZeros(a));  // at the end of the file
    file.Seek(-2, 4);
    int i = 0;
    a >> i;
    EXPECT_EQ(i, 'h' | 'i' << 8);  // cut short, and still usable after the end
}

TEST(CArchiveTest, ClosedOrWithoutAnOpenFileAnArchiveWritesNothingAndReadsZeros) {
    TempDir dir;
    CFile file;
    ASSERT_EQ(file.Open(dir.File("archive").c_str(), 2), 1);
    CArchive closed(&file, 0);
    EXPECT_EQ(closed.IsValid(), 1);
    closed << 1234;
    EXPECT_EQ(file.GetLength(), 0);  // still in the stream's buffer
    closed.Close();
    EXPECT_EQ(file.GetLength(), 4);
    CFile unopened;
    CArchive overUnopened(&unopened, 0), withoutFile(nullptr, 0);
    file.Seek(0, 0);
    for (CArchive* a : {&closed, &overUnopened, &withoutFile}) {
        *a << 5 << 2.0 << CString("lost");
        a->WriteCount(70000);
        a->Flush();
        EXPECT_EQ(a->IsValid(), 0);
        EXPECT_TRUE(ReadsZeros(*a));
    }
    {
        CArchive destroyed(&file, 0);
        file.Seek(0, 4);
        destroyed << 'q';
    }                                // the destructor flushes, and the file stays open
    EXPECT_EQ(file.GetLength(), 5);  // nothing came from the detached archives
}
