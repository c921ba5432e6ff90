#include "CArchive.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>

#include "ArrayAllocations.h"
#include "CFile.h"
#include "CString.h"
#include "TempDir.h"

namespace {

// "fe ff" for the bytes FE FF.
std::string Hex(const std::string& bytes) {
    std::string hex;
    for (unsigned char byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, hex.empty() ? "%02x" : " %02x", byte);
        hex += pair;
    }
    return hex;
}

std::string Text(const CString& s) { return std::string(s.GetBuffer(), s.GetLength()); }

template <typename Bits, typename Float>
Bits BitsOf(Float value) {
    Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A string of `length` characters, the first of them 'F'.
CString StringOfLength(int length) {
    std::string text(length, 'b');
    text[0] = 'F';
    return CString(text.c_str());
}

// The next value of type Value (over a value that is not zero).
template <typename Value>
Value Extracted(CArchive& a) {
    Value value = Value(1);
    a >> value;
    return value;
}

template <>
CString Extracted<CString>(CArchive& a) {
    CString value("keep");
    a >> value;
    return value;
}

// One extraction of every type, then a count, printed in a line (operands of
// << are evaluated from left to right).
std::string ExtractEveryType(CArchive& a) {
    std::ostringstream line;
    line << int{Extracted<char>(a)} << ' ' << Extracted<short>(a) << ' ' << Extracted<int>(a) << ' '
         << Extracted<long>(a) << ' ' << Extracted<unsigned long>(a) << ' ' << Extracted<float>(a) << ' '
         << Extracted<double>(a) << " '" << Text(Extracted<CString>(a)) << "' " << a.ReadCount();
    return line.str();
}

const char* const kNothingRead = "0 0 0 0 0 0 0 '' 0";

// The values of a mixed stream, in the order they are archived.
struct MixedValues {
    char c1, c2;
    short s1, s2;
    int i;
    long l;
    unsigned long u;
    float f1, f2, f3;
    double d1, d2, d3;
    CString t1, t2;
    int counts[6];

    void Write(CArchive& a) const {
        a << c1 << s1 << i << l << u << f1 << d1 << f2 << d2 << t1 << t2;
        for (int count : counts) a.WriteCount(count);
        a << s2 << c2 << f3 << d3;
    }
    void Read(CArchive& a) {
        a >> c1 >> s1 >> i >> l >> u >> f1 >> d1 >> f2 >> d2 >> t1 >> t2;
        for (int& count : counts) count = a.ReadCount();
        a >> s2 >> c2 >> f3 >> d3;
    }
};

class CArchiveTest : public ::testing::Test {
protected:
    // The bytes that `write` puts into a new file through an archive.
    std::string Archived(const std::function<void(CArchive&)>& write) {
        CFile file;
        EXPECT_EQ(file.Open(m_path.c_str(), 1), 1);
        CArchive archive(&file, 0);
        write(archive);
        archive.Close();
        file.Close();
        return FileBytes(m_path);
    }

    // Opens m_file for reading over a file that holds `bytes`.
    void OpenHolding(const std::string& bytes) {
        MakeFile(m_path, bytes);
        ASSERT_EQ(m_file.Open(m_path.c_str(), 0), 1);
    }

    TempDir m_dir;
    const std::string m_path = m_dir.File("archive");
    CFile m_file;
};

struct RecordBytes {
    const char* what;
    std::function<void(CArchive&)> write;
    const char* hex;
};

}  // namespace

TEST_F(CArchiveTest, EachRecordHasItsLittleEndianBytes) {
    const RecordBytes records[] = {
        {"char", [](CArchive& a) { a << 'A'; }, "41"},
        {"endl", [](CArchive& a) { a << CFile::endl; }, "0a"},
        {"short", [](CArchive& a) { a << static_cast<short>(-2); }, "fe ff"},
        {"short", [](CArchive& a) { a << static_cast<short>(0x1234); }, "34 12"},
        {"int", [](CArchive& a) { a << 1; }, "01 00 00 00"},
        {"int", [](CArchive& a) { a << 0x12345678; }, "78 56 34 12"},
        {"long", [](CArchive& a) { a << -2L; }, "fe ff ff ff"},
        {"unsigned long", [](CArchive& a) { a << 0xdeadbeefUL; }, "ef be ad de"},
        {"float", [](CArchive& a) { a << 1.0f; }, "00 00 80 3f"},
        {"double", [](CArchive& a) { a << 1.0; }, "00 00 00 00 00 00 f0 3f"},
        {"string", [](CArchive& a) { a << CString("abc"); }, "03 00 00 00 61 62 63"},
        {"empty string", [](CArchive& a) { a << CString(); }, "00 00 00 00"},
        {"count 0", [](CArchive& a) { a.WriteCount(0); }, "00 00"},
        {"count 40000", [](CArchive& a) { a.WriteCount(40000); }, "40 9c"},
        {"count 65534", [](CArchive& a) { a.WriteCount(65534); }, "fe ff"},
        {"count 65535", [](CArchive& a) { a.WriteCount(65535); }, "ff ff ff ff 00 00"},
        {"count 70000", [](CArchive& a) { a.WriteCount(70000); }, "ff ff 70 11 01 00"},
        {"count -1", [](CArchive& a) { a.WriteCount(-1); }, "ff ff ff ff ff ff"},
        {"raw", [](CArchive& a) { a.Write("\x01\x02", 2); }, "01 02"},
    };
    for (const RecordBytes& record : records) EXPECT_EQ(Hex(Archived(record.write)), record.hex) << record.what;
}

