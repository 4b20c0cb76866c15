#pragma once
// The fixed-size fields of a compressed file (header fields, counts, stored steps and
// rates) are 4-byte little-endian images on every machine. Tests that read or forge
// such fields, and tests that hash decoded doubles, go through these functions, so
// that they mean the same bytes on big-endian and little-endian targets alike.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace meshcodec::testing {

inline std::uint32_t uint32At(std::string_view bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return v;
}

inline std::int32_t int32At(std::string_view bytes, std::size_t at) {
  return static_cast<std::int32_t>(uint32At(bytes, at));
}

inline float floatAt(std::string_view bytes, std::size_t at) {
  const std::uint32_t bits = uint32At(bytes, at);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

inline void setUint32At(std::string& bytes, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<char>(v >> (8 * i));
}

inline void setInt32At(std::string& bytes, std::size_t at, std::int32_t v) {
  setUint32At(bytes, at, static_cast<std::uint32_t>(v));
}

inline void setFloatAt(std::string& bytes, std::size_t at, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  setUint32At(bytes, at, bits);
}

// The 4-byte image of a float as a compressed file stores it.
inline std::string floatBytes(float f) {
  std::string bytes(4, '\0');
  setFloatAt(bytes, 0, f);
  return bytes;
}

// FNV-1a over the value bits of each double, least significant byte first: the same
// hash on every target for the same values.
inline std::uint64_t hashDoubles(const double* values, std::size_t count,
                                 std::uint64_t h = 14695981039346656037ull) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t bits;
    std::memcpy(&bits, &values[i], 8);
    for (int b = 0; b < 8; ++b) h = (h ^ ((bits >> (8 * b)) & 0xff)) * 1099511628211ull;
  }
  return h;
}

}  // namespace meshcodec::testing
