// CProfile lookups and writes on profiles of 10, 1,000 and 10,000 lines in
// /tmp, the file system the tests use (TANDEL_BENCH_DIR chooses another).
//
// Floors make the same platform calls by hand. A lookup: pread in 4 KiB
// chunks from the start, scanning lines up to the entry's, without a lock
// ("floor"), and with the shared flock around it and the path check after
// taking it (an fstatat of the name in its directory: "floor_locked"). A
// write: flock, the path check, fstat, pread the whole file into a buffer
// kept across iterations, scan its lines up to the entry's, then one pwritev
// of the new line and the rest (or one pwrite of the line when its length
// stays), ftruncate when the file shrinks, unlock. The peer, when GLib is
// there: GKeyFile loading, setting and saving the whole file.
//
// Arguments: the number of lines, then which key (0 the first, 1 the middle,
// 2 the last). Names follow <case>/<implementation>/<arguments> for ratios.py.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#ifdef TANDEL_BENCH_GLIB
#include <glib.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CProfile.h"
#include "CString.h"

namespace {

std::string KeyName(int index) {
    return "key" + std::to_string(index);
}

int KeyIndex(const benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0)) - 1;  // the header is a line too
    return state.range(1) == 0 ? 0 : state.range(1) == 1 ? entries / 2 : entries - 1;
}

// A profile of `lines` lines: one header, then key<i>=value<i> entries; in
// /tmp, or in the directory TANDEL_BENCH_DIR names.
std::string MakeProfile(int lines) {
    const char* directory = std::getenv("TANDEL_BENCH_DIR");
    const std::string path = std::string(directory != nullptr ? directory : "/tmp") +
                             "/tandel-bench-" + std::to_string(getpid()) + "-" +
                             std::to_string(lines) + ".rc";
    FILE* file = std::fopen(path.c_str(), "w");
    std::fputs("[section]\n", file);
    for (int i = 0; i < lines - 1; ++i) std::fprintf(file, "%s=value%d\n", KeyName(i).c_str(), i);
    std::fclose(file);
    return path;
}

// Scans the complete lines among the `size` bytes at `data` for one that
// begins with `prefix`: its offset, or -1. `*scanned` gets the length of the
// lines looked at.
long FindLine(const char* data, std::size_t size, const std::string& prefix, std::size_t* scanned) {
    std::size_t at = 0;
    while (const char* feed = static_cast<const char*>(std::memchr(data + at, '\n', size - at))) {
        if (std::strncmp(data + at, prefix.c_str(), prefix.size()) == 0) return at;
        at = feed - data + 1;
    }
    *scanned = at;
    return -1;
}

// What the library does before each operation: checks that the file's name,
// in the directory it had at open, still names the open file.
class PathCheck {
public:
    PathCheck(const std::string& path, int fd)
        : m_directory(open(path.substr(0, path.rfind('/')).c_str(), O_PATH | O_DIRECTORY)),
          m_name(path.substr(path.rfind('/') + 1)) {
        fstat(fd, &m_file);
    }
    ~PathCheck() { close(m_directory); }
    bool Passes() const {
        struct stat named;
        return fstatat(m_directory, m_name.c_str(), &named, 0) == 0 &&
               named.st_ino == m_file.st_ino && named.st_dev == m_file.st_dev;
    }

private:
    int m_directory;
    std::string m_name;
    struct stat m_file;
};

// Reads 4 KiB chunks from the start until the line that begins with `prefix`;
// its offset, or -1.
long ScanTo(int fd, const std::string& prefix) {
    char chunk[4096];
    long base = 0;
    std::size_t have = 0;
    for (;;) {
        const ssize_t got = pread(fd, chunk + have, sizeof chunk - have, base + have);
        if (got <= 0) return -1;
        have += got;
        std::size_t scanned = 0;
        const long found = FindLine(chunk, have, prefix, &scanned);
        if (found >= 0) return base + found;
        std::memmove(chunk, chunk + scanned, have - scanned);
        base += scanned;
        have -= scanned;
    }
}

void Lookup_CProfile(benchmark::State& state) {
    const std::string path = MakeProfile(static_cast<int>(state.range(0)));
    const std::string key = KeyName(KeyIndex(state));
    CProfile profile(path.c_str());
    CString value;
    for (auto _ : state) {
        profile.GetProfile("section", key.c_str(), value);
        benchmark::DoNotOptimize(value.GetBuffer());
    }
    unlink(path.c_str());
}

void LookupFloor(benchmark::State& state, bool locked) {
    const std::string path = MakeProfile(static_cast<int>(state.range(0)));
    const std::string prefix = KeyName(KeyIndex(state)) + "=";
    const int fd = open(path.c_str(), O_RDWR);
    const PathCheck check(path, fd);
    for (auto _ : state) {
        if (locked) flock(fd, LOCK_SH);
        if (locked) benchmark::DoNotOptimize(check.Passes());
        benchmark::DoNotOptimize(ScanTo(fd, prefix));
        if (locked) flock(fd, LOCK_UN);
    }
    close(fd);
    unlink(path.c_str());
}

