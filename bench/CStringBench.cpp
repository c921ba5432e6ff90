// CString storage against std::string doing the same work and against the
// floor: the allocations and copies the work cannot do without.
//
// Each case is registered three times, as <case>/CString, <case>/std::string
// and <case>/floor; bench/ratios.py turns a JSON run into ratios.
#include <benchmark/benchmark.h>

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "CString.h"

namespace {

const std::string kShort(40, 's');  // beyond std::string's in-object capacity
const std::string kLong(400, 'l');
const std::string kPiece(10, 'p');
const std::string kTail(40, 't');

const std::string& TextOf(const benchmark::State& state) {
    return state.range(0) == 40 ? kShort : kLong;
}

void Construct_CString(benchmark::State& state) {
    const char* text = TextOf(state).c_str();
    for (auto _ : state) {
        CString s(text);
        benchmark::DoNotOptimize(s.GetBuffer());
    }
}

void Construct_StdString(benchmark::State& state) {
    const char* text = TextOf(state).c_str();
    for (auto _ : state) {
        std::string s(text);
        benchmark::DoNotOptimize(s.data());
    }
}

void Construct_Floor(benchmark::State& state) {
    const char* text = TextOf(state).c_str();
    for (auto _ : state) {
        const std::size_t length = std::strlen(text);
        char* block = new char[length + 1];
        std::memcpy(block, text, length + 1);
        benchmark::DoNotOptimize(block);
        delete[] block;
    }
}

void Assign_CString(benchmark::State& state) {
    const CString source(TextOf(state).c_str());
    CString target;
    for (auto _ : state) {
        target = source;
        benchmark::DoNotOptimize(target.GetBuffer());
    }
}

void Assign_StdString(benchmark::State& state) {
    const std::string source(TextOf(state));
    std::string target;
    for (auto _ : state) {
        target = source;
        benchmark::DoNotOptimize(target.data());
    }
}

// Assignment takes a fresh block each time: one allocation, one copy, one free.
void Assign_Floor(benchmark::State& state) {
    const std::string& source = TextOf(state);
    char* target = new char[1];
    for (auto _ : state) {
        char* block = new char[source.size() + 1];
        std::memcpy(block, source.c_str(), source.size() + 1);
        delete[] target;
        target = block;
        benchmark::DoNotOptimize(target);
    }
    delete[] target;
}

// Three appends of 10 characters into a block that holds them, then emptied.
void AppendInPlace_CString(benchmark::State& state) {
    CString s(std::string(40, 'x').c_str());  // 96-byte block
    s.Empty();
    const char* piece = kPiece.c_str();
    for (auto _ : state) {
        s += piece;
        s += piece;
        s += piece;
        benchmark::DoNotOptimize(s.GetBuffer());
        s.Empty();
    }
}

void AppendInPlace_StdString(benchmark::State& state) {
    std::string s;
    s.reserve(95);
    const char* piece = kPiece.c_str();
    for (auto _ : state) {
        s += piece;
        s += piece;
        s += piece;
        benchmark::DoNotOptimize(s.data());
        s.clear();
    }
}

void AppendInPlace_Floor(benchmark::State& state) {
    char block[96] = {};
    const char* piece = kPiece.c_str();
    for (auto _ : state) {
        std::size_t length = 0;
        for (int i = 0; i < 3; ++i) {
            const std::size_t n = std::strlen(piece);
            std::memcpy(block + length, piece, n);
            length += n;
        }
        block[length] = '\0';
        benchmark::DoNotOptimize(block);
        benchmark::ClobberMemory();
    }
}

// A 31-character string (64-byte block) gets 40 characters appended, which
// moves it to a 128-byte block.
void AppendThatMoves_CString(benchmark::State& state) {
    const std::string start(31, 'a');
    for (auto _ : state) {
        CString s(start.c_str());
        s += kTail.c_str();
        benchmark::DoNotOptimize(s.GetBuffer());
    }
}

void AppendThatMoves_StdString(benchmark::State& state) {
    const std::string start(31, 'a');
    for (auto _ : state) {
        std::string s(start.c_str());
        s += kTail.c_str();
        benchmark::DoNotOptimize(s.data());
    }
}

void AppendThatMoves_Floor(benchmark::State& state) {
    const std::string start(31, 'a');
    for (auto _ : state) {
        const std::size_t first = std::strlen(start.c_str());
        char* block = new char[64];
        std::memcpy(block, start.c_str(), first + 1);
        const std::size_t second = std::strlen(kTail.c_str());
        char* grown = new char[128];
        std::memcpy(grown, block, first);
        std::memcpy(grown + first, kTail.c_str(), second + 1);
        delete[] block;
        benchmark::DoNotOptimize(grown);
        delete[] grown;
    }
}

void FormatInt_CString(benchmark::State& state) {
    CString s;
    int value = 1234567;
    for (auto _ : state) {
        benchmark::DoNotOptimize(value);
        s.Format("%d", value);
        benchmark::DoNotOptimize(s.GetBuffer());
    }
}

void FormatInt_Snprintf(benchmark::State& state) {
    char buffer[32];
    int value = 1234567;
    for (auto _ : state) {
        benchmark::DoNotOptimize(value);
        std::snprintf(buffer, sizeof buffer, "%d", value);
        benchmark::DoNotOptimize(buffer);
    }
}

void FormatString_CString(benchmark::State& state) {
    CString s;
    const char* text = TextOf(state).c_str();
    for (auto _ : state) {
        s.Format("%s", text);
        benchmark::DoNotOptimize(s.GetBuffer());
    }
}

void FormatString_Snprintf(benchmark::State& state) {
    char buffer[512];
    const char* text = TextOf(state).c_str();
    for (auto _ : state) {
        std::snprintf(buffer, sizeof buffer, "%s", text);
        benchmark::DoNotOptimize(buffer);
    }
}

// About 400 characters of prose with the needle at the end.
std::string Prose() {
    std::string text;
    while (text.size() < 394) text += "the quick brown fox jumps over the lazy dog, ";
    text.resize(394);
    return text + "needle";
}
const std::string kHaystack = Prose();

void FindIndexText_CString(benchmark::State& state) {
    const CString haystack(kHaystack.c_str());
    for (auto _ : state) benchmark::DoNotOptimize(haystack.FindIndex("needle"));
}

void FindIndexText_StdString(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(kHaystack.find("needle"));
}

void FindText_CString(benchmark::State& state) {
    const CString haystack(kHaystack.c_str());
    for (auto _ : state) benchmark::DoNotOptimize(haystack.Find("needle"));
}

void FindText_StdString(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(kHaystack.find("needle"));
}

void FindIndexChar_CString(benchmark::State& state) {
    const CString haystack(kHaystack.c_str());
    for (auto _ : state) benchmark::DoNotOptimize(haystack.FindIndex('n'));
}

void FindIndexChar_StdString(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(kHaystack.find('n'));
}

const std::string kMixedCase = "Content-Type: Application/Octet-Stream";
const std::string kOtherCase = "content-type: application/octet-stream";

void EqualByNoCase_CString(benchmark::State& state) {
    CString s(kMixedCase.c_str());
    for (auto _ : state) benchmark::DoNotOptimize(s.EqualByNoCase(kOtherCase.c_str()));
}

void EqualByNoCase_Strcasecmp(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(strcasecmp(kMixedCase.c_str(), kOtherCase.c_str()) == 0);
}

}  // namespace

