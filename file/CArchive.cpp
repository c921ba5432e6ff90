#include "CArchive.h"

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "StreamIo.h"

namespace {

// Longest string record that is read back; longer ones read as empty.
const int kLongestStringRecord = 8192;

// Marks a count record of the long form.
const std::uint16_t kLongCount = 0xFFFF;

// The byte format is little-endian whatever the host: bytes are placed by shifts.
template <typename Bits>
void Store(unsigned char* out, Bits bits) {
    for (std::size_t i = 0; i < sizeof(Bits); ++i)
        out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

template <typename Bits, std::size_t... I>
Bits LoadBytes(const unsigned char* in, std::index_sequence<I...>) {
    return static_cast<Bits>((static_cast<Bits>(static_cast<Bits>(in[I]) << (8 * I)) | ...));
}

// Spelt out as one OR of shifted bytes, which compilers turn into a single load.
template <typename Bits>
Bits Load(const unsigned char* in) {
    return LoadBytes<Bits>(in, std::make_index_sequence<sizeof(Bits)>());
}

// Bytes that do not arrive stay zero. Inlined into each read, as it is
// without the stack protector, which would otherwise keep it a call of its own.
template <typename Bits>
[[gnu::always_inline]] inline Bits ReadBits(CArchive& archive) {
    unsigned char bytes[sizeof(Bits)] = {};
    archive.Read(bytes, sizeof bytes);
    return Load<Bits>(bytes);
}

// Writes `value` as a record of `Bits`, in one call on the file. A
// floating-point value goes out as the bytes the caller put in the argument,
// which on this little-endian platform are the record's: copied as a value,
// even by memcpy, it may pass through an x87 register on 32-bit x86, which
// quiets a signalling NaN.
template <typename Bits, typename Value>
CArchive& PutRecord(CArchive& archive, const Value& value) {
    if constexpr (std::is_floating_point<Value>::value) {
        static_assert(sizeof(Bits) == sizeof(Value) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
                      "IEEE 754 records in the host's byte order");
        archive.Write(&value, sizeof value);
    } else {
        unsigned char bytes[sizeof(Bits)];
        Store(bytes, static_cast<Bits>(value));
        archive.Write(bytes, sizeof bytes);
    }
    return archive;
}

// Reads a record of `Bits` into `value`; a signed destination takes it as the
// signed type `Via` of the record's width, which extends its sign.
template <typename Bits, typename Via = Bits, typename Value>
CArchive& GetRecord(CArchive& archive, Value& value) {
    const Bits bits = ReadBits<Bits>(archive);
    if constexpr (std::is_floating_point<Value>::value)
        std::memcpy(&value, &bits, sizeof value);
    else
        value = static_cast<Value>(static_cast<Via>(bits));
    return archive;
}

}  // namespace

CArchive::CArchive(CFile* file, int mode) : m_pFile(file), m_nMode(mode) {}

CArchive::~CArchive() {
    Close();
}

int CArchive::IsValid() {
    return m_pFile != nullptr ? m_pFile->IsValid() : 0;
}

void CArchive::Close() {
    if (m_pFile == nullptr) return;
    m_pFile->Flush();
    m_pFile = nullptr;
}

void CArchive::Flush() {
    if (m_pFile != nullptr) m_pFile->Flush();
}

// Exactly the file's Read and Write; a file without a stream, like no file,
// reads and writes nothing.
int CArchive::Read(void* buffer, int count) {
    return ReadStream(m_pFile != nullptr ? m_pFile->m_pStream : nullptr, buffer, count);
}

void CArchive::Write(const void* buffer, int count) {
    WriteStream(m_pFile != nullptr ? m_pFile->m_pStream : nullptr, buffer, count);
}

void CArchive::WriteCount(int count) {
    if (count >= 0 && count < kLongCount) {
        PutRecord<std::uint16_t>(*this, count);
        return;
    }
    // A negative count takes the long form too, so that it reads back unchanged.
    unsigned char bytes[6];
    Store(bytes, kLongCount);
    Store(bytes + 2, static_cast<std::uint32_t>(count));
    Write(bytes, sizeof bytes);
}

int CArchive::ReadCount() {
    const std::uint16_t field = ReadBits<std::uint16_t>(*this);
    if (field == kLongCount) return static_cast<std::int32_t>(ReadBits<std::uint32_t>(*this));
    return field;
}

CArchive& CArchive::operator<<(char value) {
    return PutRecord<std::uint8_t>(*this, value);
}

CArchive& CArchive::operator<<(short value) {
    return PutRecord<std::uint16_t>(*this, value);
}

CArchive& CArchive::operator<<(int value) {
    return PutRecord<std::uint32_t>(*this, value);
}

CArchive& CArchive::operator<<(long value) {
    return PutRecord<std::uint32_t>(*this, value);
}

CArchive& CArchive::operator<<(unsigned long value) {
    return PutRecord<std::uint32_t>(*this, value);
}

CArchive& CArchive::operator<<(float value) {
    return PutRecord<std::uint32_t>(*this, value);
}

CArchive& CArchive::operator<<(double value) {
    return PutRecord<std::uint64_t>(*this, value);
}

CArchive& CArchive::operator<<(const CString& value) {
    const int length = value.GetLength();
    *this << length;
    Write(value.GetBuffer(), length);
    return *this;
}

CArchive& CArchive::operator>>(char& value) {
    return GetRecord<std::uint8_t>(*this, value);
}

CArchive& CArchive::operator>>(short& value) {
    return GetRecord<std::uint16_t, std::int16_t>(*this, value);
}

CArchive& CArchive::operator>>(int& value) {
    return GetRecord<std::uint32_t, std::int32_t>(*this, value);
}

CArchive& CArchive::operator>>(long& value) {
    return GetRecord<std::uint32_t, std::int32_t>(*this, value);
}

CArchive& CArchive::operator>>(unsigned long& value) {
    return GetRecord<std::uint32_t>(*this, value);
}

CArchive& CArchive::operator>>(float& value) {
    return GetRecord<std::uint32_t>(*this, value);
}

CArchive& CArchive::operator>>(double& value) {
    return GetRecord<std::uint64_t>(*this, value);
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