TEST_F(CArchiveTest, ReadingKeepsExactBitsAndWidensThirtyTwoBitLongs) {
    OpenHolding(std::string("\x01\x00\x80\x7f" "\x01\x00\x00\x00\x00\x00\xf0\x7f"
                            "\xff\xff\xff\xff" "\xff\xff\xff\xff" "\x00\x00\x00\x80" "\x00\x00\x00\x80", 28));
    CArchive a(&m_file, 0);
    float f;
    double d;
    a >> f >> d;  // into variables: a float returned by value may pass through x87
    EXPECT_EQ(BitsOf<std::uint32_t>(f), 0x7f800001u);  // a signalling NaN stays one
    EXPECT_EQ(BitsOf<std::uint64_t>(d), 0x7ff0000000000001u);
    EXPECT_EQ(Extracted<long>(a), -1L);
    EXPECT_EQ(Extracted<unsigned long>(a), 0xffffffffUL);
    EXPECT_EQ(Extracted<long>(a), -2147483647L - 1);
    EXPECT_EQ(Extracted<unsigned long>(a), 0x80000000UL);
    // Written: the low 32 bits, whatever the width of long.
    const long wide = static_cast<long>(sizeof(long) > 4 ? 0x123456789abcdefLL : 0x89abcdefLL);
    EXPECT_EQ(Hex(Archived([&](CArchive& w) { w << wide << static_cast<unsigned long>(wide); })),
              "ef cd ab 89 ef cd ab 89");
}

// Python's struct module encodes the same values on its own, and the values
// the archive reads back encode to the same bytes again.
TEST_F(CArchiveTest, AMixedStreamMatchesAnIndependentEncoderAndReadsBack) {
    const MixedValues original = {'Z', '\xff', SHRT_MIN, 1, INT_MIN, -1L, 0xffffffffUL, -0.0f, 0.1f, 3.14159f,
                                  1e300, -2.5e-300, 1.0 / 3, CString("hello, world"), CString(),
                                  {7, 65534, 65535, 70000, -3, INT_MIN}};
    const std::string ours = Hex(Archived([&](CArchive& a) { original.Write(a); }));
    const char* command =
        "python3 -c 'import struct, sys; sys.stdout.write(struct.pack("
        "\"<chilLfdfdi12siHHHiHiHiHihcfd\", b\"Z\", -32768, -2147483648, -1, 4294967295, -0.0, 1e300, "
        "0.1, -2.5e-300, 12, b\"hello, world\", 0, 7, 65534, 65535, 65535, 65535, 70000, 65535, -3, "
        "65535, -2147483648, 1, b\"\\xff\", 3.14159, 1.0 / 3).hex(\" \"))'";
    FILE* python = popen(command, "r");
    ASSERT_NE(python, nullptr);
    std::string theirs;
    char chunk[256];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, python)) > 0;) theirs.append(chunk, got);
    ASSERT_EQ(pclose(python), 0) << "python3 with its struct module is needed";
    EXPECT_EQ(ours, theirs);

    ASSERT_EQ(m_file.Open(m_path.c_str(), 0), 1);
    CArchive a(&m_file, 0);
    MixedValues back;
    back.Read(a);
    EXPECT_EQ(Hex(Archived([&](CArchive& w) { back.Write(w); })), theirs);
}

TEST_F(CArchiveTest, StringRecordsOfOneTo8192CharactersReadBackAndLongerOnesReadEmpty) {
    const std::string written = Archived([](CArchive& a) {
        a << StringOfLength(1) << StringOfLength(8192) << StringOfLength(8193);
    });
    EXPECT_EQ(written.size(), 4u + 1 + 4 + 8192 + 4 + 8193);  // written in full
    ASSERT_EQ(m_file.Open(m_path.c_str(), 0), 1);
    CArchive a(&m_file, 0);
    EXPECT_EQ(Text(Extracted<CString>(a)), "F");
    EXPECT_EQ(Text(Extracted<CString>(a)), Text(StringOfLength(8192)));
    EXPECT_EQ(Text(Extracted<CString>(a)), "");
    EXPECT_EQ(Extracted<char>(a), 'F');  // the characters of the longer record stay in the file
}

