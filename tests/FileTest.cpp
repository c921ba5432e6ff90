// fuzz/CArchiveFuzz.cpp checks extraction from any bytes against an independent decoder.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "ArrayAllocations.h"
#include "CArchive.h"
#include "CFile.h"
#include "CFileVersion.h"
#include "CString.h"

namespace {

// A fresh directory under /tmp, removed with everything in it at the end of the scope.
struct TempDir {
    char path[24] = "/tmp/tandel-test-XXXXXX";
    TempDir() { EXPECT_NE(mkdtemp(path), nullptr); }
    ~TempDir() { EXPECT_EQ(std::system(("rm -rf " + File("")).c_str()), 0); }
    std::string File(const std::string& name) const { return std::string(path) + "/" + name; }
};

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void MakeFile(const std::string& path, const std::string& bytes) { std::ofstream(path) << bytes; }

// "fe ff" for the bytes FE FF.
std::string Hex(const std::string& bytes) {
    std::string hex;
    char pair[4];
    for (unsigned char byte : bytes) hex.append(pair, std::snprintf(pair, sizeof pair, " %02x", byte));
    return hex.substr(hex.empty() ? 0 : 1);
}

// Whether extractions into `values`, none of them zero, and of a count give zeros.
template <typename... Values>
bool ReadsZeros(CArchive& a, Values... values) {
    ((a >> values), ...);
    return ((values == Values()) && ...) && a.ReadCount() == 0;
}
bool ReadsZeros(CArchive& a) { return ReadsZeros(a, 'x', short{1}, 1, 1L, 1UL, 1.0f, 1.0, CString("x")); }

// What `write` puts into the new file "archive" in `dir` through an archive.
std::string Archived(const TempDir& dir, const std::function<void(CArchive&)>& write) {
    CFile file;
    EXPECT_EQ(file.Open(dir.File("archive").c_str(), 1), 1);
    CArchive archive(&file, 0);
    write(archive);
    file.Close();
    return FileBytes(dir.File("archive"));
}

// What XCreateDirectory prints for `path`, then its result.
std::string CreateDirectory(const std::string& path, bool withoutMemory = false) {
    testing::internal::CaptureStdout();
    if (withoutMemory) ArrayAllocations::FailNext(1);
    const int result = CFile::XCreateDirectory(path.c_str());
    ArrayAllocations::Stop();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout() + std::to_string(result);
}

// The line printed for `prefix`: created, or failed with `error`.
std::string Line(const std::string& prefix, int error = 0) {
    if (error == 0) return "create directory: " + prefix + "\n";
    return "failed to create directory: " + prefix + " with errno: " + std::to_string(error) + "\n";
}

}  // namespace

