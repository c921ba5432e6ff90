#include "CArchive.h"

#include "CFile.h"
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

// The value with the bytes of `bits`, without an x87 load (that quiets a signalling NaN).
template <typename Value, typename Bits>
Value As(Bits bits) {
    Value value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// What `write` puts into the new file "archive" in `dir` through an archive, whose end flushes the
// file, still open.
std::string Archived(const TempDir& dir, const std::function<void(CArchive&)>& write) {
    CFile file;
    EXPECT_EQ(file.Open(dir.File("archive").c_str(), 1), 1);
    {
        CArchive archive(&file, 0);
        EXPECT_EQ(archive.IsValid(), 1);
        write(archive);
    }
    return FileBytes(dir.File("archive"));
}

}  // namespace

TEST(CArchiveTest, EveryRecordHasItsBytes) {
    TempDir dir;
    CString withNul("abXcd");
    withNul.GetBuffer()[2] = '\0';
    const long wide = static_cast<long>(sizeof(long) > 4 ? 0x123456789abcdefLL : 0x89abcdefLL);
    const std::pair<std::function<void(CArchive&)>, const char*> kRecords[] = {
        {[](CArchive& a) { a << 'A' << CFile::endl
                             << short{-2} << short{SHRT_MIN}; },
         "41 0a fe ff 00 80"},
        {[](CArchive& a) { a << 1 << 0x12345678 << INT_MIN; },
         "01 00 00 00 78 56 34 12 00 00 00 80"},
        {[](CArchive& a) { a << -2L << 0xdeadbeefUL; }, "fe ff ff ff ef be ad de"},
        {[&](CArchive& a) { a << wide << static_cast<unsigned long>(wide); },
         "ef cd ab 89 ef cd ab 89"},
        {[](CArchive& a) { a << 1.0f << 0.1f << -2.5e-300; },
         "00 00 80 3f cd cc cc 3d 2f 30 b7 b3 a7 c9 ba 81"},
        // A signalling NaN, the smallest denormal and negative zero, bit for bit.
        {[](CArchive& a) { a << As<float>(0x7f800001u) << As<float>(1u) << -0.0f; },
         "01 00 80 7f 01 00 00 00 00 00 00 80"},
        {[](CArchive& a) { a << As<double>(0x7ff0000000000001ull) << As<double>(1ull) << -0.0; },
         "01 00 00 00 00 00 f0 7f 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80"},
        {[](CArchive& a) { a << CString("abc") << CString(); }, "03 00 00 00 61 62 63 00 00 00 00"},
        {[&](CArchive& a) { a << withNul; }, "05 00 00 00 61 62 00 63 64"},
        {[](CArchive& a) { a.WriteCount(65534); }, "fe ff"},
        {[](CArchive& a) { a.WriteCount(65535); }, "ff ff ff ff 00 00"},
        {[](CArchive& a) { a.WriteCount(-1); }, "ff ff ff ff ff ff"},
    };
    for (const auto& [write, hex] : kRecords) EXPECT_EQ(Hex(Archived(dir, write)), hex);
}

// Each extraction reads its record: long sign-extended, unsigned long zero-extended, NaN payloads
// kept; string records within their bounds (the longest too); counts of either form. Bytes that do
// not come read as zero: a record cut short keeps the low-order bytes that came.
TEST(CArchiveTest, ExtractionsReadTheirRecords) {
    TempDir dir;
    const char kRecords[] =
        "A\xfe\xff\xfe\xff\xff\xff\xef\xbe\xad\xde\x01\0\x80\x7f\x78\x56\x34\x12"
        "\x01\0\0\0\0\0\xf0\x7f"                               // signalling NaNs
        "\x03\0\0\0a\0b\0\0\0\0\xff\xff\xff\xff\x01\x20\0\0c"  // "a\0b", 0, -1, 8193
        "\x05\0\xff\xff\x70\x11\x01\0\0\x20\0\0";              // counts, the longest
    const std::string longest(8192, 'L');
    MakeFile(dir.File("records"),
             std::string(kRecords, sizeof kRecords - 1) + longest + std::string("\x02\0\0\0x", 5));
    CFile file;
    ASSERT_EQ(file.Open(dir.File("records").c_str(), 0), 1);
    CArchive archive(&file, 0);
    char c = 0, next = 0, buffer[4];
    short h = 0;
    long l = 0;
    unsigned long u = 0;
    float f = 0;
    double d = 0;
    int i = 0, end = 1, cut = 0;
    CString t[6];
    archive >> c >> h >> l >> u >> f >> i >> d >> t[0] >> t[1] >> t[2] >> t[3] >> next;
    const int counts[] = {archive.ReadCount(), archive.ReadCount()};
    archive >> t[4] >> t[5] >> end;
    file.Seek(-1, 4);
    archive >> cut;
    std::uint32_t floatBits;  // copied, not loaded: an x87 load would quiet the NaN
    std::uint64_t doubleBits;
    std::memcpy(&floatBits, &f, 4);
    std::memcpy(&doubleBits, &d, 8);
    using Numbers = std::vector<long long>;
    EXPECT_EQ(Numbers({c, h, l, static_cast<long long>(u), floatBits, i,
                       static_cast<long long>(doubleBits), next, counts[0], counts[1], end, cut,
                       archive.Read(buffer, -1), archive.Read(buffer, 4)}),
              Numbers({'A', -2, -2, 0xdeadbeef, 0x7f800001, 0x12345678, 0x7ff0000000000001, 'c', 5,
                       70000, 0, 'x', 0, 0}));
    EXPECT_EQ(std::vector<std::string>(
                  {Text(t[0]), Text(t[1]), Text(t[2]), Text(t[3]), Text(t[4]), Text(t[5])}),
              std::vector<std::string>({"a", "", "", "", longest, "x"}));
}

TEST(CArchiveTest, ClosedOrWithoutAnOpenFileAnArchiveWritesNothingAndReadsZeros) {
    TempDir dir;
    CFile file, unopened;
    ASSERT_EQ(file.Open(dir.File("archive").c_str(), 2), 1);
    CArchive closed(&file, 0), overUnopened(&unopened, 0), withoutFile(nullptr, 0);
    closed << 1234;
    EXPECT_EQ(file.GetLength(), 0);  // still in the stream's buffer
    closed.Close();                  // flushes it, and leaves the file open
    file.Seek(0, 0);
    for (CArchive* a : {&closed, &overUnopened, &withoutFile}) {
        *a << 5 << CString("lost");
        a->WriteCount(70000);
        a->Flush();
        int number = 1;
        double real = 1;
        CString text("x");
        *a >> number >> real >> text;
        EXPECT_EQ(std::vector<double>({double(number), real, double(text.GetLength()),
                                       double(a->ReadCount()), double(a->IsValid())}),
                  std::vector<double>(5, 0));
    }
    EXPECT_EQ(file.GetLength(), 4);
    EXPECT_EQ(file.Write("q", 1), 1);
}