void Lookup_Floor(benchmark::State& state) {
    LookupFloor(state, false);
}
void Lookup_FloorLocked(benchmark::State& state) {
    LookupFloor(state, true);
}

// The two values a write alternates between: of one length, or of two.
const char* Value(bool flip, bool sameLength) {
    return flip ? "AAAA" : sameLength ? "BBBB" : "BBBBBBBB";
}

void Set_CProfile(benchmark::State& state, bool sameLength) {
    const std::string path = MakeProfile(static_cast<int>(state.range(0)));
    const std::string key = KeyName(KeyIndex(state));
    CProfile profile(path.c_str());
    bool flip = false;
    for (auto _ : state)
        profile.WriteProfile("section", key.c_str(), Value(flip = !flip, sameLength));
    unlink(path.c_str());
}

void Set_Floor(benchmark::State& state, bool sameLength) {
    const std::string path = MakeProfile(static_cast<int>(state.range(0)));
    const std::string key = KeyName(KeyIndex(state));
    const std::string prefix = key + "=";
    const int fd = open(path.c_str(), O_RDWR);
    const PathCheck check(path, fd);
    std::vector<char> file(1 << 20);
    bool flip = false;
    for (auto _ : state) {
        const std::string line = key + "=" + Value(flip = !flip, sameLength) + "\n";
        flock(fd, LOCK_EX);
        benchmark::DoNotOptimize(check.Passes());
        struct stat status;
        fstat(fd, &status);
        const std::size_t size = status.st_size;
        benchmark::DoNotOptimize(pread(fd, file.data(), size, 0));
        std::size_t scanned;
        const std::size_t start = FindLine(file.data(), size, prefix, &scanned);
        const std::size_t end =
            static_cast<const char*>(std::memchr(file.data() + start, '\n', size - start)) -
            file.data() + 1;
        if (line.size() == end - start) {
            benchmark::DoNotOptimize(pwrite(fd, line.data(), line.size(), start));
        } else {
            iovec parts[] = {{const_cast<char*>(line.data()), line.size()},
                             {file.data() + end, size - end}};
            benchmark::DoNotOptimize(pwritev(fd, parts, 2, start));
            const std::size_t newSize = start + line.size() + size - end;
            if (newSize < size) benchmark::DoNotOptimize(ftruncate(fd, newSize));
        }
        flock(fd, LOCK_UN);
    }
    close(fd);
    unlink(path.c_str());
}

#ifdef TANDEL_BENCH_GLIB
void Set_GKeyFile(benchmark::State& state, bool sameLength) {
    const std::string path = MakeProfile(static_cast<int>(state.range(0)));
    const std::string key = KeyName(KeyIndex(state));
    bool flip = false;
    for (auto _ : state) {
        GKeyFile* file = g_key_file_new();
        g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
        g_key_file_set_string(file, "section", key.c_str(), Value(flip = !flip, sameLength));
        benchmark::DoNotOptimize(g_key_file_save_to_file(file, path.c_str(), nullptr));
        g_key_file_free(file);
    }
    unlink(path.c_str());
}
#endif

void ProfileArguments(benchmark::internal::Benchmark* benchmark) {
    for (int lines : {10, 1000, 10000})
        for (int which : {0, 1, 2}) benchmark->Args({lines, which});
}

}  // namespace

BENCHMARK(Lookup_CProfile)->Name("Lookup/CProfile")->Apply(ProfileArguments);
BENCHMARK(Lookup_Floor)->Name("Lookup/floor")->Apply(ProfileArguments);
BENCHMARK(Lookup_FloorLocked)->Name("Lookup/floor_locked")->Apply(ProfileArguments);
BENCHMARK_CAPTURE(Set_CProfile, changing, false)->Name("Set/CProfile")->Apply(ProfileArguments);
BENCHMARK_CAPTURE(Set_Floor, changing, false)->Name("Set/floor")->Apply(ProfileArguments);
BENCHMARK_CAPTURE(Set_CProfile, same, true)
    ->Name("SetSameLength/CProfile")
    ->Apply(ProfileArguments);
BENCHMARK_CAPTURE(Set_Floor, same, true)->Name("SetSameLength/floor")->Apply(ProfileArguments);
#ifdef TANDEL_BENCH_GLIB
BENCHMARK_CAPTURE(Set_GKeyFile, changing, false)->Name("Set/GKeyFile")->Apply(ProfileArguments);
BENCHMARK_CAPTURE(Set_GKeyFile, same, true)
    ->Name("SetSameLength/GKeyFile")
    ->Apply(ProfileArguments);
#endif

BENCHMARK_MAIN();
