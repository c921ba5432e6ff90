// Writes the input to a file and reads it back through extractions of every kind chosen by the
// same input, checking every value against an independent decoder of the bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "CArchive.h"
#include "CFile.h"
#include "CString.h"
#include "FuzzSupport.h"

namespace {

// Decodes the bytes by arithmetic: byte k weighs 256 to the power k. Bytes
// beyond the end count as zero and are not consumed.
struct Decoder {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;

    std::uint64_t Take(int width) {
        std::uint64_t value = 0;
        std::uint64_t weight = 1;
        for (int k = 0; k < width && at < size; ++k, ++at, weight *= 256)
            value += data[at] * weight;
        return value;
    }
    std::int64_t TakeSigned(int width) {
        const std::uint64_t value = Take(width);
        const std::uint64_t half = std::uint64_t{1} << (8 * width - 1);
        return value >= half ? static_cast<std::int64_t>(value - 2 * half)
                             : static_cast<std::int64_t>(value);
    }
    // Up to `count` bytes as they stand.
    std::string TakeBytes(std::size_t count) {
        const std::size_t taken = at < size ? std::min(count, size - at) : 0;
        const std::string bytes(reinterpret_cast<const char*>(data) + at, taken);
        at += taken;
        return bytes;
    }
};

// Through a variable: a float returned by value passes the x87 unit on 32-bit x86.
template <typename Value, typename Result = Value>
Result Extract(CArchive& archive) {
    Value value;
    archive >> value;
    Result result{};
    std::memcpy(&result, &value, sizeof value);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CFile file;
    Check(file.Open(ScratchFile().c_str(), 2) == 1, "open");
    Check(file.Write(data, static_cast<int>(size)) == static_cast<int>(size), "write");
    file.Seek(0, 0);
    CArchive archive(&file, 0);
    Decoder decoder{data, size, 0};
    FuzzedDataProvider choices(data, size);
    for (int step = 0; step < 256 && choices.remaining_bytes() > 0; ++step) {
        const int op = choices.ConsumeIntegralInRange(0, 10);
        if (op == 0) Check(Extract<char>(archive) == static_cast<char>(decoder.Take(1)), "char");
        if (op == 1) Check(Extract<short>(archive) == decoder.TakeSigned(2), "short");
        if (op == 2) Check(Extract<int>(archive) == decoder.TakeSigned(4), "int");
        if (op == 3) Check(Extract<long>(archive) == decoder.TakeSigned(4), "long");
        if (op == 4) Check(Extract<unsigned long>(archive) == decoder.Take(4), "unsigned long");
        if (op == 5) Check(Extract<float, std::uint64_t>(archive) == decoder.Take(4), "float");
        if (op == 6) Check(Extract<double, std::uint64_t>(archive) == decoder.Take(8), "double");
        if (op == 7) {
            CString value("previous");
            archive >> value;
            const std::int64_t length = decoder.TakeSigned(4);
            const std::string bytes =
                length >= 1 && length <= 8192 ? decoder.TakeBytes(length) : "";
            Check(std::string(value.GetBuffer(), value.GetLength()) == bytes.c_str(), "string");
        }
        if (op == 8) {
            const int count = archive.ReadCount();
            const std::uint64_t field = decoder.Take(2);
            Check(count == (field == 0xFFFF ? decoder.TakeSigned(4) : std::int64_t(field)),
                  "count");
        }
        if (op == 9) {
            char buffer[64];
            const int count = choices.ConsumeIntegralInRange(-2, 64);
            const int got = archive.Read(buffer, count);
            const std::string expected = decoder.TakeBytes(count > 0 ? count : 0);
            Check(std::string(buffer, got > 0 ? got : 0) == expected, "raw read");
        }
        if (op == 10) {
            const long offset = choices.ConsumeIntegralInRange<long>(0, long(size) + 8);
            Check(file.Seek(offset, 0) == 0, "seek");
            decoder.at = offset;
        }
    }
    Check(file.GetPosition() == static_cast<long>(decoder.at), "position");
    file.Close();
    std::remove(ScratchFile().c_str());
    return 0;
}
