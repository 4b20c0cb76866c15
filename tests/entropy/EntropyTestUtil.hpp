#pragma once
// Small helpers shared by the entropy tests: byte strings as hex text, and a
// reference block encoder that follows the bin-string route step by step.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace meshcodec {
namespace testing_entropy {

inline std::string toHex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

inline std::string toHex(const std::vector<std::uint8_t>& bytes) {
  return toHex(std::string(bytes.begin(), bytes.end()));
}

inline std::string fromHex(const std::string& hex) {
  std::string out;
  std::istringstream in(hex);
  std::string token;
  while (in >> token) out += static_cast<char>(std::stoi(token, nullptr, 16));
  return out;
}

inline std::string bitString(const std::vector<bool>& bins) {
  std::string s;
  for (bool b : bins) s += b ? '1' : '0';
  return s;
}

// A binary stream that owns its bytes, for decoding.
inline std::stringstream streamOf(const std::string& bytes) {
  return std::stringstream(bytes, std::ios::in | std::ios::out | std::ios::binary);
}

inline std::stringstream emptyStream() {
  return std::stringstream(std::ios::in | std::ios::out | std::ios::binary);
}

struct ReferenceBlock {
  std::vector<std::uint8_t> codeBytes;
  std::int64_t codeBits;
};

// Encodes values the long way: whole bin strings from the binarizer, and the model of
// each bin chosen by its position and by whether it is a trailing sign bin.
ReferenceBlock referenceEncode(const std::vector<int>& values, bool withSign);
// The same for bin strings given directly, which lets tests forge codes that no value has.
ReferenceBlock referenceEncodeBins(const std::vector<std::vector<bool>>& codes, bool withSign);

}  // namespace testing_entropy
}  // namespace meshcodec
