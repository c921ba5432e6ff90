// Profiles are compared as whole files, byte for byte. The profile fuzzer
// checks lookups and writes against a model of the format at random; these
// tests pin the cases that matter by name and the failures it cannot make.
#include "CProfile.h"

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "ArrayAllocations.h"
#include "CString.h"

namespace {

class CProfileTest : public testing::Test {
protected:
    void SetUp() override {
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
    // Runs `action` in a child process, for limits and identities that must
    // not reach the test process; its exit status.
    static int InChild(const std::function<void()>& action) {
        const pid_t child = fork();
        if (child == 0) {
            action();
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    Write("orphan=above every header\n[main]\nkey=value\nspaced = kept\n lead=x\nCase=upper\n"
          "eq=a=b=c\nempty=\ncrlf=dos\r\n=no key\nline without equals\n[ main ]\nk=spaced header\n"
          "[main]\nsecond=only in the second [main]\n[s]\nb=[x]\nc=under x\n[t]\nlong=" +
          std::string(300, 'v') + "[u]\nafter=1\n[open\nlast=no line feed");
    CProfile profile(path_.c_str());
    const struct {
        const char *section, *key, *value;  // a null value: not found
    } kCases[] = {
        {"main", "key", "value"},         {"main", "spaced ", " kept"},
        {"main", "spaced", nullptr},      {"main", " lead", "x"},
        {"main", "Case", "upper"},        {"main", "case", nullptr},
        {"MAIN", "key", nullptr},         {"main", "eq", "a=b=c"},
        {"main", "empty", ""},            {"main", "crlf", "dos\r"},
        {"main", "", "no key"},           {" main ", "k", "spaced header"},
        {"main", "k", nullptr},           {"main", "second", nullptr},
        {"", "orphan", nullptr},          {"main", "orphan", nullptr},
        {"s", "b", nullptr},              {"s", "c", nullptr},
        {"x", "c", "under x"},            {"u", "after", "1"},
        {"", "last", "no line feed"},     {"u", "last", nullptr},  // "[open" names ""
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(profile.FindEntry(c.section, c.key), c.value != nullptr) << c.section << "/" << c.key;
        EXPECT_EQ(Get(profile, c.section, c.key), c.value != nullptr ? c.value : "")
            << c.section << "/" << c.key;
    }
    // A line longer than 255 bytes is read in pieces: the value ends with the
    // first, and the next piece, holding "[u]", is a header line.
    EXPECT_EQ(Get(profile, "t", "long"), std::string(250, 'v'));
}

TEST_F(CProfileTest, IntegerValuesAreDecimalAndClampedTo32Bits) {
    Write("[n]\nplain=42\nsigned=  -17x\nhex=0x1F\nhuge=99999999999\ntiny=-99999999999\nword=abc\n");
    CProfile profile(path_.c_str());
    const std::pair<const char*, int> kCases[] = {{"plain", 42},    {"signed", -17},
                                                  {"hex", 0},       {"huge", INT_MAX},
                                                  {"tiny", INT_MIN}, {"word", 0},
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
        {two, "s", "key", "a longer value", "[s]\nfirst=1\nkey=a longer value\nlast=3\n[t]\nkey=other\n"},
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
        {"[s]\nk=" + std::string(400, 'v') + "\nnext=1\n", "s", "k", "short", "[s]\nk=short\nnext=1\n"},
        {"[s]\nk=" + std::string(300, 'v') + "[u]\nafter=1\n", "s", "k", "short",
         "[s]\nk=short\n" + std::string(47, 'v') + "[u]\nafter=1\n"},
        {std::string("[s]\nk=1\nbin=a\0b\n", 16), "s", "k", "22", std::string("[s]\nk=22\nbin=a\0b\n", 17)},
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
        {"s", "a=b", "v"}, {"s", "a[b", "v"},     {"s", "a\nb", "v"},      {"s", "k", "[x]"},
        {"s", "k", "a\nb"}, {"a]b", "k", "v"},    {"a\nb", "k", "v"},      {"s", "kkk", value251},
        {std::string(253, 's'), "k", "v"},  // a 256-byte header line
    };
    for (const auto& c : kRefused)
        EXPECT_EQ(AfterWrite(before, c.section, c.key, c.value.c_str()), before) << c.key << c.value;
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
    Write("[s]\nk=v\n");
    chmod(path_.c_str(), 0444);
    chmod(directory_.c_str(), 0755);
    EXPECT_EQ(InChild([&] {
                  if (geteuid() == 0 && setuid(65534) != 0) _exit(10);  // root writes anything
                  CProfile profile(path_.c_str());
                  if (Get(profile, "s", "k") != "v") _exit(11);
                  profile.WriteProfile("s", "k", "changed");
                  profile.WriteProfile("t", "new", "entry");
              }),
              0);
    EXPECT_EQ(Read(), "[s]\nk=v\n");
}

TEST_F(CProfileTest, AWriteThatCannotFinishLeavesTheOldFile) {
    std::string before = "[s]\n";
    for (int i = 0; i < 200; ++i) before += "key" + std::to_string(i) + "=value\n";
    Write(before);
    const std::string longer(200, 'L');
    const rlimit fileSize = {before.size() + 100, before.size() + 100};
    EXPECT_EQ(InChild([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0) _exit(10);
                  CProfile profile(path_.c_str());
                  profile.WriteProfile("s", "key1", longer.c_str());  // the disk is full
                  profile.WriteProfile("t", "k", longer.c_str());
              }),
              0);
    EXPECT_EQ(Read(), before);

    EXPECT_EQ(InChild([&] {
                  CProfile profile(path_.c_str());
                  // No descriptor left for the temporary file: the next one
                  // would take the lowest free number, which the limit excludes.
                  const int lowestFree = dup(0);
                  close(lowestFree);
                  const rlimit files = {rlim_t(lowestFree), rlim_t(lowestFree)};
                  if (setrlimit(RLIMIT_NOFILE, &files) != 0 || std::tmpfile() != nullptr) _exit(10);
                  profile.WriteProfile("s", "key1", "changed");
              }),
              0);
    EXPECT_EQ(Read(), before);

    // Within the limit the same write goes through.
    InChild([&] {
        setrlimit(RLIMIT_FSIZE, &fileSize);
        CProfile(path_.c_str()).WriteProfile("s", "key1", "short");
    });
    EXPECT_NE(Read(), before);
}

TEST_F(CProfileTest, LookupsAllocateNothingPerLine) {
    std::string content = "[s]\n";
    for (int i = 0; i < 1000; ++i) content += "key" + std::to_string(i) + "=value" + std::to_string(i) + "\n";
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
