// What the fuzzer's model does not reach: the longest lines, failing calls, processes, memory.
#include "CProfile.h"

#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <algorithm>
#include <optional>
#include <sstream>

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

// The platform calls `action` makes, by name.
std::vector<std::string> Calls(const std::function<void()>& action) {
    PlatformSeam::Reset();
    action();
    std::vector<std::string> calls;
    std::istringstream trace(PlatformSeam::Trace());
    for (std::string call; trace >> call;) calls.push_back(call.substr(0, call.find('(')));
    PlatformSeam::Reset();
    return calls;
}

// Whether the `n`th of `calls` (from 1) releases a lock: the last flock. `lasting`: whether that
// release comes at or after the `n`th, all of which fail.
bool Unlock(const std::vector<std::string>& calls, std::size_t n, bool lasting = false) {
    const auto last = std::find(calls.rbegin(), calls.rend(), "flock");
    const std::size_t at = static_cast<std::size_t>(calls.rend() - last);  // from 1; 0: none
    return n > 0 && at > 0 && (lasting ? at >= n : at == n);
}

using Check = std::function<void(const std::vector<std::string>& calls, std::size_t n,
                                 const std::string& failed)>;

// `action` runs with nothing failing (n 0), then once for each platform call that run made (of a
// long run: the first and last ten and every 97th), with call n failing with `error` (kShort: only
// writes; kFull: the disk full from that call on), and with `lasting` every later call too;
// `check` follows each run. Returns how many runs had a call failed: none means the seam saw no
// call.
int EachCallFailing(int error, bool lasting, const std::function<void()>& action,
                    const Check& check) {
    const std::vector<std::string> calls = Calls(action);
    check(calls, 0, "");
    int injected = 0;
    const std::size_t count = calls.size();
    for (std::size_t n = 1; n <= count;
         n += n < 10 || n + 10 >= count ? 1 : std::min(count - n - 10, std::size_t(97))) {
        if (error == PlatformSeam::kShort && calls[n - 1].find("pwrite") != 0) continue;
        (lasting ? PlatformSeam::FailFrom : PlatformSeam::Fail)(nullptr, int(n), error);
        action();
        const std::string failed = PlatformSeam::FailedFunction();
        PlatformSeam::Reset();
        // The seam failed that call; a full disk, only a write past the file's end.
        EXPECT_TRUE(error == PlatformSeam::kFull ? failed.empty() || failed.find("pwrite") == 0
                                                 : failed == calls[n - 1])
            << failed << " for " << calls[n - 1];
        check(calls, n, failed);
        injected += !failed.empty();
    }
    return injected;
}

}  // namespace

