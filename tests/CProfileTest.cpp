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
#include <tuple>

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

    void Write(const std::string& content) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
    }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }
    std::string Get(CProfile& profile, const char* section, const char* key) {
        CString value("stale");
        profile.GetProfile(section, key, value);
        return std::string(value.GetBuffer(), value.GetLength());
    }
    int GetInt(CProfile& profile, const char* section, const char* key) {
        int value = 12345;
        profile.GetProfile(section, key, &value);
        return value;
    }
    // The file after one WriteProfile on `content`.
    std::string AfterWrite(const std::string& content, const char* section, const char* key,
                           const char* value) {
        Write(content);
        CProfile profile(path_.c_str());
        profile.WriteProfile(section, key, value);
        return Read();
    }
    // Runs `action` in a child process (for limits and identities that must
    // not leak into the test process) and returns its exit status.
    int InChild(const std::function<void()>& action) {
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

int OpenDescriptors() {
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    while (readdir(fds) != nullptr) ++count;
    closedir(fds);
    return count;
}

const char kFormatSample[] =
    "orphan=above every header\n"
    "[main]\n"
    "key=value\n"
    "spaced = kept\n"
    " lead=x\n"
    "Case=upper\n"
    "eq=a=b=c\n"
    "empty=\n"
    "crlf=dos\r\n"
    "=no key\n"
    "line without equals\n"
    "[ main ]\n"
    "k=in the spaced header\n"
    "[main]\n"
    "second=only under the second occurrence\n"
    "pre[other]post\n"
    "tail=last line without a line feed";

}  // namespace

TEST_F(CProfileTest, LookupsTakeNamesKeysAndValuesExactlyAsWritten) {
    Write(kFormatSample);
    CProfile profile(path_.c_str());
    EXPECT_EQ(Get(profile, "main", "key"), "value");
    EXPECT_EQ(Get(profile, "main", "spaced "), " kept");
    EXPECT_EQ(Get(profile, "main", "spaced"), "");
    EXPECT_EQ(Get(profile, "main", " lead"), "x");
    EXPECT_EQ(Get(profile, "main", "Case"), "upper");
    EXPECT_FALSE(profile.FindEntry("main", "case"));
    EXPECT_FALSE(profile.FindEntry("MAIN", "key"));
    EXPECT_EQ(Get(profile, "main", "eq"), "a=b=c");
    EXPECT_EQ(Get(profile, "main", "empty"), "");
    EXPECT_TRUE(profile.FindEntry("main", "empty"));
    EXPECT_EQ(Get(profile, "main", "crlf"), "dos\r");
    EXPECT_EQ(Get(profile, "main", ""), "no key");  // the first line with nothing before "="
    EXPECT_EQ(Get(profile, " main ", "k"), "in the spaced header");
    EXPECT_FALSE(profile.FindEntry("main", "k"));
    EXPECT_EQ(Get(profile, "other", "tail"), "last line without a line feed");
}

TEST_F(CProfileTest, OnlyTheFirstOccurrenceOfASectionIsSearched) {
    Write(kFormatSample);
    CProfile profile(path_.c_str());
    EXPECT_FALSE(profile.FindEntry("main", "second"));
    EXPECT_EQ(Get(profile, "main", "second"), "");
    // Lines above the first header belong to no section.
    EXPECT_FALSE(profile.FindEntry("", "orphan"));
    EXPECT_FALSE(profile.FindEntry("main", "orphan"));
}

TEST_F(CProfileTest, AValueWithABracketEndsTheSection) {
    Write("[s]\na=1\nb=[x]\nc=3\n");
    CProfile profile(path_.c_str());
    EXPECT_EQ(Get(profile, "s", "a"), "1");
    EXPECT_FALSE(profile.FindEntry("s", "b"));
    EXPECT_FALSE(profile.FindEntry("s", "c"));
    EXPECT_EQ(Get(profile, "x", "c"), "3");
}

