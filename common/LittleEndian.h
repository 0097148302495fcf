// Little-endian reads and writes: bounds-checked reads over bytes that came
// from firmware, and the plain readers and writers that the program, the
// simulated board and the tests share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrune {

using ByteSpan = std::span<const std::uint8_t>;

// True when size bytes from offset lie inside bytes (no overflow).
inline bool Fits(ByteSpan bytes, std::size_t offset, std::size_t size) {
  return offset <= bytes.size() && size <= bytes.size() - offset;
}

// Unchecked reads: the caller has tested Fits().
inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t Le64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Le32(p)) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}

// The value's bytes at p, lowest first.
inline void PutLe16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void PutLe32(std::uint8_t* p, std::uint32_t value) {
  PutLe16(p, static_cast<std::uint16_t>(value));
  PutLe16(p + 2, static_cast<std::uint16_t>(value >> 16));
}
inline void PutLe64(std::uint8_t* p, std::uint64_t value) {
  PutLe32(p, static_cast<std::uint32_t>(value));
  PutLe32(p + 4, static_cast<std::uint32_t>(value >> 32));
}

inline std::uint16_t Le16At(ByteSpan bytes, std::size_t offset) { return Le16(bytes.data() + offset); }
inline std::uint32_t Le32At(ByteSpan bytes, std::size_t offset) { return Le32(bytes.data() + offset); }

// A 32-bit little-endian field inside a firmware record, with no alignment
// of its own: records in firmware tables are packed and unaligned, and a
// plain std::uint32_t member there could be read through a misaligned
// reference. Reads as the number.
struct Le32Field {
  std::uint8_t Bytes[4];
  constexpr operator std::uint32_t() const {
    return static_cast<std::uint32_t>(Bytes[0]) | (static_cast<std::uint32_t>(Bytes[1]) << 8) |
           (static_cast<std::uint32_t>(Bytes[2]) << 16) | (static_cast<std::uint32_t>(Bytes[3]) << 24);
  }
};
static_assert(sizeof(Le32Field) == 4 && alignof(Le32Field) == 1);

// The 8-bit sum of the bytes.
inline std::uint8_t ByteSum(ByteSpan bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) {
    sum = static_cast<std::uint8_t>(sum + b);
  }
  return sum;
}

}  // namespace kestrune