BENCHMARK(Construct_CString)->Name("Construct/CString")->Arg(40)->Arg(400);
BENCHMARK(Construct_StdString)->Name("Construct/std::string")->Arg(40)->Arg(400);
BENCHMARK(Construct_Floor)->Name("Construct/floor")->Arg(40)->Arg(400);
BENCHMARK(Assign_CString)->Name("Assign/CString")->Arg(40)->Arg(400);
BENCHMARK(Assign_StdString)->Name("Assign/std::string")->Arg(40)->Arg(400);
BENCHMARK(Assign_Floor)->Name("Assign/floor")->Arg(40)->Arg(400);
BENCHMARK(AppendInPlace_CString)->Name("AppendInPlace/CString");
BENCHMARK(AppendInPlace_StdString)->Name("AppendInPlace/std::string");
BENCHMARK(AppendInPlace_Floor)->Name("AppendInPlace/floor");
BENCHMARK(AppendThatMoves_CString)->Name("AppendThatMoves/CString");
BENCHMARK(AppendThatMoves_StdString)->Name("AppendThatMoves/std::string");
BENCHMARK(AppendThatMoves_Floor)->Name("AppendThatMoves/floor");

BENCHMARK(FormatInt_CString)->Name("Format%d/CString");
BENCHMARK(FormatInt_Snprintf)->Name("Format%d/floor");
BENCHMARK(FormatString_CString)->Name("Format%s/CString")->Arg(40)->Arg(400);
BENCHMARK(FormatString_Snprintf)->Name("Format%s/floor")->Arg(40)->Arg(400);
BENCHMARK(FindIndexText_CString)->Name("FindIndex(text)/CString");
BENCHMARK(FindIndexText_StdString)->Name("FindIndex(text)/std::string");
BENCHMARK(FindText_CString)->Name("Find(text)/CString");
BENCHMARK(FindText_StdString)->Name("Find(text)/std::string");
BENCHMARK(FindIndexChar_CString)->Name("FindIndex(char)/CString");
BENCHMARK(FindIndexChar_StdString)->Name("FindIndex(char)/std::string");
BENCHMARK(EqualByNoCase_CString)->Name("EqualByNoCase/CString");
BENCHMARK(EqualByNoCase_Strcasecmp)->Name("EqualByNoCase/strcasecmp");

BENCHMARK_MAIN();