TEST_F(CProfileTest, LinesAreReadInPiecesOf255Bytes) {
    const std::string value(300, 'v');
    Write("[s]\nlong=" + value + "[t]\nafter=1\n");
    CProfile profile(path_.c_str());
    EXPECT_EQ(Get(profile, "s", "long"), value.substr(0, 250));  // 255 bytes of line
    // The rest of the line is a line of its own, here a header line.
    EXPECT_EQ(Get(profile, "t", "after"), "1");
}

TEST_F(CProfileTest, IntegerValues) {
    Write("[n]\nplain=42\nsigned=  -17x\nhex=0x1F\nhuge=99999999999\ntiny=-99999999999\n"
          "empty=\nword=abc\n");
    CProfile profile(path_.c_str());
    EXPECT_EQ(GetInt(profile, "n", "plain"), 42);
    EXPECT_EQ(GetInt(profile, "n", "signed"), -17);
    EXPECT_EQ(GetInt(profile, "n", "hex"), 0);
    EXPECT_EQ(GetInt(profile, "n", "huge"), INT_MAX);
    EXPECT_EQ(GetInt(profile, "n", "tiny"), INT_MIN);
    EXPECT_EQ(GetInt(profile, "n", "empty"), 0);
    EXPECT_EQ(GetInt(profile, "n", "word"), 0);
    EXPECT_EQ(GetInt(profile, "n", "missing"), 0);
}

// Where the stream stands after a search is seen through InsertContent, which
// writes at the stream's position.
TEST_F(CProfileTest, ASearchLeavesTheStreamWhereAWriteBelongs) {
    const std::string content = "[a]\nk=1\n\n[b]\nk=2\n";
    Write(content);
    {
        CProfile profile(path_.c_str());
        EXPECT_TRUE(profile.FindEntry("a", "k"));
        profile.InsertContent("X\n", 0);  // at the start of the entry line
    }
    EXPECT_EQ(Read(), "[a]\nX\nk=1\n\n[b]\nk=2\n");
    Write(content);
    {
        CProfile profile(path_.c_str());
        EXPECT_FALSE(profile.FindEntry("a", "missing"));
        profile.InsertContent("X\n", 0);  // at the start of the next header
    }
    EXPECT_EQ(Read(), "[a]\nk=1\n\nX\n[b]\nk=2\n");
    for (const char* section : {"b", "nowhere"}) {
        Write(content);
        CProfile profile(path_.c_str());
        EXPECT_FALSE(profile.FindEntry(section, "missing"));
        profile.InsertContent("X\n", 0);  // at the end of the file
        EXPECT_EQ(Read(), content + "X\n");
    }
}

TEST_F(CProfileTest, EmptyAndMissingProfiles) {
    {
        CProfile profile(path_.c_str());  // creates the file
        EXPECT_FALSE(profile.FindEntry("s", "k"));
        EXPECT_EQ(Get(profile, "s", "k"), "");
        EXPECT_EQ(GetInt(profile, "s", "k"), 0);
        profile.WriteProfile("s", "k", "v");
    }
    EXPECT_EQ(Read(), "[s]\nk=v\n");

    // Without the directory there is no stream: nothing is found, nothing written.
    const std::string nowhere = directory_ + "/missing/test.rc";
    CProfile profile(nowhere.c_str());
    EXPECT_FALSE(profile.FindEntry("s", "k"));
    EXPECT_EQ(GetInt(profile, "s", "k"), 0);
    profile.WriteProfile("s", "k", "v");
    EXPECT_NE(access((directory_ + "/missing").c_str(), F_OK), 0);
}

TEST_F(CProfileTest, ReplacingKeepsEveryOtherByte) {
    const std::string before = "[s]\nfirst=1\nkey=old value\nlast=3\n[t]\nkey=other\n";
    EXPECT_EQ(AfterWrite(before, "s", "key", "a much longer value than before"),
              "[s]\nfirst=1\nkey=a much longer value than before\nlast=3\n[t]\nkey=other\n");
    EXPECT_EQ(AfterWrite(before, "s", "key", "x"),
              "[s]\nfirst=1\nkey=x\nlast=3\n[t]\nkey=other\n");  // no stale bytes at the end
    EXPECT_EQ(AfterWrite(before, "s", "key", "old value"), before);
    EXPECT_EQ(AfterWrite(before, "s", "key", nullptr),
              "[s]\nfirst=1\nkey=\nlast=3\n[t]\nkey=other\n");
    // The rewritten last line gets its line feed.
    EXPECT_EQ(AfterWrite("[s]\nkey=v", "s", "key", "v"), "[s]\nkey=v\n");
    // Only the first of two lines with the key is replaced.
    EXPECT_EQ(AfterWrite("[s]\nkey=1\nkey=2\n", "s", "key", "9"), "[s]\nkey=9\nkey=2\n");
}

