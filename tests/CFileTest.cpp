#include "CFile.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "ArrayAllocations.h"
#include "TempDir.h"

namespace {

// What `file` reads from its current position to the end.
std::string ReadRest(CFile& file) {
    std::string text;
    char chunk[64];
    for (int got; (got = file.Read(chunk, sizeof chunk)) > 0;) text.append(chunk, got);
    return text;
}

int OpenDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

// What XCreateDirectory prints for `path`, then its result.
std::string CreateDirectory(const char* path) {
    testing::internal::CaptureStdout();
    const int result = CFile::XCreateDirectory(path);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout() + std::to_string(result);
}

std::string Created(const std::string& prefix) { return "create directory: " + prefix + "\n"; }

std::string Failed(const std::string& prefix, int error) {
    return "failed to create directory: " + prefix + " with errno: " + std::to_string(error) + "\n";
}

}  // namespace

TEST(CFileTest, OpenChoosesTheStreamModeFromTheLowThreeBits) {
    TempDir dir;
    const std::string path = dir.File("f");
    for (int mode : {0, 3, 5, 6, 7, 0x8003, 1, 0x8001, 2, 0x8002, 4}) {
        MakeFile(path, "abc");
        CFile file;
        ASSERT_EQ(file.Open(path.c_str(), mode), 1) << mode;
        const std::string written = std::to_string(file.Write("xy", 2));
        file.Seek(0, 0);
        const std::string read = ReadRest(file);
        file.Close();
        const std::string after = FileBytes(path);
        switch (mode & 7) {
            case 1: EXPECT_EQ(written + read + after, "2xy") << mode; break;     // "w"
            case 2: EXPECT_EQ(written + read + after, "2xyxy") << mode; break;   // "w+"
            case 4: EXPECT_EQ(written + read + after, "2abcxyabcxy"); break;     // "a+"
            default: EXPECT_EQ(written + read + after, "0abcabc") << mode; break;  // "r"
        }
    }
    CFile file;
    EXPECT_EQ(file.Open(dir.File("missing").c_str(), 0), 0);
    EXPECT_EQ(file.IsValid(), 0);
    EXPECT_EQ(file.Open(nullptr, 2), 0);
    ASSERT_EQ(file.Open(dir.File("missing").c_str(), 4), 1);
    EXPECT_EQ(file.IsValid(), 1);
    EXPECT_EQ(file.GetLength(), 0);
}

