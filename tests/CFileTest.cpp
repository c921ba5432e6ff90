#include "CFile.h"

#include "TestSupport.h"

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

}  // namespace

// "xy" written over "abc" in each mode: what the write returns, what a read
// from the start gives, and what the file holds. Open closes the stream held.
TEST(CFileTest, OpenChoosesTheStreamModeFromTheLowThreeBitsAndClosesTheStreamHeld) {
    TempDir dir;
    const std::string path = dir.File("f");
    const std::pair<int, const char*> kModes[] = {
        {0, "0abcabc"}, {3, "0abcabc"},      {5, "0abcabc"},    {6, "0abcabc"},
        {7, "0abcabc"}, {0x8003, "0abcabc"}, {1, "2xy"},        {0x8001, "2xy"},
        {2, "2xyxy"},   {0x8002, "2xyxy"},   {4, "2abcxyabcxy"}};
    const std::vector<int> free = FreeDescriptors();
    {
        CFile file;
        for (const auto& [mode, result] : kModes) {
            MakeFile(path, "abc");
            ASSERT_EQ(file.Open(path.c_str(), mode), 1) << mode;
            char bytes[16];
            std::string text = std::to_string(file.Write("xy", 2));
            file.Seek(0, 0);
            text.append(bytes, file.Read(bytes, sizeof bytes));
            EXPECT_EQ(text + FileBytes(path), result) << mode;
            EXPECT_EQ(Taken(free).size(), 1u) << mode;
        }
    }
    EXPECT_EQ(Taken(free), std::vector<int>{});
    CFile file;
    EXPECT_EQ(file.Open(dir.File("missing").c_str(), 0), 0);
    EXPECT_EQ(file.Open(nullptr, 2), 0);
    // Without a stream every operation fails, and Flush leaves the other streams' bytes waiting.
    FILE* other = std::fopen(path.c_str(), "w");
    std::fputs("waiting", other);
    char buffer[4] = {};
    EXPECT_EQ(std::vector<long>({file.GetPosition(), file.Seek(0, 0), file.Flush(),
                                 file.GetLength(), file.Read(buffer, 4), file.Write(buffer, 4),
                                 file.IsValid(), long(FileBytes(path).size())}),
              std::vector<long>({-1, -1, -1, -1, 0, 0, 0, 0}));
    std::fclose(other);
    const struct stat zero = {};
    EXPECT_EQ(std::memcmp(file.GetStatus(), &zero, sizeof zero), 0);  // the record of a new object
}

// The record is refreshed only when queried; the length lags until a flush.
TEST(CFileTest, StatusSeekAndTransfers) {
    TempDir dir;
    CFile file;
    ASSERT_EQ(file.Open(dir.File("new").c_str(), 2), 1);
    EXPECT_EQ(file.IsValid(), 1);
    const struct stat* status = file.GetStatus();
    EXPECT_EQ(file.Write("0123456789", 10), 10);
    EXPECT_EQ(file.Flush(), 0);
    EXPECT_EQ(status->st_size, 0);
    EXPECT_EQ(file.GetLength(), 10);
    EXPECT_EQ(status->st_size, 10);  // the same record, refreshed
    EXPECT_EQ(file.Write("x", 1), 1);
    EXPECT_EQ(file.GetLength(), 10);  // still in the stream's buffer
    EXPECT_EQ(file.Seek(3, 1), 0);    // from the start, like 0
    EXPECT_EQ(file.Seek(2, 2), 0);
    EXPECT_EQ(file.GetPosition(), 5);
    EXPECT_EQ(file.Seek(-4, 4), 0);
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, -1), 0);  // a negative count moves nothing
    EXPECT_EQ(file.Write(buffer, -1), 0);
    EXPECT_EQ(std::string(buffer, file.Read(buffer, 8)), "789x");
    EXPECT_EQ(file.Seek(-100, 3), -1);
    EXPECT_EQ(file.GetPosition(), 11);  // still usable where it was
}

TEST(CFileTest, PathOperationsLookAtTheLinkItselfAndCreateEveryLevelPastFailures) {
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
    EXPECT_EQ(CFile::Remove(dir.path.c_str()), 0);  // not empty
    EXPECT_EQ(CFile::Remove(dir.File("to").c_str()), 1);
    EXPECT_EQ(std::vector<int>({CFile::IsExistent(nullptr), CFile::XCreateDirectory(nullptr),
                                CFile::Rename(nullptr, "x"), CFile::Rename("x", nullptr),
                                CFile::Remove(nullptr)}),
              std::vector<int>(5, 0));  // null paths
    const std::string base = dir.File("");
    std::string existing;  // a line for each level of the directory
    for (std::size_t at = 1; (at = base.find('/', at)) != std::string::npos; ++at)
        existing += Line(base.substr(0, at + 1), EEXIST);
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
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    const std::string relative = CreateDirectory("a/./b");
    std::filesystem::current_path(previous);
    EXPECT_EQ(relative, Line("a/") + Line("a/./", EEXIST) + Line("a/./b/") + "1");
}
