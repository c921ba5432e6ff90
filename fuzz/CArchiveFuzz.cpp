// Writes the input to a file, then reads the file back through a sequence of
// archive extractions (every type, strings, counts, raw reads, seeks) chosen
// by the same input, and checks every value against an independent decoder of
// the bytes. Aborts on the first difference.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CArchive.h"
#include "CFile.h"
#include "CString.h"

namespace {

// On tmpfs where there is one: every run rewrites the file, and a disk-backed
// file system makes that several times slower.
char g_directory[] = "/dev/shm/tandel-fuzz-XXXXXX";
char g_fallbackDirectory[] = "/tmp/tandel-fuzz-XXXXXX";
const char* g_madeDirectory = nullptr;
std::string g_path;

void RemoveFile() {
    std::remove(g_path.c_str());
    rmdir(g_madeDirectory);
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "CArchive differs from the decoder: %s\n", what);
        std::abort();
    }
}

// Decodes the bytes by arithmetic: byte k weighs 256 to the power k. Bytes
// beyond the end count as zero and are not consumed.
class Decoder {
public:
    Decoder(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size), m_position(0) {}

    std::uint64_t Take(int width) {
        std::uint64_t value = 0;
        std::uint64_t weight = 1;
        for (int k = 0; k < width && m_position < m_size; ++k, ++m_position) {
            value += m_data[m_position] * weight;
            weight *= 256;
        }
        return value;
    }
    std::int64_t TakeSigned(int width) {
        const std::uint64_t value = Take(width);
        const std::uint64_t half = std::uint64_t{1} << (8 * width - 1);
        return value >= half ? static_cast<std::int64_t>(value) - static_cast<std::int64_t>(2 * half)
                             : static_cast<std::int64_t>(value);
    }
    // Up to `count` bytes as they stand.
    std::string TakeBytes(std::size_t count) {
        const std::size_t available = m_position < m_size ? m_size - m_position : 0;
        const std::size_t taken = count < available ? count : available;
        std::string bytes(reinterpret_cast<const char*>(m_data) + (taken > 0 ? m_position : 0), taken);
        m_position += taken;
        return bytes;
    }
    void MoveTo(std::size_t position) { m_position = position; }
    std::size_t Position() const { return m_position; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position;
};

template <typename Value>
Value Extract(CArchive& archive) {
    Value value;
    archive >> value;
    return value;
}

template <typename Float>
std::uint64_t BitsOf(const Float& value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof value);
    return bits;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_madeDirectory = mkdtemp(g_directory);
    if (g_madeDirectory == nullptr) g_madeDirectory = mkdtemp(g_fallbackDirectory);
    if (g_madeDirectory == nullptr) std::abort();
    g_path = std::string(g_madeDirectory) + "/archive";
    std::atexit(RemoveFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CFile file;
    Check(file.Open(g_path.c_str(), 2) == 1, "open");
    Check(file.Write(data, static_cast<int>(size)) == static_cast<int>(size), "write");
    file.Seek(0, 0);
    CArchive archive(&file, 0);
    Decoder decoder(data, size);
    FuzzedDataProvider choices(data, size);

    for (int step = 0; step < 256 && choices.remaining_bytes() > 0; ++step) {
        switch (choices.ConsumeIntegralInRange(0, 10)) {
            case 0: Check(Extract<char>(archive) == static_cast<char>(decoder.TakeSigned(1)), "char"); break;
            case 1: Check(Extract<short>(archive) == decoder.TakeSigned(2), "short"); break;
            case 2: Check(Extract<int>(archive) == decoder.TakeSigned(4), "int"); break;
            case 3: Check(Extract<long>(archive) == decoder.TakeSigned(4), "long"); break;
            case 4: Check(Extract<unsigned long>(archive) == decoder.Take(4), "unsigned long"); break;
            case 5: Check(BitsOf(Extract<float>(archive)) == decoder.Take(4), "float"); break;
            case 6: Check(BitsOf(Extract<double>(archive)) == decoder.Take(8), "double"); break;
            case 7: {
                CString v("previous");
                archive >> v;
                const std::int64_t length = decoder.TakeSigned(4);
                std::string expected;
                if (length >= 1 && length <= 8192) expected = decoder.TakeBytes(length).c_str();
                Check(std::string(v.GetBuffer(), v.GetLength()) == expected, "string");
                break;
            }
            case 8: {
                const int count = archive.ReadCount();
                const std::uint64_t field = decoder.Take(2);
                Check(count == (field == 0xFFFF ? decoder.TakeSigned(4) : static_cast<std::int64_t>(field)),
                      "count");
                break;
            }
            case 9: {
                char buffer[64];
                const int count = choices.ConsumeIntegralInRange(-2, 64);
                const int got = archive.Read(buffer, count);
                const std::string expected = decoder.TakeBytes(count > 0 ? count : 0);
                Check(std::string(buffer, got > 0 ? got : 0) == expected, "raw read");
                break;
            }
            case 10: {
                const long offset = choices.ConsumeIntegralInRange<long>(0, static_cast<long>(size) + 8);
                Check(file.Seek(offset, 0) == 0, "seek");
                decoder.MoveTo(offset);
                break;
            }
        }
    }
    Check(file.GetPosition() == static_cast<long>(decoder.Position()), "position");
    return 0;
}