TEST(CFileTest, OpenAndTheDestructorFlushAndCloseTheStreamHeld) {
    TempDir dir;
    const int descriptors = OpenDescriptors();
    {
        CFile file;
        ASSERT_EQ(file.Open(dir.File("first").c_str(), 1), 1);
        file.Write("abc", 3);
        ASSERT_EQ(file.Open(dir.File("second").c_str(), 1), 1);
        EXPECT_EQ(FileBytes(dir.File("first")), "abc");
        EXPECT_EQ(OpenDescriptors(), descriptors + 1);
        file.Write("de", 2);
    }
    EXPECT_EQ(FileBytes(dir.File("second")), "de");
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(CFileTest, WithoutAStreamEveryOperationFailsAndTouchesNothing) {
    TempDir dir;
    CFile other;  // its buffered bytes must stay unflushed
    ASSERT_EQ(other.Open(dir.File("other").c_str(), 1), 1);
    other.Write("pending", 7);

    CFile file;
    char buffer[4] = {'k', 'e', 'e', 'p'};
    EXPECT_EQ(file.GetPosition(), -1);
    EXPECT_EQ(file.Seek(0, 0), -1);
    EXPECT_EQ(file.Read(buffer, 4), 0);
    EXPECT_EQ(file.Write(buffer, 4), 0);
    EXPECT_EQ(file.Flush(), -1);
    EXPECT_EQ(file.GetLength(), -1);
    EXPECT_EQ(file.GetStatus()->st_mode, 0u);  // the zeroed record
    file.Close();
    file.Close();
    EXPECT_EQ(std::string(buffer, 4), "keep");
    EXPECT_EQ(FileBytes(dir.File("other")), "");
}

TEST(CFileTest, LengthLagsBehindBufferedWritesUntilFlush) {
    TempDir dir;
    CFile file;
    ASSERT_EQ(file.Open(dir.File("f").c_str(), 2), 1);
    EXPECT_EQ(file.Write("0123456789", 10), 10);
    EXPECT_EQ(file.GetLength(), 0);
    EXPECT_EQ(file.Flush(), 0);
    EXPECT_EQ(file.GetLength(), 10);
    EXPECT_EQ(file.GetPosition(), 10);
}

TEST(CFileTest, StatusRecordKeepsTheLastFilesValuesUntilRefreshed) {
    TempDir dir;
    MakeFile(dir.File("three"), "abc");
    MakeFile(dir.File("seven"), "abcdefg");
    CFile file;
    ASSERT_EQ(file.Open(dir.File("three").c_str(), 0), 1);
    const struct stat* status = file.GetStatus();
    EXPECT_EQ(status->st_size, 3);
    ASSERT_EQ(file.Open(dir.File("seven").c_str(), 0), 1);
    file.Close();
    ASSERT_EQ(file.Open(dir.File("seven").c_str(), 0), 1);
    EXPECT_EQ(status->st_size, 3);
    EXPECT_EQ(file.GetLength(), 7);
    EXPECT_EQ(status->st_size, 7);  // the same record, refreshed
}

TEST(CFileTest, SeekCountsFromTheStartUnlessTheOriginSaysOtherwise) {
    TempDir dir;
    MakeFile(dir.File("f"), "0123456789");
    CFile file;
    ASSERT_EQ(file.Open(dir.File("f").c_str(), 0), 1);
    file.Seek(9, 0);
    EXPECT_EQ(file.Seek(3, 1), 0);
    EXPECT_EQ(file.GetPosition(), 3);
    EXPECT_EQ(file.Seek(2, 2), 0);
    EXPECT_EQ(file.GetPosition(), 5);
    EXPECT_EQ(file.Seek(-1, 4), 0);
    EXPECT_EQ(ReadRest(file), "9");
    EXPECT_EQ(file.Seek(-100, 3), -1);
    EXPECT_EQ(file.GetPosition(), 10);  // still usable where it was
}

TEST(CFileTest, ReadAndWriteMoveNoBytesForANegativeCount) {
    TempDir dir;
    MakeFile(dir.File("f"), std::string(64, 'z'));
    CFile file;
    ASSERT_EQ(file.Open(dir.File("f").c_str(), 4), 1);
    char small[4] = {};
    EXPECT_EQ(file.Read(small, -1), 0);
    EXPECT_EQ(file.GetPosition(), 0);
    EXPECT_EQ(file.Write(small, -1), 0);
    EXPECT_EQ(file.Read(small, 4), 4);
    EXPECT_EQ(file.Seek(-2, 4), 0);
    EXPECT_EQ(file.Read(small, 4), 2);  // short at the end
    file.Flush();
    EXPECT_EQ(file.GetLength(), 64);
}

TEST(CFileTest, IsExistentLooksAtTheLinkItselfAndReadsTheErrorNumber) {
    TempDir dir;
    MakeFile(dir.File("file"), "");
    ASSERT_EQ(symlink(dir.File("nowhere").c_str(), dir.File("dangling").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("b").c_str(), dir.File("a").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("a").c_str(), dir.File("b").c_str()), 0);
    EXPECT_EQ(CFile::IsExistent(dir.File("file").c_str()), 1);
    EXPECT_EQ(CFile::IsExistent(dir.File("dangling").c_str()), 1);
    EXPECT_EQ(CFile::IsExistent(dir.File("a/x").c_str()), 1);  // ELOOP
    EXPECT_EQ(CFile::IsExistent(dir.File("missing").c_str()), 0);
    EXPECT_EQ(CFile::IsExistent(dir.File("file/x").c_str()), 0);  // ENOTDIR
    EXPECT_EQ(CFile::IsExistent(dir.File(std::string(300, 'n')).c_str()), 0);  // ENAMETOOLONG
    EXPECT_EQ(CFile::IsExistent(nullptr), 0);
}

// Root may search any directory, so the check runs in a child that has become
// the unprivileged user "nobody".
TEST(CFileTest, IsExistentIsZeroUnderADirectoryThatCannotBeSearched) {
    TempDir dir;
    const std::string closed = dir.File("closed");
    const std::string inside = closed + "/inside";
    ASSERT_EQ(mkdir(closed.c_str(), 0700), 0);
    MakeFile(inside, "");
    const bool root = geteuid() == 0;
    ASSERT_EQ(chmod(closed.c_str(), root ? 0700 : 0), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0711), 0);  // "nobody" may pass through to "closed"
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(77);
        struct stat status;
        if (lstat(inside.c_str(), &status) == 0 || errno != EACCES) _exit(77);
        _exit(CFile::IsExistent(inside.c_str()));
    }
    int exitStatus = 0;
    ASSERT_EQ(waitpid(child, &exitStatus, 0), child);
    chmod(closed.c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(exitStatus));
    if (WEXITSTATUS(exitStatus) == 77) {
        GTEST_SKIP() << "cannot make the search fail with EACCES here";
    }
    EXPECT_EQ(WEXITSTATUS(exitStatus), 0);
}

