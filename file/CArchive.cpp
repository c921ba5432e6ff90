#include "CArchive.h"

#include <cstdint>
#include <cstring>

namespace {

// Longest string record that is read back; longer ones read as empty.
const int kLongestStringRecord = 8192;

// Marks a count record of the long form.
const std::uint16_t kLongCount = 0xFFFF;

// The byte format is little-endian whatever the host: bytes are placed by shifts.
template <typename Bits>
void Store(unsigned char* out, Bits bits) {
    for (std::size_t i = 0; i < sizeof(Bits); ++i) out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

template <typename Bits>
Bits Load(const unsigned char* in) {
    Bits bits = 0;
    for (std::size_t i = 0; i < sizeof(Bits); ++i) bits |= static_cast<Bits>(static_cast<Bits>(in[i]) << (8 * i));
    return bits;
}

// One record, one call on the file.
template <typename Bits>
void PutRecord(CArchive& archive, Bits bits) {
    unsigned char bytes[sizeof(Bits)];
    Store(bytes, bits);
    archive.Write(bytes, sizeof(Bits));
}

// Bytes that do not arrive stay zero.
template <typename Bits>
Bits GetRecord(CArchive& archive) {
    unsigned char bytes[sizeof(Bits)] = {};
    archive.Read(bytes, sizeof(Bits));
    return Load<Bits>(bytes);
}

// Floating-point values travel as their bit patterns and never as values, so
// that no register on the way (x87 on 32-bit x86) can quiet a signalling NaN.
template <typename Bits, typename Float>
Bits BitsOf(const Float& value) {
    static_assert(sizeof(Bits) == sizeof(Float), "IEEE 754 widths");
    Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

template <typename Float, typename Bits>
void SetBits(Float& value, Bits bits) {
    static_assert(sizeof(Bits) == sizeof(Float), "IEEE 754 widths");
    std::memcpy(&value, &bits, sizeof value);
}

}  // namespace

CArchive::CArchive(CFile* file, int mode) : m_pFile(file), m_nMode(mode) {}

CArchive::~CArchive() { Close(); }

int CArchive::IsValid() { return m_pFile != nullptr ? m_pFile->IsValid() : 0; }

void CArchive::Close() {
    if (m_pFile == nullptr) return;
    m_pFile->Flush();
    m_pFile = nullptr;
}

void CArchive::Flush() {
    if (m_pFile != nullptr) m_pFile->Flush();
}

// A file without a stream reads and writes nothing, so no further check is needed.
int CArchive::Read(void* buffer, int count) { return m_pFile != nullptr ? m_pFile->Read(buffer, count) : 0; }

void CArchive::Write(const void* buffer, int count) {
    if (m_pFile != nullptr) m_pFile->Write(buffer, count);
}

void CArchive::WriteCount(int count) {
    if (count >= 0 && count < kLongCount) {
        PutRecord(*this, static_cast<std::uint16_t>(count));
        return;
    }
    // A negative count takes the long form too, so that it reads back unchanged.
    unsigned char bytes[6];
    Store(bytes, kLongCount);
    Store(bytes + 2, static_cast<std::uint32_t>(count));
    Write(bytes, sizeof bytes);
}

int CArchive::ReadCount() {
    const std::uint16_t field = GetRecord<std::uint16_t>(*this);
    if (field == kLongCount) return static_cast<std::int32_t>(GetRecord<std::uint32_t>(*this));
    return field;
}

CArchive& CArchive::operator<<(char value) {
    PutRecord(*this, static_cast<std::uint8_t>(value));
    return *this;
}

CArchive& CArchive::operator<<(short value) {
    PutRecord(*this, static_cast<std::uint16_t>(value));
    return *this;
}

CArchive& CArchive::operator<<(int value) {
    PutRecord(*this, static_cast<std::uint32_t>(value));
    return *this;
}

CArchive& CArchive::operator<<(long value) {
    PutRecord(*this, static_cast<std::uint32_t>(value));
    return *this;
}

CArchive& CArchive::operator<<(unsigned long value) {
    PutRecord(*this, static_cast<std::uint32_t>(value));
    return *this;
}

CArchive& CArchive::operator<<(float value) {
    PutRecord(*this, BitsOf<std::uint32_t>(value));
    return *this;
}

CArchive& CArchive::operator<<(double value) {
    PutRecord(*this, BitsOf<std::uint64_t>(value));
    return *this;
}

CArchive& CArchive::operator<<(const CString& value) {
    const int length = value.GetLength();
    *this << length;
    Write(value.GetBuffer(), length);
    return *this;
}

CArchive& CArchive::operator>>(char& value) {
    value = static_cast<char>(GetRecord<std::uint8_t>(*this));
    return *this;
}

CArchive& CArchive::operator>>(short& value) {
    value = static_cast<short>(GetRecord<std::uint16_t>(*this));
    return *this;
}

CArchive& CArchive::operator>>(int& value) {
    value = static_cast<std::int32_t>(GetRecord<std::uint32_t>(*this));
    return *this;
}

CArchive& CArchive::operator>>(long& value) {
    value = static_cast<std::int32_t>(GetRecord<std::uint32_t>(*this));
    return *this;
}

CArchive& CArchive::operator>>(unsigned long& value) {
    value = GetRecord<std::uint32_t>(*this);
    return *this;
}

CArchive& CArchive::operator>>(float& value) {
    SetBits(value, GetRecord<std::uint32_t>(*this));
    return *this;
}

CArchive& CArchive::operator>>(double& value) {
    SetBits(value, GetRecord<std::uint64_t>(*this));
    return *this;
}

CArchive& CArchive::operator>>(CString& value) {
    int length;
    *this >> length;
    if (length < 1 || length > kLongestStringRecord) {
        value.Empty();
        return *this;
    }
    // The working buffer lives on the stack: reading allocates only the string's block.
    char text[kLongestStringRecord + 1];
    const int got = Read(text, length);
    text[got] = '\0';  // a short read ends at the last byte that came
    value = text;
    return *this;
}
