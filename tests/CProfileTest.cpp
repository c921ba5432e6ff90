// Profiles are compared as whole files, byte for byte. The profile fuzzer
// checks lookups and writes against a model of the format at random; these
// tests pin the cases that matter by name and the failures it cannot make.
#include "CProfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ArrayAllocations.h"
#include "CString.h"
#include "PlatformSeam.h"

namespace {

class CProfileTest : public testing::Test {
protected:
    void SetUp() override {
        PlatformSeam::Reset();
        char pattern[] = "/tmp/tandel-profile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
        path_ = directory_ + "/test.rc";
    }
    void TearDown() override { std::system(("rm -rf " + directory_).c_str()); }

    void Write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
    std::string Read() const {
        std::ostringstream content;
        content << std::ifstream(path_, std::ios::binary).rdbuf();
        return content.str();
    }
    // The file after one WriteProfile on `content`.
    std::string AfterWrite(const std::string& content, const std::string& section,
                           const std::string& key, const char* value) {
        Write(content);
        CProfile(path_.c_str()).WriteProfile(section.c_str(), key.c_str(), value);
        return Read();
    }
    // Runs `action` in a child process, which exits with 0 after it.
    static pid_t Spawn(const std::function<void()>& action) {
        const pid_t child = fork();
        if (child == 0) {
            action();
            _exit(0);
        }
        return child;
    }
    // The child's exit status; -1 when a signal ended it.
    static int Wait(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Whether no object holds a lock on the file.
    bool Unlocked() const {
        const int fd = open(path_.c_str(), O_RDONLY);
        const bool unlocked = flock(fd, LOCK_EX | LOCK_NB) == 0;
        close(fd);
        return unlocked;
    }

    std::string directory_;
    std::string path_;
};

std::string Get(CProfile& profile, const char* section, const char* key) {
    CString value("stale");
    profile.GetProfile(section, key, value);
    return std::string(value.GetBuffer(), value.GetLength());
}

int OpenDescriptors() {
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    while (readdir(fds) != nullptr) ++count;
    closedir(fds);
    return count;
}

}  // namespace

TEST_F(CProfileTest, LookupsTakeTheFormatExactlyAsWritten) {
    Write(
        "orphan=above every header\n[main]\nkey=value\nspaced = kept\n lead=x\nCase=upper\n"
        "eq=a=b=c\nempty=\ncrlf=dos\r\n=no key\nline without equals\n[ main ]\nk=spaced header\n"
        "[main]\nsecond=only in the second [main]\n[s]\nb=[x]\nc=under x\n[t]\nlong=" +
        std::string(300, 'v') + "[u]\nafter=1\n[open\nlast=no line feed");
    CProfile profile(path_.c_str());
    const struct {
        const char *section, *key, *value;  // a null value: not found
    } kCases[] = {
        {"main", "key", "value"},    {"main", "spaced ", " kept"}, {"main", "spaced", nullptr},
        {"main", " lead", "x"},      {"main", "Case", "upper"},    {"main", "case", nullptr},
        {"MAIN", "key", nullptr},    {"main", "eq", "a=b=c"},      {"main", "empty", ""},
        {"main", "crlf", "dos\r"},   {"main", "", "no key"},       {" main ", "k", "spaced header"},
        {"main", "k", nullptr},      {"main", "second", nullptr},  {"", "orphan", nullptr},
        {"main", "orphan", nullptr}, {"s", "b", nullptr},          {"s", "c", nullptr},
        {"x", "c", "under x"},       {"u", "after", "1"},          {"", "last", "no line feed"},
        {"u", "last", nullptr},  // "[open" names ""
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(profile.FindEntry(c.section, c.key), c.value != nullptr)
            << c.section << "/" << c.key;
        EXPECT_EQ(Get(profile, c.section, c.key), c.value != nullptr ? c.value : "")
            << c.section << "/" << c.key;
    }
    // A line longer than 255 bytes is read in pieces: the value ends with the
    // first, and the next piece, holding "[u]", is a header line.
    EXPECT_EQ(Get(profile, "t", "long"), std::string(250, 'v'));
}

TEST_F(CProfileTest, IntegerValuesAreDecimalAndClampedTo32Bits) {
    Write(
        "[n]\nplain=42\nsigned=  -17x\nhex=0x1F\nhuge=99999999999\ntiny=-99999999999\nword=abc\n");
    CProfile profile(path_.c_str());
    const std::pair<const char*, int> kCases[] = {{"plain", 42},     {"signed", -17},   {"hex", 0},
                                                  {"huge", INT_MAX}, {"tiny", INT_MIN}, {"word", 0},
                                                  {"missing", 0}};
    for (const auto& [key, expected] : kCases) {
        int value = 12345;
        profile.GetProfile("n", key, &value);
        EXPECT_EQ(value, expected) << key;
    }
}

// Where a search leaves the stream shows in where InsertContent writes.
TEST_F(CProfileTest, ASearchLeavesTheStreamWhereAWriteBelongs) {
    const std::string content = "[a]\nk=1\n\n[b]\nk=2\n";
    const struct {
        const char *section, *key, *after;
    } kCases[] = {
        {"a", "k", "[a]\nX\nk=1\n\n[b]\nk=2\n"},        // found: the entry line's start
        {"a", "missing", "[a]\nk=1\n\nX\n[b]\nk=2\n"},  // the next header
        {"b", "missing", "[a]\nk=1\n\n[b]\nk=2\nX\n"},  // the end of the file
        {"nowhere", "k", "[a]\nk=1\n\n[b]\nk=2\nX\n"},
    };
    for (const auto& c : kCases) {
        Write(content);
        {
            CProfile profile(path_.c_str());
            profile.FindEntry(c.section, c.key);
            profile.InsertContent("X\n", 0);
        }
        EXPECT_EQ(Read(), c.after) << c.section << "/" << c.key;
    }
}

TEST_F(CProfileTest, WritesReplaceInPlaceOrAppendToTheSectionOrTheFile) {
    const std::string two = "[s]\nfirst=1\nkey=old value\nlast=3\n[t]\nkey=other\n";
    const struct {
        std::string before;
        const char *section, *key, *value;
        std::string after;
    } kCases[] = {
        {"", "s", "k", "v", "[s]\nk=v\n"},
        {two, "s", "key", "a longer value",
         "[s]\nfirst=1\nkey=a longer value\nlast=3\n[t]\nkey=other\n"},
        {two, "s", "key", "x", "[s]\nfirst=1\nkey=x\nlast=3\n[t]\nkey=other\n"},
        {two, "s", "key", "old value", two},
        {two, "s", "key", nullptr, "[s]\nfirst=1\nkey=\nlast=3\n[t]\nkey=other\n"},
        {"[s]\nkey=v", "s", "key", "v", "[s]\nkey=v\n"},
        {"[s]\nkey=1\nkey=2\n", "s", "key", "9", "[s]\nkey=9\nkey=2\n"},
        {"[s]\na=1\n\n\n[t]\nb=2\n", "s", "new", "n", "[s]\na=1\n\n\nnew=n\n[t]\nb=2\n"},
        {"[s]\na=1\n[t]\nb=2\n", "t", "new", "n", "[s]\na=1\n[t]\nb=2\nnew=n\n"},
        {"[s]\na=1\n[t]\n[s]\nonly=2\n", "s", "only", "3", "[s]\na=1\nonly=3\n[t]\n[s]\nonly=2\n"},
        // A line without a line feed gets one before text inserted after it.
        {"[s]\na=1", "s", "new", "n", "[s]\na=1\nnew=n\n"},
        {"[s]\na=1", "t", "k", "v", "[s]\na=1\n[t]\nk=v\n"},
        {"[s]\na=1\n", "t", "k", "v", "[s]\na=1\n[t]\nk=v\n"},
        // A long line is replaced whole, but a later piece of it that is a
        // header line stays, with its section; NUL bytes elsewhere survive.
        {"[s]\nk=" + std::string(400, 'v') + "\nnext=1\n", "s", "k", "short",
         "[s]\nk=short\nnext=1\n"},
        {"[s]\nk=" + std::string(300, 'v') + "[u]\nafter=1\n", "s", "k", "short",
         "[s]\nk=short\n" + std::string(47, 'v') + "[u]\nafter=1\n"},
        {"[s]\nk=" + std::string(300, 'v'), "s", "k", "short", "[s]\nk=short\n"},
        {std::string("[s]\nk=1\nbin=a\0b\n", 16), "s", "k", "22",
         std::string("[s]\nk=22\nbin=a\0b\n", 17)},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(AfterWrite(c.before, c.section, c.key, c.value), c.after) << c.before;

    // The file is rewritten where it is, never replaced by a new one.
    Write("[n]\n");
    chmod(path_.c_str(), 0640);
    struct stat before, after;
    stat(path_.c_str(), &before);
    CProfile profile(path_.c_str());
    profile.WriteProfile("n", "negative", -42);
    profile.WriteProfile("n", "zero", 0);
    profile.WriteProfile("n", "min", INT_MIN);
    EXPECT_EQ(Read(), "[n]\nnegative=-42\nzero=0\nmin=-2147483648\n");
    PlatformSeam::Reset();
    profile.WriteProfile("n", "zero", 0);  // the value it has: nothing to write
    EXPECT_EQ(
        PlatformSeam::Calls(PlatformSeam::kPwrite) + PlatformSeam::Calls(PlatformSeam::kPwritev),
        0);
    stat(path_.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0640u);
}

TEST_F(CProfileTest, WhatTheFormatCannotHoldIsRefusedAndChangesNothing) {
    const std::string before = "[s]\nk=v\n";
    const std::string value251(251, 'x');  // "kk=" + 251 + "\n" is exactly 255 bytes
    EXPECT_EQ(AfterWrite(before, "s", "kk", value251.c_str()), before + "kk=" + value251 + "\n");
    const struct {
        std::string section, key, value;
    } kRefused[] = {
        {"s", "a=b", "v"},
        {"s", "a[b", "v"},
        {"s", "a\nb", "v"},
        {"s", "k", "[x]"},
        {"s", "k", "a\nb"},
        {"a]b", "k", "v"},
        {"a\nb", "k", "v"},
        {"s", "kkk", value251},
        {std::string(253, 's'), "k", "v"},  // a 256-byte header line
    };
    for (const auto& c : kRefused)
        EXPECT_EQ(AfterWrite(before, c.section, c.key, c.value.c_str()), before)
            << c.key << c.value;
    // A long name that already has its header is no new header line.
    const std::string name(252, 'n');
    EXPECT_EQ(AfterWrite("[" + name + "]\n", name, "k", "v"), "[" + name + "]\nk=v\n");
}

TEST_F(CProfileTest, OpeningCreatesPrivatelyKeepsContentAndClosesOnce) {
    const mode_t callersMask = umask(022);
    CProfile profile(path_.c_str());
    struct stat status;
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(umask(callersMask), 022u);

    Write("[s]\nk=v\n");
    const int before = OpenDescriptors();
    profile.OpenFile(path_.c_str());  // closes the stream it held
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(Read(), "[s]\nk=v\n");
    EXPECT_EQ(Get(profile, "s", "k"), "v");
    profile.CloseFile();
    profile.CloseFile();
    EXPECT_EQ(OpenDescriptors(), before - 1);
    EXPECT_EQ(Get(profile, "s", "k"), "");
    profile.WriteProfile("s", "k", "changed");
    EXPECT_EQ(Read(), "[s]\nk=v\n");

    // Without its directory there is no stream: nothing found, nothing created.
    CProfile nowhere((directory_ + "/missing/test.rc").c_str());
    int number = 5;
    nowhere.GetProfile("s", "k", &number);
    EXPECT_EQ(number, 0);
    nowhere.WriteProfile("s", "k", "v");
    EXPECT_NE(access((directory_ + "/missing").c_str(), F_OK), 0);
}

TEST_F(CProfileTest, AReadOnlyProfileCanBeReadButNotWritten) {
    for (const int error : {EACCES, EROFS}) {
        Write("[s]\nk=v\n");
        PlatformSeam::Fail(PlatformSeam::kFopen, 1, error);  // refuses "r+"
        CProfile profile(path_.c_str());
        EXPECT_EQ(Get(profile, "s", "k"), "v");
        profile.WriteProfile("s", "k", "changed");
        profile.WriteProfile("t", "new", "entry");
        EXPECT_EQ(Read(), "[s]\nk=v\n");
    }
}

// Each platform call of a write fails in turn, outright or, for a write, part
// way as on a full disk: the file is the old one, or the new one when the call
// came after it was complete; the lock is released and lookups work.
TEST_F(CProfileTest, AWriteFailingAtAnyCallLeavesTheOldOrTheNewFile) {
    std::string large;  // more than a write keeps in memory
    for (int i = 0; large.size() <= 1 << 20; ++i) large += "key" + std::to_string(i) + "=value\n";
    const struct {
        std::string before;
        const char *section, *key, *value;
        std::string after;
        int stride;  // between the calls that fail, after the first ten
    } kCases[] = {
        {"[s]\nk=old value\nnext=1\n", "s", "k", "new", "[s]\nk=new\nnext=1\n", 1},
        {"[s]\nk=old\nnext=1\n", "s", "k", "a longer one", "[s]\nk=a longer one\nnext=1\n", 1},
        {"[s]\nk=old\nnext=1\n", "s", "k", "new", "[s]\nk=new\nnext=1\n", 1},
        {"[s]\na=1\n[t]\n", "s", "k", "v", "[s]\na=1\nk=v\n[t]\n", 1},
        {"[s]\na=1", "t", "k", "v", "[s]\na=1\n[t]\nk=v\n", 1},
        {"[s]\nk=1\n" + large, "s", "k", "22", "[s]\nk=22\n" + large, 97},
    };
    for (const auto& c : kCases) {
        for (const int error : {EIO, PlatformSeam::kShort}) {
            for (int call = 1;; call += call < 10 ? 1 : c.stride) {
                Write(c.before);
                CProfile profile(path_.c_str());
                PlatformSeam::Fail(PlatformSeam::kAny, call, error);
                profile.WriteProfile(c.section, c.key, c.value);
                const bool failed = PlatformSeam::Failed();
                PlatformSeam::Reset();
                const bool isNew = Read() == c.after;
                EXPECT_TRUE(isNew || Read() == c.before)
                    << c.value << ", call " << call << ", " << error;
                EXPECT_TRUE(Unlocked() || (failed && isNew));  // or the unlock failed
                EXPECT_EQ(Get(profile, c.section, c.key) == c.value, isNew);
                if (!failed) break;
            }
        }
    }

    // A file system without locks is used unlocked; an interrupted wait is retried.
    for (const int error : {ENOLCK, EOPNOTSUPP, EINTR}) {
        Write("[s]\nk=1\n");
        PlatformSeam::Fail(PlatformSeam::kFlock, 1, error);
        CProfile(path_.c_str()).WriteProfile("s", "k", "2");
        EXPECT_EQ(Read(), "[s]\nk=2\n") << error;
    }

    // A lookup that cannot lock or read finds nothing rather than a wrong value
    // (the entry line straddles the 4 KiB the library reads at a time);
    // InsertContent without its position writes nothing.
    const std::string content = "[s]\n" + std::string(4088, '\n') + "k=vvvv\n";
    Write(content);
    CProfile profile(path_.c_str());
    for (int call = 1;; ++call) {
        PlatformSeam::Fail(PlatformSeam::kAny, call, EIO);
        const std::string value = Get(profile, "s", "k");
        const bool failed = PlatformSeam::Failed();
        PlatformSeam::Reset();
        EXPECT_TRUE(value == "vvvv" || (failed && value.empty())) << call;
        if (!failed) break;
    }
    EXPECT_TRUE(profile.FindEntry("s", "k"));
    PlatformSeam::Fail(PlatformSeam::kLseek, 1, EIO);
    profile.InsertContent("X\n", 0);
    EXPECT_EQ(Read(), content);
}

// A lookup waits while a writer holds the file, and a write while a reader does.
TEST_F(CProfileTest, LookupsAndWritesWaitForEachOthersLocks) {
    Write("[s]\nk=v\n");
    for (const int held : {LOCK_EX, LOCK_SH}) {
        const int fd = open(path_.c_str(), O_RDONLY);
        ASSERT_EQ(flock(fd, held), 0);
        CProfile profile(path_.c_str());
        PlatformSeam::Reset();
        std::atomic<bool> done(false);
        std::thread other([&] {
            if (held == LOCK_EX)
                Get(profile, "s", "k");
            else
                profile.WriteProfile("s", "k", "w");
            done = true;
        });
        while (PlatformSeam::Calls(PlatformSeam::kFlock) == 0 && !done) {
        }
        EXPECT_FALSE(done) << held;
        close(fd);
        other.join();
    }
    EXPECT_EQ(Read(), "[s]\nk=w\n");
}

// A daemon's object, kept open, after another process has written.
TEST_F(CProfileTest, ALongLivedObjectReadsAndKeepsAnotherProcesssWrite) {
    Write("[a]\nk=old\nz=first\n");
    CProfile daemon = path_.c_str();
    EXPECT_EQ(Get(daemon, "a", "k"), "old");
    EXPECT_EQ(Wait(Spawn([&] {
                  CProfile other(path_.c_str());
                  other.WriteProfile("a", "k", "a longer value");
                  other.WriteProfile("a", "new", "entry");
              })),
              0);
    EXPECT_EQ(Get(daemon, "a", "k"), "a longer value");
    daemon.WriteProfile("a", "z", "last");
    EXPECT_EQ(Read(), "[a]\nk=a longer value\nz=last\nnew=entry\n");
}

// Writers in several processes, each with keys of its own, through a fresh
// object per write or one long-lived object, while a reader looks up an entry
// that nobody changes but every write moves.
TEST_F(CProfileTest, ProcessesWritingAtOnceLoseNothingAndReadNoHalfWrittenFile) {
    Write("[a]\n[b]\n[fixed]\nk=constant\n");
    const int kWriters = 4;
    const int kKeys = 100;
    const auto key = [](int writer, int i) {
        return "w" + std::to_string(writer) + "k" + std::to_string(i);
    };
    const auto value = [&](int writer, int i) { return std::string(80, 'v') + key(i, writer); };
    int start[2];  // every process starts when the test closes its end
    int done[2];
    ASSERT_EQ(pipe(start), 0);
    ASSERT_EQ(pipe(done), 0);
    const auto awaitStart = [&] {
        close(start[1]);
        char none;
        return read(start[0], &none, 1);
    };
    const pid_t reader = Spawn([&] {
        close(done[1]);
        CProfile profile(path_.c_str());
        awaitStart();
        pollfd writersDone = {done[0], POLLIN, 0};
        while (poll(&writersDone, 1, 0) == 0)
            if (Get(profile, "fixed", "k") != "constant") _exit(1);
    });
    close(done[0]);
    std::vector<pid_t> writers;
    for (int writer = 0; writer < kWriters; ++writer)
        writers.push_back(Spawn([&, writer] {
            CProfile kept(path_.c_str());
            awaitStart();
            for (int i = 0; i < kKeys; ++i) {
                // Added short, then grown: the file shifts under the others.
                for (const std::string& text : {std::string("x"), value(writer, i)}) {
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
    close(done[1]);
    EXPECT_EQ(Wait(reader), 0);

    CProfile profile(path_.c_str());
    EXPECT_EQ(Get(profile, "fixed", "k"), "constant");
    for (int writer = 0; writer < kWriters; ++writer)
        for (int i = 0; i < kKeys; ++i)
            EXPECT_EQ(Get(profile, i % 2 == 0 ? "a" : "b", key(writer, i).c_str()),
                      value(writer, i));
    // With every entry found, the count of lines leaves room for the headers alone.
    const std::string content = Read();
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 3 + 1 + kWriters * kKeys);
}

// Tool processes started at once on a file that does not exist yet.
TEST_F(CProfileTest, ToolSetsStartedAtOnceAllLand) {
#ifndef TANDEL_PROFILE_TOOL
    GTEST_SKIP() << "the command-line tool is not built";
#else
    std::vector<pid_t> tools;
    for (int i = 0; i < 8; ++i)
        tools.push_back(Spawn([&, i] {
            const std::string key = "k" + std::to_string(i);
            execl(TANDEL_PROFILE_TOOL, "tandel-profile", "-f", path_.c_str(), "set", "s",
                  key.c_str(), key.c_str(), nullptr);
            _exit(127);
        }));
    for (const pid_t tool : tools) EXPECT_EQ(Wait(tool), 0);
    CProfile profile(path_.c_str());
    for (int i = 0; i < 8; ++i) {
        const std::string key = "k" + std::to_string(i);
        EXPECT_EQ(Get(profile, "s", key.c_str()), key);
    }
#endif
}

// A writer killed at random moments while it grows and shrinks an entry: the
// file is the old one, the new one, or the new one followed by the old one's
// last bytes (a shrinking write killed before its cut).
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

TEST_F(CProfileTest, LookupsAllocateNothingPerLine) {
    std::string content = "[s]\n";
    for (int i = 0; i < 1000; ++i)
        content += "key" + std::to_string(i) + "=value" + std::to_string(i) + "\n";
    Write(content);
    CProfile profile(path_.c_str());
    CString value;
    int number = 0;
    ArrayAllocations::Scope scope;
    EXPECT_TRUE(profile.FindEntry("s", "key999"));
    profile.GetProfile("s", "key999", &number);
    EXPECT_EQ(scope.Count(), 0u);
    profile.GetProfile("s", "key999", value);  // one block, for the value
    EXPECT_EQ(scope.Count(), 1u);
    EXPECT_STREQ(value.GetBuffer(), "value999");
}
