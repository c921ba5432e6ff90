// What the fuzzer's model does not reach: the longest lines, failing calls, processes, memory.
#include "CProfile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <algorithm>
#include <random>

#include "TestSupport.h"

namespace {

class CProfileTest : public testing::Test {
protected:
    void Write(const std::string& content) { MakeFile(path_, content); }
    std::string Read() const { return FileBytes(path_); }
    // Whether no object holds a lock on the file.
    bool Unlocked() const {
        const int fd = open(path_.c_str(), O_RDONLY);
        const bool unlocked = flock(fd, LOCK_EX | LOCK_NB) == 0;
        close(fd);
        return unlocked;
    }

    TempDir directory_;
    const std::string path_ = directory_.File("test.rc");
};

std::string Get(CProfile& profile, const char* section, const char* key) {
    CString value("stale");
    profile.GetProfile(section, key, value);
    return Text(value);
}

// Runs `action` in a child process, which then exits with 0.
pid_t Spawn(const std::function<void()>& action) {
    const pid_t child = fork();
    if (child == 0) {
        action();
        _exit(0);
    }
    return child;
}

// The child's exit status; -1 when a signal ended it.
int Wait(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// Rewritten where it is (same inode and mode); a value already there is not written again.
TEST_F(CProfileTest, ARewriteKeepsTheFileAndSkipsAnUnchangedValue) {
    Write("[n]\n");
    chmod(path_.c_str(), 0640);
    struct stat before, after;
    stat(path_.c_str(), &before);
    CProfile profile(path_.c_str());
    profile.WriteProfile("n", "min", INT_MIN);
    PlatformSeam::Reset();
    profile.WriteProfile("n", "min", "-2147483648");
    EXPECT_EQ(PlatformSeam::Trace().find("pwrite"), std::string::npos);
    EXPECT_EQ(Read(), "[n]\nmin=-2147483648\n");
    stat(path_.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0640u);
}

TEST_F(CProfileTest, OpeningCreatesPrivatelyKeepsContentAndClosesOnce) {
    const mode_t callersMask = umask(022);
    CProfile profile(path_.c_str());
    struct stat status;
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(umask(callersMask), 022u);
    Write("[s]\nk=v\n");
    const long before = OpenDescriptors();
    profile.OpenFile(path_.c_str());  // closes the stream it held
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(Get(profile, "s", "k"), "v");
    profile.CloseFile();
    profile.CloseFile();
    EXPECT_EQ(OpenDescriptors(), before - 2);  // the file's and its directory's
    EXPECT_EQ(Get(profile, "s", "k"), "");
    profile.WriteProfile("s", "k", "changed");
    EXPECT_EQ(errno, EBADF);
    // A file that may be read but not written is opened read-only.
    PlatformSeam::Fail("openat", 2, EACCES);  // refuses reading and writing
    CProfile readOnly(path_.c_str());
    EXPECT_EQ(Get(readOnly, "s", "k"), "v");
    readOnly.WriteProfile("t", "new", "entry");
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(Read(), "[s]\nk=v\n");
    // Without its directory there is no stream: nothing found, nothing created.
    CProfile nowhere(directory_.File("missing/test.rc").c_str());
    EXPECT_EQ(Get(nowhere, "s", "k"), "");
    nowhere.WriteProfile("s", "k", "v");
    EXPECT_EQ(errno, ENOENT);
    EXPECT_NE(access(directory_.File("missing").c_str(), F_OK), 0);
    // The default profile, refused here so that it is not created.
    PlatformSeam::Reset();
    PlatformSeam::Fail("openat", 1, EROFS);
    CProfile().WriteProfile("s", "k", "v");
    EXPECT_EQ(PlatformSeam::Trace() + " " + std::strerror(errno),
              "openat(/etc/velonix) Read-only file system");
}

// Each write, with lengths up to the format's limits, runs with each platform call failing in
// turn (a write part way, as on a full disk), then with none failing: the file is the old one or
// the new one, the lock is released and lookups work.
TEST_F(CProfileTest, AWriteGivesTheNewFileOrOnAFailingCallTheOld) {
    std::string large;  // more than a write keeps in memory
    for (int i = 0; large.size() <= 1 << 20; ++i) large += "key" + std::to_string(i) + "=value\n";
    const std::string x251(251, 'x'), n252(252, 'n');
    const struct {
        std::string before, section, key, value, after;
    } kCases[] = {
        {"[s]\nk=old value\nnext=1\n", "s", "k", "new", "[s]\nk=new\nnext=1\n"},
        {"[s]\nk=old\nnext=1\n", "s", "k", "a longer one", "[s]\nk=a longer one\nnext=1\n"},
        {"[s]\nk=old\nnext=1\n", "s", "k", "new", "[s]\nk=new\nnext=1\n"},
        {"[s]\na=1", "t", "k", "v", "[s]\na=1\n[t]\nk=v\n"},
        {"[s]\nk=1\n" + large, "s", "k", "22", "[s]\nk=22\n" + large},
        {"[s]\n", "s", "kk", x251, "[s]\nkk=" + x251 + "\n"},  // an entry line of 255 bytes
        {"", n252, "k", "v", "[" + n252 + "]\nk=v\n"},         // a header line of 255 bytes
        {"[s]\n", "s", "kk", x251 + "x", "[s]\n"},
        {"[s]\n", n252 + "n", "k", "v", "[s]\n"},
    };
    const long descriptors = OpenDescriptors();
    for (const auto& c : kCases) {
        for (const int error : {EIO, PlatformSeam::kShort}) {
            // After the first ten, every call of a small file, every 97th of a large one.
            for (int call = 1;; call += call < 10 || c.before.size() < 4096 ? 1 : 97) {
                Write(c.before);
                CProfile profile(path_.c_str());
                PlatformSeam::Fail(nullptr, call, error);
                profile.WriteProfile(c.section.c_str(), c.key.c_str(), c.value.c_str());
                const bool failed = PlatformSeam::Failed();
                PlatformSeam::Reset();
                const bool isNew = Read() == c.after;
                EXPECT_TRUE(isNew || (failed && Read() == c.before))
                    << c.value << ", call " << call << ", " << error;
                EXPECT_TRUE(Unlocked() || (failed && isNew));  // or the unlock failed
                EXPECT_EQ(Get(profile, c.section.c_str(), c.key.c_str()) == c.value,
                          isNew && c.after != c.before);
                if (!failed) break;
            }
        }
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
    // A file system without locks is used unlocked; an interrupted wait is retried.
    for (const int error : {ENOLCK, EOPNOTSUPP, EINTR}) {
        Write("[s]\nk=1\n");
        PlatformSeam::Fail("flock", 1, error);
        CProfile(path_.c_str()).WriteProfile("s", "k", "2");
        EXPECT_EQ(Read(), "[s]\nk=2\n") << error;
    }
}

// A lookup that cannot lock or read finds nothing, not a wrong value (the entry straddles the
// 4 KiB read at a time); none allocates per line. Nor does a lost position let InsertContent write,
// after a failed search or a failed seek of its own.
TEST_F(CProfileTest, ALookupFailingAtAnyCallFindsNothingAndNoneAllocatesPerLine) {
    const std::string content = "[s]\n" + std::string(4088, '\n') + "k=vvvv\n";
    Write(content);
    CProfile profile(path_.c_str());
    for (int call = 1;; ++call) {
        PlatformSeam::Fail(nullptr, call, EIO);
        const std::string value = Get(profile, "s", "k");
        bool failed = PlatformSeam::Failed();
        PlatformSeam::Reset();
        EXPECT_TRUE(value == "vvvv" || (failed && value.empty())) << call;
        PlatformSeam::Fail(nullptr, call, EIO);
        EXPECT_FALSE(profile.FindEntry("t", "k"));
        failed = PlatformSeam::Failed() || failed;
        PlatformSeam::Reset();
        profile.InsertContent("X\n", 0);  // where section t would end: the end of the file
        EXPECT_TRUE(Read() == content + "X\n" || (failed && Read() == content)) << call;
        Write(content);
        if (!failed) break;
    }
    CString value;
    ArrayAllocations allocations;
    EXPECT_TRUE(profile.FindEntry("s", "k"));
    profile.GetProfile("s", "k", value);  // one block, for the value
    EXPECT_EQ(allocations.sizes.size(), 1u);
    PlatformSeam::Fail("lseek", 1, EIO);
    profile.InsertContent("X\n", 0);
    EXPECT_EQ(Read(), content);
}

// Writers in several processes at once, each with keys of its own, through a fresh object per
// write or a long-lived one; then a daemon's object, open throughout, reads and keeps them all.
TEST_F(CProfileTest, ProcessesWritingAtOnceLoseNothing) {
    Write("[a]\n[b]\n");
    CProfile daemon = path_.c_str();
    EXPECT_EQ(Get(daemon, "b", "w0k1"), "");
    const int kWriters = 4;
    const int kKeys = 100;
    const auto key = [](int writer, int i) {
        return "w" + std::to_string(writer) + "k" + std::to_string(i);
    };
    int start[2];  // every writer starts when the test closes its end
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> writers;
    for (int writer = 0; writer < kWriters; ++writer)
        writers.push_back(Spawn([&, writer] {
            CProfile kept(path_.c_str());
            close(start[1]);
            char none;
            if (read(start[0], &none, 1) != 0) _exit(1);
            for (int i = 0; i < kKeys; ++i) {
                // Added short, then grown: the file shifts under the others.
                for (const std::string& text :
                     {std::string("x"), std::string(80, 'v') + key(i, 0)}) {
                    const char* section = i % 2 == 0 ? "a" : "b";
                    if (writer % 2 == 0)
                        kept.WriteProfile(section, key(writer, i).c_str(), text.c_str());
                    else
                        CProfile(path_.c_str())
                            .WriteProfile(section, key(writer, i).c_str(), text.c_str());
                }
            }
        }));
    close(start[1]);
    for (const pid_t writer : writers) EXPECT_EQ(Wait(writer), 0);
    daemon.WriteProfile("a", "daemon", "last");
    for (int writer = 0; writer < kWriters; ++writer)
        for (int i = 0; i < kKeys; ++i)
            EXPECT_EQ(Get(daemon, i % 2 == 0 ? "a" : "b", key(writer, i).c_str()),
                      std::string(80, 'v') + key(i, 0));
    // With every entry found, the count of lines leaves room for the headers and the daemon's.
    const std::string content = Read();
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 3 + kWriters * kKeys);
}

// A writer killed at random while it grows and shrinks an entry leaves the old file, the new
// one, or the new one followed by the old one's last bytes (a shrinking write before its cut).
TEST_F(CProfileTest, AKilledWriterLeavesTheOldOrTheNewFile) {
    std::string rest;
    for (int i = 0; i < 40; ++i) rest += "key" + std::to_string(i) + "=value\n";
    const std::string value(60, 'b');
    const std::string shorter = "[s]\nk=a\n" + rest;
    const std::string longer = "[s]\nk=" + value + "\n" + rest;
    const std::string shrinkWindow = shorter + longer.substr(shorter.size());
    std::minstd_rand random(2024);
    for (int round = 0; round < 150; ++round) {
        Write(shorter);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t writer = Spawn([&] {
            CProfile profile(path_.c_str());
            if (write(ready[1], "", 1) != 1) _exit(1);
            for (bool grow = true;; grow = !grow)
                profile.WriteProfile("s", "k", grow ? value.c_str() : "a");
        });
        char started;
        ASSERT_EQ(read(ready[0], &started, 1), 1);
        close(ready[0]);
        close(ready[1]);
        usleep(random() % 1000);  // a moment at random, not a wait for anything
        kill(writer, SIGKILL);
        EXPECT_EQ(Wait(writer), -1);
        const std::string now = Read();
        EXPECT_TRUE(now == shorter || now == longer || now == shrinkWindow) << round << ": " << now;
    }
}

// A daemon's object, opened with a relative path and kept open while other programs replace its
// file (by rename, with one of another size), change the working directory and remove the file.
TEST_F(CProfileTest, ALongLivedObjectFollowsItsPathAsOpenWould) {
    TempDir elsewhere;
    MakeFile(elsewhere.File("test.rc"), "[s]\nk=elsewhere\n");
    const std::string pad = "[t]\n" + std::string(40, 'p') + "=\n", other = directory_.File("n");
    const std::string cwd = std::filesystem::current_path();
    Write("[s]\nk=0\n");
    ASSERT_EQ(chdir(directory_.path), 0);
    CProfile daemon("test.rc");
    const struct {
        std::function<void()> change;
        const char* lookup;  // null: the write comes first
        const char* value;
        std::string after;
    } kCases[] = {
        {[&] { MakeFile(other, "[s]\nk=new\n"), rename(other.c_str(), path_.c_str()); }, "new", "1",
         "[s]\nk=1\n"},
        {[&] { MakeFile(other, pad + "[s]\nk=x\n"), rename(other.c_str(), path_.c_str()); },
         nullptr, "2", pad + "[s]\nk=2\n"},
        {[&] { EXPECT_EQ(chdir(elsewhere.path), 0); }, "2", "3", pad + "[s]\nk=3\n"},
        {[&] { unlink(path_.c_str()); }, "", "4", "[s]\nk=4\n"},
    };
    for (const auto& c : kCases) {
        c.change();
        if (c.lookup != nullptr) {
            EXPECT_EQ(Get(daemon, "s", "k"), c.lookup) << c.value;
        }
        daemon.WriteProfile("s", "k", c.value);
        EXPECT_EQ(errno, 0) << c.value;
        EXPECT_EQ(Read(), c.after) << c.value;
    }
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    struct stat status;
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(FileBytes(elsewhere.File("test.rc")), "[s]\nk=elsewhere\n");
}

// An unchanged last line without a line feed is not written again; a search given no section or
// key leaves no position for InsertContent, as a failed search does.
TEST_F(CProfileTest, NothingIsWrittenForAnUnchangedLastLineOrAfterANullSearch) {
    Write("[s]\nk=v");
    CProfile profile(path_.c_str());
    profile.WriteProfile("s", "k", "v");
    EXPECT_EQ(errno, 0);
    for (const auto& [section, key] :
         {std::pair<const char*, const char*>{nullptr, "k"}, {"s", nullptr}}) {
        EXPECT_FALSE(profile.FindEntry(section, key));
        profile.InsertContent("x=1\n", 0);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(Read(), "[s]\nk=v");
}