TEST_F(CArchiveTest, AStringRecordReadsUpToItsFirstZeroByteAndAsEmptyBelowOneCharacter) {
    CString withNul("abXcd");
    withNul.GetBuffer()[2] = '\0';
    EXPECT_EQ(Hex(Archived([&](CArchive& a) { a << withNul << 'E'; })), "05 00 00 00 61 62 00 63 64 45");
    CArchive a(&m_file, 0);
    ASSERT_EQ(m_file.Open(m_path.c_str(), 0), 1);
    EXPECT_EQ(Text(Extracted<CString>(a)), "ab");
    EXPECT_EQ(Extracted<char>(a), 'E');  // the whole record was consumed
    // Lengths 0 and -5 consume only the length field.
    OpenHolding(std::string("\x00\x00\x00\x00Z\xfb\xff\xff\xffY", 10));
    EXPECT_EQ(Text(Extracted<CString>(a)), "");
    EXPECT_EQ(Extracted<char>(a), 'Z');
    EXPECT_EQ(Text(Extracted<CString>(a)), "");
    EXPECT_EQ(Extracted<char>(a), 'Y');
}

TEST_F(CArchiveTest, ARecordCutShortKeepsTheBytesThatCame) {
    CArchive a(&m_file, 0);  // over each of the files opened below
    OpenHolding(std::string("\x01\x02", 2));
    EXPECT_EQ(Extracted<int>(a), 0x0201);
    OpenHolding("\xff");
    EXPECT_EQ(Extracted<short>(a), 0xff);
    OpenHolding("\xff\xff\xff");
    EXPECT_EQ(Extracted<long>(a), 0xffffff);
    OpenHolding(std::string("\x00\x00\x00\x00\x00\x00\xf0", 7));
    EXPECT_EQ(BitsOf<std::uint64_t>(Extracted<double>(a)), 0x00f0000000000000u);
    OpenHolding(std::string("\x05\x00\x00\x00hi", 6));
    EXPECT_EQ(Text(Extracted<CString>(a)), "hi");
    OpenHolding("\xff\xff\x70\x11");
    EXPECT_EQ(a.ReadCount(), 0x1170);
    OpenHolding("\x09");
    EXPECT_EQ(a.ReadCount(), 9);
}

TEST_F(CArchiveTest, ExtractionAtEndOfFileGivesZerosAndTheArchiveStaysUsable) {
    ASSERT_EQ(m_file.Open(m_path.c_str(), 2), 1);
    CArchive a(&m_file, 0);
    a << 7;
    m_file.Seek(0, 0);
    EXPECT_EQ(Extracted<int>(a), 7);
    EXPECT_EQ(ExtractEveryType(a), kNothingRead);
    a << 8;
    m_file.Seek(4, 0);
    EXPECT_EQ(Extracted<int>(a), 8);
}

TEST_F(CArchiveTest, ClosingFlushesTheFileAndDetachesTheArchive) {
    ASSERT_EQ(m_file.Open(m_path.c_str(), 2), 1);
    {
        CArchive a(&m_file, 0);
        a << 1234;
        EXPECT_EQ(m_file.GetLength(), 0);  // still in the stream's buffer
        a.Close();
        EXPECT_EQ(m_file.GetLength(), 4);
        EXPECT_EQ(a.IsValid(), 0);
        a << 5 << CString("x");
        a.WriteCount(5);
        a.Write("abc", 3);
        m_file.Seek(0, 0);
        EXPECT_EQ(ExtractEveryType(a), kNothingRead);
        EXPECT_EQ(m_file.GetPosition(), 0);
    }
    m_file.Flush();
    EXPECT_EQ(m_file.GetLength(), 4);  // nothing written after Close
    {
        CArchive a(&m_file, 0);
        m_file.Seek(0, 4);
        a << 'q';
    }  // the destructor flushes, and the file stays open
    EXPECT_EQ(m_file.GetLength(), 5);
    EXPECT_EQ(m_file.IsValid(), 1);
}

TEST_F(CArchiveTest, AnArchiveWithoutAnOpenFileWritesNothingAndReadsZeros) {
    CFile unopened;
    CArchive overUnopened(&unopened, 0);
    CArchive withoutFile(nullptr, 0);
    for (CArchive* a : {&overUnopened, &withoutFile}) {
        EXPECT_EQ(a->IsValid(), 0);
        *a << 1 << 2.0 << CString("lost");
        a->WriteCount(70000);
        a->Flush();
        EXPECT_EQ(ExtractEveryType(*a), kNothingRead);
        a->Close();
    }
}

TEST_F(CArchiveTest, StringsAllocateOnlyTheBlockOfTheStringThatIsRead) {
    const CString hundred(std::string(100, 'h').c_str());
    const CString longest = StringOfLength(8192);
    ASSERT_EQ(m_file.Open(m_path.c_str(), 2), 1);
    CArchive a(&m_file, 0);
    {
        ArrayAllocations::Scope scope;
        a << hundred << longest;
        EXPECT_EQ(scope.Count(), 0u);
    }
    m_file.Seek(0, 0);
    ArrayAllocations::Scope scope;
    CString s;
    a >> s >> s;
    EXPECT_EQ(scope.Sizes(), (std::vector<std::size_t>{32, 160, 8256}));
}