TEST(CFileTest, OpenChoosesTheStreamModeFromTheLowThreeBits) {
    TempDir dir;
    const std::string path = dir.File("f");
    // "xy" written over "abc", what a read from the start gives, what the file holds.
    const struct { int mode; const char* result; } modes[] = {
        {0, "0abcabc"}, {3, "0abcabc"}, {5, "0abcabc"}, {6, "0abcabc"}, {7, "0abcabc"}, {0x8003, "0abcabc"},
        {1, "2xy"}, {0x8001, "2xy"}, {2, "2xyxy"}, {0x8002, "2xyxy"}, {4, "2abcxyabcxy"}};
    for (const auto& [mode, result] : modes) {
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
    EXPECT_EQ(file.IsValid(), 0);
    EXPECT_EQ(file.Open(nullptr, 2), 0);
    EXPECT_EQ(file.Open(dir.File("missing").c_str(), 4), 1);  // created
}

TEST(CFileTest, OpenAndTheDestructorFlushAndCloseTheStreamHeld) {
    TempDir dir;
    auto lowestFree = [] { const int fd = dup(0); close(fd); return fd; };
    const int lowest = lowestFree();
    {
        CFile file;
        ASSERT_EQ(file.Open(dir.File("first").c_str(), 1), 1);
        file.Write("abc", 3);
        ASSERT_EQ(file.Open(dir.File("second").c_str(), 1), 1);
        file.Write("de", 2);
    }
    EXPECT_EQ(FileBytes(dir.File("first")) + FileBytes(dir.File("second")), "abcde");
    EXPECT_EQ(lowestFree(), lowest);  // neither stream leaked
}

// Each of these would crash, or flush every stream, with a null stream.
TEST(CFileTest, WithoutAStreamEveryOperationFails) {
    CFile file;
    char buffer[4] = {};
    EXPECT_EQ(file.GetPosition() + file.Seek(0, 0) + file.Flush() + file.GetLength(), -4);
    EXPECT_EQ(file.Read(buffer, 4) + file.Write(buffer, 4), 0);
    EXPECT_EQ(file.GetStatus()->st_mode, 0u);  // the zeroed record, and the destructor closes nothing
}

TEST(CFileTest, TheStatusRecordChangesOnlyWhenQueriedAndTheLengthLagsUntilFlush) {
    TempDir dir;
    MakeFile(dir.File("three"), "abc");
    CFile file;
    ASSERT_EQ(file.Open(dir.File("three").c_str(), 0), 1);
    const struct stat* status = file.GetStatus();
    ASSERT_EQ(file.Open(dir.File("new").c_str(), 2), 1);
    EXPECT_EQ(status->st_size, 3);  // Open leaves it alone
    EXPECT_EQ(file.Write("0123456789", 10), 10);
    EXPECT_EQ(file.GetLength(), 0);  // still in the stream's buffer
    EXPECT_EQ(file.Flush(), 0);
    EXPECT_EQ(file.GetLength(), 10);
    EXPECT_EQ(file.GetPosition(), 10);
    file.Close();
    EXPECT_EQ(status->st_size, 10);  // the same record, refreshed, then left alone
}

TEST(CFileTest, SeekMapsItsOriginAndTransfersStopAtTheEnd) {
    TempDir dir;
    MakeFile(dir.File("f"), "0123456789");
    CFile file;
    ASSERT_EQ(file.Open(dir.File("f").c_str(), 4), 1);
    file.Seek(9, 0);
    EXPECT_EQ(file.Seek(3, 1), 0);  // from the start, like 0
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
    ASSERT_EQ(symlink("b", dir.File("a").c_str()) | symlink("a", dir.File("b").c_str()), 0);
    // a/x: ELOOP; file/x: ENOTDIR; 300 characters: ENAMETOOLONG.
    const std::pair<std::string, int> paths[] = {{"file", 1},    {"dangling", 1}, {"a/x", 1},
                                                 {"missing", 0}, {"file/x", 0},   {std::string(300, 'n'), 0}};
    for (const auto& [name, result] : paths) EXPECT_EQ(CFile::IsExistent(dir.File(name).c_str()), result) << name;
    EXPECT_EQ(CFile::Rename(dir.File("missing").c_str(), dir.File("to").c_str()), 0);
    EXPECT_EQ(CFile::Rename(dir.File("file").c_str(), dir.File("to").c_str()), 1);
    EXPECT_EQ(CFile::Remove(dir.path), 0);  // not empty
    EXPECT_EQ(CFile::Remove(dir.File("to").c_str()), 1);
    EXPECT_EQ(CFile::IsExistent(nullptr) + CFile::XCreateDirectory(nullptr), 0);
    EXPECT_EQ(CFile::Rename(nullptr, "x") + CFile::Rename("x", nullptr) + CFile::Remove(nullptr), 0);

    // Root may search any directory: the child checks as the unprivileged user "nobody".
    const std::string inside = dir.File("closed/inside");
    ASSERT_EQ(mkdir(dir.File("closed").c_str(), 0) | chmod(dir.path, 0711), 0);
    const pid_t child = fork();
    if (child == 0) {
        struct stat status;
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(77);
        _exit(lstat(inside.c_str(), &status) == 0 || errno != EACCES ? 77 : CFile::IsExistent(inside.c_str()));
    }
    int exitStatus = 0;
    ASSERT_EQ(waitpid(child, &exitStatus, 0), child);
    chmod(dir.File("closed").c_str(), 0700);
    if (exitStatus == 77 << 8) GTEST_SKIP() << "cannot make lstat fail with EACCES here";
    EXPECT_EQ(exitStatus, 0);
}

TEST(CFileTest, XCreateDirectoryCreatesEveryLevelAndCarriesOnPastFailures) {
    TempDir dir;
    const std::string base = dir.File("");
    const std::string existing = Line("/tmp/", EEXIST) + Line(base, EEXIST);
    const mode_t mask = umask(0);
    EXPECT_EQ(CreateDirectory(base + "x//y/"), existing + Line(base + "x/") + Line(base + "x/y/") + "1");
    umask(mask);
    struct stat status;
    ASSERT_EQ(stat(dir.File("x/y").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode, S_IFDIR | 0755u);
    MakeFile(dir.File("file"), "");
    EXPECT_EQ(CreateDirectory(base + "file/sub"),
              existing + Line(base + "file/", EEXIST) + Line(base + "file/sub/", ENOTDIR) + "1");
    EXPECT_EQ(CreateDirectory(base + "m", true), "0");  // without memory: nothing done
    EXPECT_EQ(CreateDirectory("") + CreateDirectory("/") + CreateDirectory("///"), "011");
    char previous[4096];
    ASSERT_TRUE(getcwd(previous, sizeof previous) != nullptr && chdir(dir.path) == 0);
    const std::string relative = CreateDirectory("a/./b");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(relative, Line("a/") + Line("a/./", EEXIST) + Line("a/./b/") + "1");
    EXPECT_EQ(CFile::IsExistent(dir.File("a/b").c_str()), 1);
}

TEST(CFileVersionTest, EveryCallHandsOutTheSameVersionText) {
    char *a = nullptr, *b = nullptr;
    unsigned long size = 12345;
    EXPECT_EQ(CFileVersion().GetString("FileVersion", &a, &size, 0), 1);
    EXPECT_EQ(CFileVersion().GetString(nullptr, &b, nullptr, 99), 1);
    EXPECT_EQ(b, a);
    EXPECT_STREQ(a, "1.30.0.51");
    EXPECT_EQ(size, 12345u);  // not written
}

TEST(CArchiveTest, EveryRecordHasItsBytesAndAgreesWithPythonsStruct) {
    TempDir dir;
    CString withNul("abXcd");
    withNul.GetBuffer()[2] = '\0';
    const long wide = static_cast<long>(sizeof(long) > 4 ? 0x123456789abcdefLL : 0x89abcdefLL);
    const std::pair<std::function<void(CArchive&)>, const char*> records[] = {
        {[](CArchive& a) { a << 'A' << CFile::endl << short{-2}; }, "41 0a fe ff"},
        {[](CArchive& a) { a << 1 << 0x12345678; }, "01 00 00 00 78 56 34 12"},
        {[](CArchive& a) { a << -2L << 0xdeadbeefUL; }, "fe ff ff ff ef be ad de"},
        {[&](CArchive& a) { a << wide << static_cast<unsigned long>(wide); }, "ef cd ab 89 ef cd ab 89"},
        {[](CArchive& a) { a << 1.0f << 1.0; }, "00 00 80 3f 00 00 00 00 00 00 f0 3f"},
        {[](CArchive& a) { a << CString("abc") << CString(); }, "03 00 00 00 61 62 63 00 00 00 00"},
        {[&](CArchive& a) { a << withNul; }, "05 00 00 00 61 62 00 63 64"},
        {[](CArchive& a) { a.WriteCount(0); a.WriteCount(40000); a.WriteCount(65534); }, "00 00 40 9c fe ff"},
        {[](CArchive& a) { a.WriteCount(65535); a.WriteCount(70000); a.WriteCount(-1); },
         "ff ff ff ff 00 00 ff ff 70 11 01 00 ff ff ff ff ff ff"},
    };
    for (const auto& [write, hex] : records) EXPECT_EQ(Hex(Archived(dir, write)), hex);
    // The whole stream and a few more values, packed on their own by Python.
    const std::string ours = Hex(Archived(dir, [&](CArchive& a) {
        for (const auto& record : records) record.first(a);
        a << short{SHRT_MIN} << INT_MIN << 0.1f << -2.5e-300;
    }));
    FILE* python = popen(
        "python3 -c 'import struct, sys; sys.stdout.write(struct.pack(\"<cchiilLlLfdi3sii5sHHHHiHiHihifd\", "
        "b\"A\", b\"\\n\", -2, 1, 0x12345678, -2, 0xdeadbeef, -0x76543211, 0x89abcdef, 1.0, 1.0, 3, b\"abc\", "
        "0, 5, b\"ab\\0cd\", 0, 40000, 65534, 65535, 65535, 65535, 70000, 65535, -1, "
        "-2**15, -2**31, 0.1, -2.5e-300).hex(\" \"))'", "r");
    ASSERT_NE(python, nullptr);
    char theirs[1024];
    const std::size_t got = std::fread(theirs, 1, sizeof theirs, python);
    ASSERT_EQ(pclose(python), 0) << "python3 with its struct module is needed";
    EXPECT_EQ(ours, std::string(theirs, got));
}

TEST(CArchiveTest, ExtractionWidensExactlyTakesStringsUpTo8192AndKeepsWhatCameOfARecordCutShort) {
    TempDir dir;
    const std::string longest = "F" + std::string(8191, 'b');
    const std::string written = Archived(dir, [&](CArchive& a) {
        a.Write("\x01\x00\x80\x7f" "\x01\x00\x00\x00\x00\x00\xf0\x7f", 12);  // signalling NaNs
        a << -1L << -1L;
        a.WriteCount(-1);
        a.WriteCount(40000);
        a << CString("F") << CString(longest.c_str()) << CString((longest + "b").c_str());
        a.Write("\x05\x00\x00\x00hi", 6);
    });
    EXPECT_EQ(written.size(), 12u + 8 + 6 + 2 + 4 + 1 + 4 + 8192 + 4 + 8193 + 6);  // the longer one in full
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
    EXPECT_EQ(std::memcmp(&f, written.data(), 4) | std::memcmp(&d, written.data() + 4, 8), 0);  // bit for bit
    EXPECT_EQ(l, -1L);  // sign-extended
    EXPECT_EQ(u, 0xffffffffUL);  // zero-extended
    EXPECT_EQ(a.ReadCount(), -1);
    EXPECT_EQ(a.ReadCount(), 40000);
    a >> one >> most >> more >> next;
    EXPECT_EQ(std::string(one.GetBuffer()) + most.GetBuffer() + more.GetBuffer(), "F" + longest);
    EXPECT_EQ(next, 'F');  // the first character of the longer record, which read empty
    file.Seek(-6, 4);
    a >> cut;
    EXPECT_STREQ(cut.GetBuffer(), "hi");
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
    }  // the destructor flushes, and the file stays open
    EXPECT_EQ(file.GetLength(), 5);  // nothing came from the detached archives
}