TEST_F(CProfileTest, NewKeysGoToTheEndOfTheirSection) {
    EXPECT_EQ(AfterWrite("[s]\na=1\n\n\n[t]\nb=2\n", "s", "new", "n"),
              "[s]\na=1\n\n\nnew=n\n[t]\nb=2\n");
    EXPECT_EQ(AfterWrite("[s]\na=1\n[t]\nb=2\n", "t", "new", "n"),
              "[s]\na=1\n[t]\nb=2\nnew=n\n");
    // The first occurrence of a repeated section takes the key.
    EXPECT_EQ(AfterWrite("[s]\na=1\n[t]\n[s]\nonly=2\n", "s", "only", "3"),
              "[s]\na=1\nonly=3\n[t]\n[s]\nonly=2\n");
    // A last line without a line feed gets one before the new line.
    EXPECT_EQ(AfterWrite("[s]\na=1", "s", "new", "n"), "[s]\na=1\nnew=n\n");
}

TEST_F(CProfileTest, NewSectionsGoToTheEndOfTheFile) {
    EXPECT_EQ(AfterWrite("[s]\na=1\n", "t", "k", "v"), "[s]\na=1\n[t]\nk=v\n");
    EXPECT_EQ(AfterWrite("[s]\na=1", "t", "k", "v"), "[s]\na=1\n[t]\nk=v\n");
    EXPECT_EQ(AfterWrite("just a line\n", "t", "k", "v"), "just a line\n[t]\nk=v\n");
}

TEST_F(CProfileTest, IntegerWrites) {
    Write("[n]\nk=1\n");
    CProfile profile(path_.c_str());
    profile.WriteProfile("n", "k", -42);
    profile.WriteProfile("n", "zero", 0);
    profile.WriteProfile("n", "min", INT_MIN);
    EXPECT_EQ(Read(), "[n]\nk=-42\nzero=0\nmin=-2147483648\n");
    EXPECT_EQ(GetInt(profile, "n", "min"), INT_MIN);
}

TEST_F(CProfileTest, WhatTheFormatCannotHoldIsRefusedAndChangesNothing) {
    const std::string before = "[s]\nk=v\n";
    const std::string longValue(251, 'x');  // "k=" + 251 + "\n" is 254 bytes
    EXPECT_EQ(AfterWrite(before, "s", "k", longValue.c_str()), "[s]\nk=" + longValue + "\n");
    EXPECT_EQ(AfterWrite(before, "s", "kk", longValue.c_str()),
              before + "kk=" + longValue + "\n");  // exactly 255 bytes
    for (const auto& [section, key, value] : std::initializer_list<std::tuple<std::string, std::string, std::string>>{
             {"s", "a=b", "v"},
             {"s", "a[b", "v"},
             {"s", "a\nb", "v"},
             {"s", "k", "[x]"},
             {"s", "k", "two\nlines"},
             {"a]b", "k", "v"},
             {"a\nb", "k", "v"},
             {"s", "kkk", longValue},                     // 256 bytes with its line feed
             {std::string(253, 's'), "k", "v"}}) {        // a 256-byte header line
        EXPECT_EQ(AfterWrite(before, section.c_str(), key.c_str(), value.c_str()), before)
            << section << " / " << key << " / " << value;
    }
    // An existing long section name is no new header: writing into it works.
    const std::string longName(252, 'n');
    EXPECT_EQ(AfterWrite("[" + longName + "]\n", longName.c_str(), "k", "v"),
              "[" + longName + "]\nk=v\n");
}

