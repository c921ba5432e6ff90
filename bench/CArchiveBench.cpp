// CArchive records against the floor: the same bytes moved with one stdio call
// per record field (one for a number; two for a string: its length, then its
// characters), and for reference one bulk call for the whole file.
//
// Each case is registered as <case>/CArchive, <case>/floor and <case>/bulk; an
// iteration writes or reads a whole file of 1,000,000 int records or 100,000
// short string records in a temporary directory.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CArchive.h"
#include "CFile.h"
#include "CString.h"

namespace {

const int kInts = 1000000;
const int kStrings = 100000;

// A directory for the benchmark files, removed at exit.
class Scratch {
public:
    Scratch() {
        // tmpfs where there is one, so that no disk takes part in the timing
        char name[] = "/dev/shm/tandel-bench-XXXXXX";
        if (mkdtemp(name) != nullptr) {
            m_directory = name;
            return;
        }
        std::strcpy(name, "/tmp/tandel-bench-XXXXXX");
        if (mkdtemp(name) == nullptr) std::abort();
        m_directory = name;
    }
    ~Scratch() {
        for (const char* file : {"ints", "strings"}) std::remove(Path(file).c_str());
        rmdir(m_directory.c_str());
    }
    std::string Path(const char* file) const { return m_directory + "/" + file; }

private:
    std::string m_directory;
};

const Scratch g_scratch;
const std::string g_ints = g_scratch.Path("ints");
const std::string g_strings = g_scratch.Path("strings");

void Store32(unsigned char* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t Load32(const unsigned char* in) {
    return in[0] | in[1] << 8 | in[2] << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// "s<number>" padded to 5 to 20 characters.
const std::vector<CString>& ShortStrings() {
    static const std::vector<CString> strings = [] {
        std::vector<CString> made;
        made.reserve(kStrings);
        for (int i = 0; i < kStrings; ++i) {
            std::string text = "s" + std::to_string(i);
            text.resize(5 + i % 16, '.');
            made.emplace_back(text.c_str());
        }
        return made;
    }();
    return strings;
}

// The file that the reading cases read: written through the archive.
void PrepareInts() {
    CFile file;
    file.Open(g_ints.c_str(), 1);
    CArchive archive(&file, 0);
    for (int i = 0; i < kInts; ++i) archive << i;
}

void PrepareStrings() {
    CFile file;
    file.Open(g_strings.c_str(), 1);
    CArchive archive(&file, 0);
    for (const CString& s : ShortStrings()) archive << s;
}

void WriteInts_CArchive(benchmark::State& state) {
    for (auto _ : state) {
        CFile file;
        file.Open(g_ints.c_str(), 1);
        CArchive archive(&file, 0);
        for (int i = 0; i < kInts; ++i) archive << i;
    }
}

void WriteInts_Floor(benchmark::State& state) {
    for (auto _ : state) {
        FILE* stream = std::fopen(g_ints.c_str(), "w");
        for (int i = 0; i < kInts; ++i) {
            unsigned char bytes[4];
            Store32(bytes, i);
            std::fwrite(bytes, 1, 4, stream);
        }
        std::fclose(stream);
    }
}

void WriteInts_Bulk(benchmark::State& state) {
    std::vector<unsigned char> image(4 * kInts);
    for (auto _ : state) {
        FILE* stream = std::fopen(g_ints.c_str(), "w");
        for (int i = 0; i < kInts; ++i) Store32(&image[4 * i], i);
        std::fwrite(image.data(), 1, image.size(), stream);
        std::fclose(stream);
    }
}

void ReadInts_CArchive(benchmark::State& state) {
    PrepareInts();
    for (auto _ : state) {
        CFile file;
        file.Open(g_ints.c_str(), 0);
        CArchive archive(&file, 0);
        std::uint32_t sum = 0;
        for (int i = 0; i < kInts; ++i) {
            int value;
            archive >> value;
            sum += value;
        }
        benchmark::DoNotOptimize(sum);
    }
}

void ReadInts_Floor(benchmark::State& state) {
    PrepareInts();
    for (auto _ : state) {
        FILE* stream = std::fopen(g_ints.c_str(), "r");
        std::uint32_t sum = 0;
        for (int i = 0; i < kInts; ++i) {
            unsigned char bytes[4] = {};
            std::fread(bytes, 1, 4, stream);
            sum += Load32(bytes);
        }
        std::fclose(stream);
        benchmark::DoNotOptimize(sum);
    }
}

void ReadInts_Bulk(benchmark::State& state) {
    PrepareInts();
    std::vector<unsigned char> image(4 * kInts);
    for (auto _ : state) {
        FILE* stream = std::fopen(g_ints.c_str(), "r");
        std::fread(image.data(), 1, image.size(), stream);
        std::uint32_t sum = 0;
        for (int i = 0; i < kInts; ++i) sum += Load32(&image[4 * i]);
        std::fclose(stream);
        benchmark::DoNotOptimize(sum);
    }
}

void WriteStrings_CArchive(benchmark::State& state) {
    const std::vector<CString>& strings = ShortStrings();
    for (auto _ : state) {
        CFile file;
        file.Open(g_strings.c_str(), 1);
        CArchive archive(&file, 0);
        for (const CString& s : strings) archive << s;
    }
}

void WriteStrings_Floor(benchmark::State& state) {
    const std::vector<CString>& strings = ShortStrings();
    for (auto _ : state) {
        FILE* stream = std::fopen(g_strings.c_str(), "w");
        for (const CString& s : strings) {
            unsigned char length[4];
            Store32(length, s.GetLength());
            std::fwrite(length, 1, 4, stream);
            std::fwrite(s.GetBuffer(), 1, s.GetLength(), stream);
        }
        std::fclose(stream);
    }
}

void WriteStrings_Bulk(benchmark::State& state) {
    const std::vector<CString>& strings = ShortStrings();
    std::vector<unsigned char> image;
    for (auto _ : state) {
        FILE* stream = std::fopen(g_strings.c_str(), "w");
        image.clear();
        for (const CString& s : strings) {
            const std::size_t at = image.size();
            image.resize(at + 4 + s.GetLength());
            Store32(&image[at], s.GetLength());
            std::memcpy(&image[at + 4], s.GetBuffer(), s.GetLength());
        }
        std::fwrite(image.data(), 1, image.size(), stream);
        std::fclose(stream);
    }
}

// Every case ends with each record's text in a CString, as the archive does.
void ReadStrings_CArchive(benchmark::State& state) {
    PrepareStrings();
    for (auto _ : state) {
        CFile file;
        file.Open(g_strings.c_str(), 0);
        CArchive archive(&file, 0);
        CString s;
        for (int i = 0; i < kStrings; ++i) {
            archive >> s;
            benchmark::DoNotOptimize(s.GetBuffer());
        }
    }
}

void ReadStrings_Floor(benchmark::State& state) {
    PrepareStrings();
    for (auto _ : state) {
        FILE* stream = std::fopen(g_strings.c_str(), "r");
        CString s;
        for (int i = 0; i < kStrings; ++i) {
            unsigned char bytes[4] = {};
            std::fread(bytes, 1, 4, stream);
            const int length = static_cast<int>(Load32(bytes));
            if (length < 1 || length > 8192) {
                s.Empty();
                continue;
            }
            char text[8193];
            const std::size_t got = std::fread(text, 1, length, stream);
            text[got] = '\0';
            s = text;
            benchmark::DoNotOptimize(s.GetBuffer());
        }
        std::fclose(stream);
    }
}

void ReadStrings_Bulk(benchmark::State& state) {
    PrepareStrings();
    std::vector<char> image;
    for (auto _ : state) {
        FILE* stream = std::fopen(g_strings.c_str(), "r");
        std::fseek(stream, 0, SEEK_END);
        image.resize(std::ftell(stream) + 1);
        std::rewind(stream);
        std::fread(image.data(), 1, image.size() - 1, stream);
        std::fclose(stream);
        CString s;
        std::size_t at = 0;
        for (int i = 0; i < kStrings; ++i) {
            const int length =
                static_cast<int>(Load32(reinterpret_cast<unsigned char*>(&image[at])));
            at += 4;
            const char saved = image[at + length];
            image[at + length] = '\0';
            s = &image[at];
            image[at + length] = saved;
            at += length;
            benchmark::DoNotOptimize(s.GetBuffer());
        }
    }
}

}  // namespace

BENCHMARK(WriteInts_CArchive)->Name("WriteInts/CArchive")->Unit(benchmark::kMillisecond);
BENCHMARK(WriteInts_Floor)->Name("WriteInts/floor")->Unit(benchmark::kMillisecond);
BENCHMARK(WriteInts_Bulk)->Name("WriteInts/bulk")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadInts_CArchive)->Name("ReadInts/CArchive")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadInts_Floor)->Name("ReadInts/floor")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadInts_Bulk)->Name("ReadInts/bulk")->Unit(benchmark::kMillisecond);
BENCHMARK(WriteStrings_CArchive)->Name("WriteStrings/CArchive")->Unit(benchmark::kMillisecond);
BENCHMARK(WriteStrings_Floor)->Name("WriteStrings/floor")->Unit(benchmark::kMillisecond);
BENCHMARK(WriteStrings_Bulk)->Name("WriteStrings/bulk")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadStrings_CArchive)->Name("ReadStrings/CArchive")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadStrings_Floor)->Name("ReadStrings/floor")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadStrings_Bulk)->Name("ReadStrings/bulk")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
