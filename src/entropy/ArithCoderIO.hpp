#pragma once
// Bit-level core of the entropy coder: a binary arithmetic coder over a 31-bit
// interval in 32-bit integer arithmetic, with carry-free renormalisation through
// owed ("follow") bits. The block coder drives it one bin at a time with the weights
// of an adaptive model; the encoder packs code bits least significant bit first into
// a byte buffer, and the decoder reads them back from an in-memory copy of a block.

#include <cstdint>
#include <vector>

namespace meshcodec {

class ArithCoderIO {
 public:
  // Encoder: appends code bytes to out, which must outlive the coder.
  explicit ArithCoderIO(std::vector<std::uint8_t>& out);
  // Decoder over the bytes [begin, end). The decoder of a genuine block takes one bit
  // more than its encoder wrote, so end should cover the byte that follows the block
  // (0xFF where the block ends the stream). Running past end throws CorruptStream.
  ArithCoderIO(const std::uint8_t* begin, const std::uint8_t* end);

  // p0 and p1 are the weights of a 0 and a 1; their sum need not be 1024, but the
  // lighter one must leave a non-empty share of the interval (Misuse otherwise).
  void encodeBit(unsigned p0, unsigned p1, bool bit);
  // Writes the 30 bits that pin the final interval and pads the last byte with 0s.
  void finishEncode();
  std::int64_t bitsWritten() const { return written; }

  void initDecoding();
  bool decodeBit(unsigned p0, unsigned p1);
  std::int64_t bitsRead() const;

 private:
  static constexpr int bits = 30;
  static constexpr std::uint32_t quarter = 2u << (bits - 2);
  static constexpr std::uint32_t half = 2u << (bits - 1);

  // Width of the less probable symbol's share, the upper end of the interval. A tie
  // makes 1 the less probable symbol. Encoder and decoder must split identically.
  std::uint32_t lpsWidth(unsigned p0, unsigned p1, bool& lps) const;
  std::uint32_t checkedLpsWidth(unsigned p0, unsigned p1, unsigned w) const;
  void renormalize();
  void bitPlusFollow(bool b);
  void writeBit(bool b);
  void flushStream();
  bool readBit();
  [[noreturn]] void throwPastEnd() const;

  std::uint32_t low = 0;
  std::uint32_t range = 2 * half;
  std::uint32_t offset = 0;  // decoder: code value minus the interval's low end
  std::vector<std::uint8_t>* out = nullptr;
  const std::uint8_t* begin = nullptr;
  const std::uint8_t* next = nullptr;
  const std::uint8_t* end = nullptr;
  std::uint8_t byte = 0;
  // Encoder: bits already in byte (0..7). Decoder: mask of the next bit to take from
  // byte (1, 2, ..., 128), 0 when a new byte must be fetched.
  std::uint8_t bitPos = 0;
  std::int64_t pending = 0;
  std::int64_t written = 0;
};

inline std::uint32_t ArithCoderIO::lpsWidth(unsigned p0, unsigned p1, bool& lps) const {
  lps = !(p0 < p1);
  const unsigned w = lps ? p1 : p0;
  // Every model of the codec sums to 1024, where the division is a shift; the
  // truncating quotient is the same either way. Anything else takes the checked path.
  if (p0 + p1 == 1024u && w - 1u < 512u) return (range >> 10) * w;
  return checkedLpsWidth(p0, p1, w);
}

inline void ArithCoderIO::encodeBit(unsigned p0, unsigned p1, bool bit) {
  bool lps;
  const std::uint32_t r = lpsWidth(p0, p1, lps);
  if (bit == lps) {
    low += range - r;
    range = r;
  } else {
    range -= r;
  }
  renormalize();
}

inline void ArithCoderIO::renormalize() {
  while (range <= quarter) {
    if (low >= half) {
      bitPlusFollow(true);
      low -= half;
    } else if (low + range > half) {
      // Straddles the middle: the next decided bit is owed, inverted, once per step.
      ++pending;
      low -= quarter;
    } else {
      bitPlusFollow(false);
    }
    low <<= 1;
    range <<= 1;
  }
}

inline void ArithCoderIO::bitPlusFollow(bool b) {
  writeBit(b);
  for (; pending > 0; --pending) writeBit(!b);
}

inline void ArithCoderIO::writeBit(bool b) {
  byte = static_cast<std::uint8_t>(byte | (static_cast<unsigned>(b) << bitPos));
  ++written;
  if (++bitPos == 8) {
    out->push_back(byte);
    byte = 0;
    bitPos = 0;
  }
}

inline bool ArithCoderIO::readBit() {
  if (bitPos == 0) {
    if (next == end) throwPastEnd();
    byte = *next++;
    bitPos = 1;
  }
  const bool b = (byte & bitPos) != 0;
  bitPos = static_cast<std::uint8_t>(bitPos << 1);
  return b;
}

inline bool ArithCoderIO::decodeBit(unsigned p0, unsigned p1) {
  bool lps;
  const std::uint32_t r = lpsWidth(p0, p1, lps);
  const std::uint32_t mpsWidth = range - r;
  bool bin;
  if (offset < mpsWidth) {
    bin = !lps;
    range = mpsWidth;
  } else {
    bin = lps;
    offset -= mpsWidth;
    range = r;
  }
  // The encoder also moves its low end here, but the decoder's decisions depend on
  // offset and range alone, so it keeps no low end. offset < range holds throughout,
  // whatever the input bytes, so the doubling cannot wrap.
  while (range <= quarter) {
    range <<= 1;
    offset = (offset << 1) | static_cast<std::uint32_t>(readBit());
  }
  return bin;
}

}  // namespace meshcodec
