// CFile and the archive that writes and reads through it.
#include "CArchive.h"
#include "CFile.h"

#include "TestSupport.h"

// A copy would close the one stream twice.
static_assert(!std::is_copy_constructible_v<CFile> && !std::is_copy_assignable_v<CFile>);

namespace {

// What XCreateDirectory prints for `path`, then its result.
std::string CreateDirectory(const std::string& path) {
    testing::internal::CaptureStdout();
    const int result = CFile::XCreateDirectory(path.c_str());
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout() + std::to_string(result);
}

// The line printed for `prefix`: created, or failed with `error`.
std::string Line(const std::string& prefix, int error = 0) {
    if (error == 0) return "create directory: " + prefix + "\n";
    return "failed to create directory: " + prefix + " with errno: " + std::to_string(error) + "\n";
}

// "fe ff" for the bytes FE FF.
std::string Hex(const std::string& bytes) {
    std::string hex;
    char pair[4];
    for (unsigned char byte : bytes)
        hex.append(pair, std::snprintf(pair, sizeof pair, " %02x", byte));
    return hex.substr(hex.empty() ? 0 : 1);
}

// The value with the bytes of `bits`, placed without an x87 load (that would
// quiet a signalling NaN).
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

TEST(CFileTest, OpenChoosesTheStreamModeFromTheLowThreeBits) {
    TempDir dir;
    const std::string path = dir.File("f");
    // "xy" written over "abc": what the write returns, what a read from the
    // start gives, and what the file holds.
    const std::pair<int, const char*> kModes[] = {
        {0, "0abcabc"}, {3, "0abcabc"},      {5, "0abcabc"},    {6, "0abcabc"},
        {7, "0abcabc"}, {0x8003, "0abcabc"}, {1, "2xy"},        {0x8001, "2xy"},
        {2, "2xyxy"},   {0x8002, "2xyxy"},   {4, "2abcxyabcxy"}};
    for (const auto& [mode, result] : kModes) {
        MakeFile(path, "abc");
        CFile file;
        ASSERT_EQ(file.Open(path.c_str(), mode), 1) << mode;
        char bytes[16];
        std::string text = std::to_string(file.Write("xy", 2));
        file.Seek(0, 0);
        text.append(bytes, file.Read(bytes, sizeof bytes));
        file.Close();
        EXPECT_EQ(text + FileBytes(path), result) << mode;
    }
    CFile file;
    EXPECT_EQ(file.Open(dir.File("missing").c_str(), 0), 0);
    EXPECT_EQ(file.Open(nullptr, 2), 0);
    // Without a stream every operation fails; none crashes or flushes every stream.
    char buffer[4] = {};
    EXPECT_EQ(file.GetPosition() + file.Seek(0, 0) + file.Flush() + file.GetLength(), -4);
    EXPECT_EQ(file.Read(buffer, 4) + file.Write(buffer, 4) + file.IsValid(), 0);
    EXPECT_EQ(file.GetStatus()->st_mode, 0u);                 // the zeroed record
    EXPECT_EQ(file.Open(dir.File("missing").c_str(), 4), 1);  // created
}

TEST(CFileTest, OpenAndTheDestructorFlushAndCloseTheStreamHeld) {
    TempDir dir;
    const long open = OpenDescriptors();
    {
        CFile file;
        ASSERT_EQ(file.Open(dir.File("first").c_str(), 1), 1);
        file.Write("abc", 3);
        ASSERT_EQ(file.Open(dir.File("second").c_str(), 1), 1);
        file.Write("de", 2);
        EXPECT_EQ(OpenDescriptors(), open + 1);
    }
    EXPECT_EQ(FileBytes(dir.File("first")) + FileBytes(dir.File("second")), "abcde");
    EXPECT_EQ(OpenDescriptors(), open);
}

// The record changes only when queried; the length lags until a flush.
TEST(CFileTest, StatusSeekAndTransfers) {
    TempDir dir;
    MakeFile(dir.File("three"), "abc");
    CFile file;
    ASSERT_EQ(file.Open(dir.File("three").c_str(), 0), 1);
    const struct stat* status = file.GetStatus();
    ASSERT_EQ(file.Open(dir.File("new").c_str(), 2), 1);
    EXPECT_EQ(status->st_size, 3);  // Open leaves it alone
    EXPECT_EQ(file.Write("0123456789", 10), 10);
    EXPECT_EQ(file.GetLength(), 0);
    EXPECT_EQ(file.Flush(), 0);
    EXPECT_EQ(file.GetLength(), 10);
    EXPECT_EQ(status->st_size, 10);  // the same record, refreshed
    EXPECT_EQ(file.Seek(3, 1), 0);   // from the start, like 0
    EXPECT_EQ(file.Seek(2, 2), 0);
    EXPECT_EQ(file.GetPosition(), 5);
    EXPECT_EQ(file.Seek(-3, 4), 0);
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, -1) + file.Write(buffer, -1), 0);  // a negative count moves nothing
    EXPECT_EQ(std::string(buffer, file.Read(buffer, 8)), "789");
    EXPECT_EQ(file.Seek(-100, 3), -1);
    EXPECT_EQ(file.GetPosition(), 10);  // still usable where it was
}