// Rewritten where it is; a value already there is not written again, a null one is empty.
// Numbers read as strtol reads them, within 32 bits; a missing entry reads as 0.
TEST_F(CProfileTest, ARewriteKeepsTheFileAndNumbersReadAsDecimal) {
    Write(
        "[n]\nk0=42\nk1= \t-7 pears\nk2=+0x1F\nk3=2147483647\nk4=2147483648\nk5=-99999999999\n"
        "k6=pears\nk7=\n");
    struct stat before, after;
    stat(path_.c_str(), &before);
    CProfile profile(path_.c_str());
    const int kNumbers[] = {42, -7, 0, INT_MAX, INT_MAX, INT_MIN, 0, 0, 0};
    for (int i = 0; i < 9; ++i) {
        int value = 99;
        profile.GetProfile("n", ("k" + std::to_string(i)).c_str(), &value);
        EXPECT_EQ(value, kNumbers[i]) << "k" << i;
    }
    Write("[n]\nmin=-2147483648");  // the same value, as the last line without a line feed
    PlatformSeam::Reset();
    profile.WriteProfile("n", "min", INT_MIN);
    EXPECT_EQ(PlatformSeam::Trace().find("pwrite"), std::string::npos);
    EXPECT_EQ(errno, 0);
    profile.WriteProfile("n", "none", nullptr);
    EXPECT_EQ(Read(), "[n]\nmin=-2147483648\nnone=\n");
    stat(path_.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(CProfileTest, OpeningCreatesPrivatelyKeepsContentAndClosesOnce) {
    const mode_t callersMask = umask(022);
    const std::vector<int> free = FreeDescriptors();
    {
        CProfile profile(path_.c_str());
        struct stat status;
        ASSERT_EQ(stat(path_.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
        EXPECT_EQ(umask(callersMask), 022u);
        Write("[s]\nk=v\n");
        const std::vector<int> held = Taken(free);
        EXPECT_FALSE(held.empty());
        profile.OpenFile(path_.c_str());  // what it held is closed first, so its numbers come back
        EXPECT_EQ(Taken(free), held);
        EXPECT_EQ(Get(profile, "s", "k"), "v");
        profile.CloseFile();
        profile.CloseFile();
        EXPECT_EQ(Taken(free), std::vector<int>{});
        EXPECT_EQ(Get(profile, "s", "k"), "");
        profile.WriteProfile("s", "k", "changed");
        EXPECT_EQ(errno, EBADF);
    }
    EXPECT_EQ(Taken(free), std::vector<int>{});
    // A file that may be read but not written is opened read-only.
    PlatformSeam::Fail("openat", 2, EACCES);  // refuses reading and writing
    CProfile readOnly(path_.c_str());
    EXPECT_EQ(Get(readOnly, "s", "k"), "v");
    readOnly.WriteProfile("t", "new", "entry");
    EXPECT_EQ(errno, EACCES);
    readOnly.WriteProfile("s", "k", "v");  // already there
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(Read(), "[s]\nk=v\n");
    // The default profile, refused here so that it is not created.
    PlatformSeam::Reset();
    PlatformSeam::Fail("openat", 1, EROFS);
    CProfile().WriteProfile("s", "k", "v");
    EXPECT_NE(PlatformSeam::Trace().find("/etc/velonix"), std::string::npos);
    EXPECT_EQ(errno, EROFS);
}

// Each write, with lengths up to the format's limits, runs with each of its platform calls failing
// in turn: once (a write part way too), or with the disk full from that call on. The file is the
// old one or the new one, the lock is released unless releasing it failed, and lookups work.
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
        {"[s]\nk=333\n" + large, "s", "k", "4", "[s]\nk=4\n" + large},
        {"[s]\n", "s", "kk", x251, "[s]\nkk=" + x251 + "\n"},  // an entry line of 255 bytes
        {"", n252, "k", "v", "[" + n252 + "]\nk=v\n"},         // a header line of 255 bytes
        {"[s]\n", "s", "kk", x251 + "x", "[s]\n"},
        {"[s]\n", n252 + "n", "k", "v", "[s]\n"},
    };
    const std::vector<int> free = FreeDescriptors();
    int full = 0;  // runs a full disk cut short
    for (const auto& c : kCases) {
        std::optional<CProfile> profile;
        int written = 0;  // the errno the write leaves
        const auto write = [&] {
            Write(c.before);
            profile.emplace(path_.c_str());
            profile->WriteProfile(c.section.c_str(), c.key.c_str(), c.value.c_str());
            written = errno;
        };
        int injected[4] = {};  // once, part way, the disk full, every call failing from one on
        const std::pair<int, bool> kFaults[] = {
            {EIO, false}, {PlatformSeam::kShort, false}, {PlatformSeam::kFull, true}, {EIO, true}};
        for (int e = 0; e < 4; ++e)
            injected[e] = EachCallFailing(
                kFaults[e].first, kFaults[e].second, write,
                [&](const auto& calls, std::size_t n, const auto& failed) {
                    // Calls failing from one on can keep the old content from coming back:
                    // a shrinking write may then stay cut short (beyond 1 MiB, torn).
                    const std::string now = Read();
                    EXPECT_TRUE(now == c.after || (!failed.empty() && now == c.before) ||
                                (e == 3 && (c.before.size() > 1 << 20 ||
                                            (c.after.size() < c.before.size() &&
                                             now == c.after + c.before.substr(c.after.size())))))
                        << c.value << ", call " << n << ", fault " << e;
                    EXPECT_EQ(written == 0, now == c.after && c.after != c.before) << n;
                    // A lock stays only where its release failed.
                    EXPECT_TRUE(Unlocked() || (e == 3 ? Unlock(calls, n, true)
                                                      : failed == "flock" && Unlock(calls, n)));
                    if (now == c.after || now == c.before) {
                        EXPECT_EQ(Get(*profile, c.section.c_str(), c.key.c_str()) == c.value,
                                  now == c.after && c.after != c.before);
                    }
                    profile.reset();  // so that every run makes the same calls
                });
        // Calls failed, positioned writes among them whenever the file changes.
        EXPECT_TRUE(injected[0] > 0 || c.after == c.before) << c.value;
        EXPECT_EQ(injected[3], injected[0]) << c.value;
        EXPECT_EQ(injected[1] > 0, c.after != c.before) << c.value;
        full += injected[2];
    }
    EXPECT_GT(full, 0);
    EXPECT_EQ(Taken(free), std::vector<int>{});
    // A file system without locks is used unlocked; an interrupted wait is retried.
    for (const int error : {ENOLCK, EOPNOTSUPP, EINTR}) {
        Write("[s]\nk=1\n");
        PlatformSeam::Fail("flock", 1, error);
        CProfile(path_.c_str()).WriteProfile("s", "k", "2");
        EXPECT_EQ(Read(), "[s]\nk=2\n") << error;
    }
}

// A lookup that cannot lock or read finds nothing, never a wrong value: with a key in every line,
// some read ends inside some looked-up line, whatever the reads' size. Nor does a lost position
// let InsertContent write, after a failed search or a failed seek of its own.
TEST_F(CProfileTest, FailedLookupsFindNothingAndRefusedMemoryChangesNothing) {
    std::string content = "[s]\n";
    std::vector<std::string> keys;
    const std::string value(200, 'v');
    while (content.size() < 12000) {
        keys.push_back("k" + std::to_string(keys.size()));
        content += keys.back() + "=" + value + "\n";
    }
    Write(content);
    CProfile profile(path_.c_str());
    const auto lost = [](const std::vector<std::string>& calls, std::size_t n, const auto& failed) {
        return failed == "pread" || (failed == "flock" && !Unlock(calls, n));
    };
    std::string found;
    for (const std::string& key : keys) {
        const int injected = EachCallFailing(
            EIO, false, [&] { found = Get(profile, "s", key.c_str()); },
            [&](const auto& calls, std::size_t n, const auto& failed) {
                EXPECT_TRUE(found == value ? !lost(calls, n, failed) : n > 0 && found.empty())
                    << key << ", call " << n;
            });
        EXPECT_GT(injected, 0) << key;
    }
    const int injected = EachCallFailing(
        EIO, false, [&] { Write(content), profile.FindEntry("t", "k"); },
        [&](const auto& calls, std::size_t n, const auto& failed) {
            profile.InsertContent("X\n", 0);  // where section t ends: the file's end
            const bool kept = lost(calls, n, failed) || failed == "lseek";
            EXPECT_TRUE(Read() == content + "X\n" ? !kept : n > 0 && Read() == content) << n;
        });
    EXPECT_GT(injected, 0);
    profile.FindEntry("t", "k");
    PlatformSeam::Fail("lseek", 1, EIO);
    profile.InsertContent("X\n", 0);
    EXPECT_EQ(PlatformSeam::FailedFunction(), "lseek");
    EXPECT_TRUE(Read() == content);
    for (const auto& [section, key] :
         {std::pair<const char*, const char*>{nullptr, "k0"}, {"s", nullptr}}) {
        EXPECT_FALSE(
            profile.FindEntry(section, key));  // a search without a name leaves no position
        profile.InsertContent("X\n", 0);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_TRUE(Read() == content);
    // Without memory a write or an insertion changes nothing, and a profile is not made (nor a
    // descriptor kept). A lookup allocates only the value's block.
    const std::vector<int> free = FreeDescriptors();
    CString got;
    ArrayAllocations allocations;
    EXPECT_TRUE(profile.FindEntry("s", "k0"));
    profile.GetProfile("s", "k0", got);
    EXPECT_EQ(allocations.sizes.size(), 1u);
    allocations.FailNext(1);
    profile.WriteProfile("s", "k0", "22");
    allocations.FailNext(1);
    profile.InsertContent("X\n", 0);
    EXPECT_TRUE(Read() == content);
    profile.InsertContent("X\n", 0);
    EXPECT_TRUE(Read() == "[s]\nX\n" + content.substr(4));
    allocations.FailNext(1, true);
    EXPECT_EQ(ThrownMessage([&] { CProfile refused(path_.c_str()); }),
              "AllocateBuf,allocate memory error");
    EXPECT_EQ(Taken(free), std::vector<int>{});
}

// A writer killed at each of its platform calls in turn, as it grows or shrinks an entry in a
// profile of one page or of three, leaves the old file, the new one, or the new one followed by
// the old one's last bytes (a shrinking write before its cut).
TEST_F(CProfileTest, AWriterKilledAtAnyCallLeavesTheOldOrTheNewFile) {
    const std::string value(60, 'b');
    for (const long pages : {1L, 3L}) {
        std::string rest;
        while (long(rest.size()) < pages * sysconf(_SC_PAGESIZE) - 100)
            rest += "key" + std::to_string(rest.size()) + "=value\n";
        const std::string shorter = "[s]\nk=a\n" + rest, longer = "[s]\nk=" + value + "\n" + rest;
        for (const bool grow : {true, false}) {
            int k = 1;
            for (;; ++k) {
                Write(grow ? shorter : longer);
                const pid_t writer = fork();
                if (writer == 0) {
                    CProfile profile(path_.c_str());
                    PlatformSeam::Fail(nullptr, k, PlatformSeam::kKill);
                    profile.WriteProfile("s", "k", grow ? value.c_str() : "a");
                    _exit(0);
                }
                int status = 0;
                waitpid(writer, &status, 0);
                const std::string now = Read();
                EXPECT_TRUE(now == shorter || now == longer ||
                            (!grow && now == shorter + longer.substr(shorter.size())))
                    << pages << " pages, call " << k << ": " << now;
                if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) break;
            }
            EXPECT_GT(k, 1);
            EXPECT_TRUE(Read() == (grow ? longer : shorter)) << pages;
        }
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
    ASSERT_EQ(chdir(directory_.path.c_str()), 0);
    CProfile daemon("test.rc");
    // A position found before a lookup followed the path is not used in the file found there.
    EXPECT_TRUE(daemon.FindEntry("s", "k"));
    MakeFile(other, "[s]\nk=5\n"), rename(other.c_str(), path_.c_str());
    EXPECT_EQ(Get(daemon, "s", "k"), "5");
    daemon.InsertContent("k=6\n", 4);
    EXPECT_EQ(errno, ESTALE);
    EXPECT_EQ(Read(), "[s]\nk=5\n");
    // A path that cannot be looked at leaves the object with the file it holds.
    MakeFile(other, "[s]\nk=7\n"), rename(other.c_str(), path_.c_str());
    PlatformSeam::Fail("fstatat64", 1, EACCES);
    EXPECT_EQ(Get(daemon, "s", "k"), "5");
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
        {[&] { EXPECT_EQ(chdir(elsewhere.path.c_str()), 0); }, "2", "3", pad + "[s]\nk=3\n"},
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
