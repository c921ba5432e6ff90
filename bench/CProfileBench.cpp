// CProfile lookups and writes on profiles of 10, 1,000 and 10,000 lines,
// against the floor of the same file work done with bare stdio: an fgets scan
// up to the entry's line, and for a write that scan plus copying the rest of
// the file out to a temporary file and back.
//
// Arguments: the number of lines, then which key (0 the first, 1 the middle,
// 2 the last). Names follow <case>/<implementation>/<arguments> for ratios.py.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "CProfile.h"
#include "CString.h"

namespace {

std::string KeyName(int index) { return "key" + std::to_string(index); }

int KeyIndex(const benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0)) - 1;  // the header is a line too
    return state.range(1) == 0 ? 0 : state.range(1) == 1 ? entries / 2 : entries - 1;
}

// A profile of `lines` lines: one header, then key<i>=value<i> entries.
std::string MakeProfile(int lines) {
    const std::string path = "/tmp/tandel-bench-" + std::to_string(getpid()) + "-" +
                             std::to_string(lines) + ".rc";
    FILE* file = std::fopen(path.c_str(), "w");
    std::fputs("[section]\n", file);
    for (int i = 0; i < lines - 1; ++i) std::fprintf(file, "%s=value%d\n", KeyName(i).c_str(), i);
    std::fclose(file);
    return path;
}

// Reads lines from the start until the one that begins with `prefix`; its
// start offset, or -1.
long ScanTo(FILE* file, const char* prefix, char* line) {
    std::rewind(file);
    const std::size_t length = std::strlen(prefix);
    for (;;) {
        const long start = std::ftell(file);
        if (std::fgets(line, 256, file) == nullptr) return -1;
        if (std::strncmp(line, prefix, length) == 0) return start;
    }
}

void CopyRest(FILE* from, FILE* to) {
    char chunk[256];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, from)) > 0) std::fwrite(chunk, 1, got, to);
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

void Lookup_Floor(benchmark::State& state) {
    const std::string path = MakeProfile(static_cast<int>(state.range(0)));
    const std::string prefix = KeyName(KeyIndex(state)) + "=";
    FILE* file = std::fopen(path.c_str(), "r+");
    char line[257];
    for (auto _ : state) benchmark::DoNotOptimize(ScanTo(file, prefix.c_str(), line));
    std::fclose(file);
    unlink(path.c_str());
}

// Writes alternate between two values of one length, so the file stays the same size.
void Write_CProfile(benchmark::State& state) {
    const std::string path = MakeProfile(static_cast<int>(state.range(0)));
    const std::string key = KeyName(KeyIndex(state));
    CProfile profile(path.c_str());
    bool flip = false;
    for (auto _ : state) {
        profile.WriteProfile("section", key.c_str(), (flip = !flip) ? "AAAA" : "BBBB");
    }
    unlink(path.c_str());
}

void Write_Floor(benchmark::State& state) {
    const std::string path = MakeProfile(static_cast<int>(state.range(0)));
    const std::string key = KeyName(KeyIndex(state));
    const std::string prefix = key + "=";
    FILE* file = std::fopen(path.c_str(), "r+");
    char line[257];
    bool flip = false;
    for (auto _ : state) {
        const long start = ScanTo(file, prefix.c_str(), line);
        const long next = std::ftell(file);
        FILE* rest = std::tmpfile();
        std::fseek(file, next, SEEK_SET);
        CopyRest(file, rest);
        std::fflush(rest);
        std::fseek(file, start, SEEK_SET);
        std::fprintf(file, "%s=%s\n", key.c_str(), (flip = !flip) ? "AAAA" : "BBBB");
        std::rewind(rest);
        CopyRest(rest, file);
        std::fflush(file);
        benchmark::DoNotOptimize(ftruncate(fileno(file), std::ftell(file)));
        std::fclose(rest);
    }
    std::fclose(file);
    unlink(path.c_str());
}

void ProfileArguments(benchmark::internal::Benchmark* benchmark) {
    for (int lines : {10, 1000, 10000})
        for (int which : {0, 1, 2}) benchmark->Args({lines, which});
}

}  // namespace

BENCHMARK(Lookup_CProfile)->Name("Lookup/CProfile")->Apply(ProfileArguments);
BENCHMARK(Lookup_Floor)->Name("Lookup/floor")->Apply(ProfileArguments);
BENCHMARK(Write_CProfile)->Name("Write/CProfile")->Apply(ProfileArguments);
BENCHMARK(Write_Floor)->Name("Write/floor")->Apply(ProfileArguments);

BENCHMARK_MAIN();