TEST(CFileTest, PathOperationsLookAtTheLinkItselfAndTakeNullForMissing) {
    TempDir dir;
    MakeFile(dir.File("file"), "");
    ASSERT_EQ(symlink(dir.File("nowhere").c_str(), dir.File("dangling").c_str()), 0);
    EXPECT_EQ(CFile::IsExistent(dir.File("dangling").c_str()), 1);
    EXPECT_EQ(CFile::IsExistent(dir.File("missing").c_str()), 0);
    // What lstat reports, other than that the path leads nowhere, means that
    // something is there.
    const std::pair<int, int> kErrors[] = {{0, 1},     {EACCES, 0}, {ENOTDIR, 0}, {ENAMETOOLONG, 0},
                                           {ELOOP, 1}, {EIO, 1}};
    for (const auto& [error, result] : kErrors) {
        PlatformSeam::Fail("lstat", error != 0 ? 1 : 0, error);
        EXPECT_EQ(CFile::IsExistent(dir.File("file").c_str()), result) << error;
    }
    EXPECT_EQ(CFile::Rename(dir.File("missing").c_str(), dir.File("to").c_str()), 0);
    EXPECT_EQ(CFile::Rename(dir.File("file").c_str(), dir.File("to").c_str()), 1);
    EXPECT_EQ(CFile::Remove(dir.path), 0);  // not empty
    EXPECT_EQ(CFile::Remove(dir.File("to").c_str()), 1);
    EXPECT_EQ(CFile::IsExistent(nullptr) + CFile::XCreateDirectory(nullptr), 0);
    EXPECT_EQ(CFile::Rename(nullptr, "x") + CFile::Rename("x", nullptr) + CFile::Remove(nullptr),
              0);
}

TEST(CFileTest, XCreateDirectoryCreatesEveryLevelAndCarriesOnPastFailures) {
    TempDir dir;
    const std::string base = dir.File("");
    const std::string existing = Line("/tmp/", EEXIST) + Line(base, EEXIST);
    const mode_t mask = umask(0);
    EXPECT_EQ(CreateDirectory(base + "x//y/"),
              existing + Line(base + "x/") + Line(base + "x/y/") + "1");
    umask(mask);
    struct stat status;
    ASSERT_EQ(stat(dir.File("x/y").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode, S_IFDIR | 0755u);
    MakeFile(dir.File("file"), "");
    EXPECT_EQ(CreateDirectory(base + "file/sub"),
              existing + Line(base + "file/", EEXIST) + Line(base + "file/sub/", ENOTDIR) + "1");
    ArrayAllocations allocations;
    allocations.FailNext(1);
    EXPECT_EQ(CreateDirectory(base + "m"), "0");  // without memory: nothing done
    EXPECT_EQ(CreateDirectory("") + CreateDirectory("/") + CreateDirectory("///"), "011");
    char previous[4096];
    ASSERT_TRUE(getcwd(previous, sizeof previous) != nullptr && chdir(dir.path) == 0);
    const std::string relative = CreateDirectory("a/./b");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(relative, Line("a/") + Line("a/./", EEXIST) + Line("a/./b/") + "1");
}

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
        {[](CArchive& a) { a.WriteCount(65534); }, "fe ff"},
        {[](CArchive& a) { a.WriteCount(65535); }, "ff ff ff ff 00 00"},
        {[](CArchive& a) { a.WriteCount(-1); }, "ff ff ff ff ff ff"},
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
        "sys.stdout.write(struct.pack(\"<cchiilLlLfdIIIQQQi3sii5sHHiHihifd\", "
        "b\"A\", b\"\\n\", -2, 1, 0x12345678, -2, 0xdeadbeef, -0x76543211, 0x89abcdef, 1.0, 1.0, "
        "0x7f800001, 1, 2**31, 0x7ff0000000000001, 1, 2**63, 3, b\"abc\", "
        "0, 5, b\"ab\\0cd\", 65534, 65535, 65535, 65535, -1, "
        "-2**15, -2**31, 0.1, -2.5e-300).hex(\" \"))'",
        "r");
    char theirs[1024];
    const std::size_t got = std::fread(theirs, 1, sizeof theirs, python);
    ASSERT_EQ(pclose(python), 0);
    EXPECT_EQ(ours, std::string(theirs, got));
}

// The fuzzer checks extraction against a decoder of the bytes; here the
// longest string record, and floats bit for bit on every build.
TEST(CArchiveTest, ExtractionTakesStringsUpTo8192BytesAndFloatsBitForBit) {
    TempDir dir;
    const std::string longest(8192, 'b');
    const char nans[] = "\x01\x00\x80\x7f\x01\x00\x00\x00\x00\x00\xf0\x7f";  // signalling
    Archived(dir, [&](CArchive& a) {
        a << CString(longest.c_str()) << CString((longest + "c").c_str());
        a.Write(nans, 12);
    });
    CFile file;
    ASSERT_EQ(file.Open(dir.File("archive").c_str(), 0), 1);
    CArchive a(&file, 0);
    CString most, more("kept");
    char next = 0;
    a >> most >> more >> next;
    EXPECT_EQ(Text(most), longest);
    EXPECT_EQ(Text(more), "");  // too long: read as empty, its characters left
    EXPECT_EQ(next, 'b');
    file.Seek(-12, 4);
    float f;  // into variables: a float returned by value may pass through x87
    double d;
    a >> f >> d;
    EXPECT_EQ(std::memcmp(&f, nans, 4) | std::memcmp(&d, nans + 4, 8), 0);
}

// A closed archive, or one without an open file, writes nothing and reads zeros.
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
        EXPECT_EQ(number + real + text.GetLength() + a->ReadCount() + a->IsValid(), 0);
    }
    EXPECT_EQ(file.GetLength(), 4);
    EXPECT_EQ(file.Write("q", 1), 1);
}