TEST_F(CProfileTest, ReplacingALongLineReplacesAllOfIt) {
    const std::string value(400, 'v');
    EXPECT_EQ(AfterWrite("[s]\nk=" + value + "\nnext=1\n", "s", "k", "short"),
              "[s]\nk=short\nnext=1\n");
}

TEST_F(CProfileTest, NulBytesElsewhereSurviveAWrite) {
    const std::string before("[s]\nk=1\nbinary=a\0b\nafter=2\n", 26);
    EXPECT_EQ(AfterWrite(before, "s", "k", "22"), std::string("[s]\nk=22\nbinary=a\0b\nafter=2\n", 27));
}

TEST_F(CProfileTest, ACreatedProfileIsPrivateAndTheMaskIsKept) {
    const mode_t callersMask = umask(022);
    {
        CProfile profile(path_.c_str());
    }
    struct stat status;
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(umask(callersMask), 022u);
}

TEST_F(CProfileTest, OpeningKeepsExistingContent) {
    Write("[s]\nk=v\n");
    {
        CProfile profile(path_.c_str());
    }
    EXPECT_EQ(Read(), "[s]\nk=v\n");
}

TEST_F(CProfileTest, StreamsAreClosedOnceAndNeverUsedAfterClosing) {
    Write("[s]\nk=v\n");
    const int before = OpenDescriptors();
    CProfile profile(path_.c_str());
    profile.OpenFile(path_.c_str());  // closes the first stream
    profile.OpenFile(path_.c_str());
    EXPECT_EQ(OpenDescriptors(), before + 1);
    EXPECT_EQ(Get(profile, "s", "k"), "v");
    profile.CloseFile();
    profile.CloseFile();
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(Get(profile, "s", "k"), "");
    profile.WriteProfile("s", "k", "changed");
    EXPECT_EQ(Read(), "[s]\nk=v\n");
}

TEST_F(CProfileTest, AReadOnlyProfileCanBeReadButNotWritten) {
    Write("[s]\nk=v\n");
    chmod(path_.c_str(), 0444);
    chmod(directory_.c_str(), 0755);
    const int status = InChild([&] {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(10);  // root may write anything
        CProfile profile(path_.c_str());
        CString value;
        profile.GetProfile("s", "k", value);
        if (!(value == "v")) _exit(11);
        profile.WriteProfile("s", "k", "changed");
        profile.WriteProfile("t", "new", "entry");
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Read(), "[s]\nk=v\n");
}

TEST_F(CProfileTest, AFullDiskLeavesTheOldFile) {
    std::string before = "[s]\n";
    for (int i = 0; i < 200; ++i) before += "key" + std::to_string(i) + "=value\n";
    Write(before);
    const std::string longer(200, 'L');
    const int status = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {before.size() + 100, before.size() + 100};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
        CProfile profile(path_.c_str());
        profile.WriteProfile("s", "key1", longer.c_str());  // needs 200 more bytes
        profile.WriteProfile("t", "k", longer.c_str());
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Read(), before);
    // Within the limit the same kind of write goes through.
    InChild([&] {
        const rlimit limit = {before.size() + 100, before.size() + 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        CProfile profile(path_.c_str());
        profile.WriteProfile("s", "key1", "short");
    });
    EXPECT_EQ(Read().size(), before.size());
}

TEST_F(CProfileTest, NoTemporaryFileMeansNoChange) {
    const std::string before = "[s]\nk=v\nafter=1\n";
    Write(before);
    const int status = InChild([&] {
        CProfile profile(path_.c_str());
        // No descriptor left for the temporary file: the next one would be
        // the lowest free number, which the limit now excludes.
        const int lowestFree = dup(0);
        close(lowestFree);
        const rlimit limit = {static_cast<rlim_t>(lowestFree), static_cast<rlim_t>(lowestFree)};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(10);
        if (std::tmpfile() != nullptr) _exit(11);
        profile.WriteProfile("s", "k", "changed");
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Read(), before);
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
    profile.GetProfile("s", "key999", value);  // one block for the value
    EXPECT_EQ(scope.Count(), 1u);
    EXPECT_EQ(std::string(value.GetBuffer()), "value999");
}