TEST(CFileTest, RenameAndRemoveReportWhetherThePlatformSucceeded) {
    TempDir dir;
    const std::string from = dir.File("from");
    const std::string to = dir.File("sub/to");
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
    EXPECT_EQ(CFile::Rename(from.c_str(), to.c_str()), 0);
    MakeFile(from, "x");
    EXPECT_EQ(CFile::Rename(from.c_str(), to.c_str()), 1);
    EXPECT_EQ(FileBytes(to), "x");
    EXPECT_EQ(CFile::Remove(dir.File("sub").c_str()), 0);  // not empty
    EXPECT_EQ(CFile::Remove(to.c_str()), 1);
    EXPECT_EQ(CFile::Remove(dir.File("sub").c_str()), 1);
    EXPECT_EQ(CFile::IsExistent(dir.File("sub").c_str()), 0);
    EXPECT_EQ(CFile::Rename(nullptr, to.c_str()), 0);
    EXPECT_EQ(CFile::Remove(nullptr), 0);
}

TEST(CFileTest, XCreateDirectoryCreatesEveryLevelAndCarriesOnPastFailures) {
    TempDir dir;
    const std::string base = dir.Path() + "/";  // /tmp/tandel-test-XXXXXX/: both levels exist
    const mode_t mask = umask(022);
    EXPECT_EQ(CreateDirectory((dir.Path() + "/x//y/").c_str()),
              Failed("/tmp/", EEXIST) + Failed(base, EEXIST) + Created(base + "x/") + Created(base + "x/y/") + "1");
    umask(mask);
    struct stat status;
    ASSERT_EQ(stat(dir.File("x/y").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode, S_IFDIR | 0755u);

    MakeFile(dir.File("file"), "");
    const std::string output = CreateDirectory(dir.File("file/sub").c_str());
    const std::string tail = Failed(base + "file/", EEXIST) + Failed(base + "file/sub/", ENOTDIR) + "1";
    ASSERT_GE(output.size(), tail.size());
    EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
}

TEST(CFileTest, XCreateDirectoryGrowsRelativePathsAndHasNothingToDoForRoot) {
    TempDir dir;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    const std::string output = CreateDirectory("a/./b");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(output, Created("a/") + Failed("a/./", EEXIST) + Created("a/./b/") + "1");
    EXPECT_EQ(CFile::IsExistent(dir.File("a/b").c_str()), 1);

    EXPECT_EQ(CreateDirectory(""), "0");
    EXPECT_EQ(CreateDirectory(nullptr), "0");
    EXPECT_EQ(CreateDirectory("/"), "1");
    EXPECT_EQ(CreateDirectory("///"), "1");
}

TEST(CFileTest, XCreateDirectoryWithoutMemoryCreatesNothingAndThrowsNothing) {
    TempDir dir;
    testing::internal::CaptureStdout();
    ArrayAllocations::FailNext(1);
    const int result = CFile::XCreateDirectory(dir.File("x").c_str());
    ArrayAllocations::Stop();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout() + std::to_string(result), "0");
    EXPECT_EQ(CFile::IsExistent(dir.File("x").c_str()), 0);
}
