#include "entropy/ArithCoderIO.hpp"

#include <string>

#include "common/CodecError.hpp"

namespace meshcodec {

ArithCoderIO::ArithCoderIO(std::vector<std::uint8_t>& out) : out(&out) {}

ArithCoderIO::ArithCoderIO(const std::uint8_t* begin, const std::uint8_t* end)
    : begin(begin), next(begin), end(end) {}

std::uint32_t ArithCoderIO::checkedLpsWidth(unsigned p0, unsigned p1, unsigned w) const {
  const std::uint64_t total = std::uint64_t{p0} + p1;
  if (total == 0 || total > 0xFFFFFFFFu) {
    throw Misuse("arithmetic coder: weights " + std::to_string(p0) + "/" + std::to_string(p1) +
                 " have no usable sum");
  }
  const std::uint64_t r = (range / static_cast<std::uint32_t>(total)) * std::uint64_t{w};
  if (r == 0 || r >= range) {
    throw Misuse("arithmetic coder: weights " + std::to_string(p0) + "/" + std::to_string(p1) +
                 " leave an empty sub-interval");
  }
  return static_cast<std::uint32_t>(r);
}

void ArithCoderIO::finishEncode() {
  // Bits 30 down to 1 of low; bit 0 is always 0 here (every block's first bin has
  // equal weights, after which every less probable symbol is followed by a doubling),
  // so 30 bits pin the final value and the decoder's one extra bit cannot matter.
  for (int i = 0; i < bits; ++i) bitPlusFollow(((low >> (bits - i)) & 1u) != 0);
  flushStream();
}

void ArithCoderIO::flushStream() {
  if (bitPos != 0) {
    out->push_back(byte);
    byte = 0;
    bitPos = 0;
  }
}

void ArithCoderIO::initDecoding() {
  offset = 0;
  for (int i = 0; i <= bits; ++i) offset = (offset << 1) | static_cast<std::uint32_t>(readBit());
}

std::int64_t ArithCoderIO::bitsRead() const {
  const std::int64_t fetched = next - begin;
  if (fetched == 0) return 0;
  const int takenFromLast = bitPos == 0 ? 8 : __builtin_ctz(bitPos);
  return (fetched - 1) * 8 + takenFromLast;
}

void ArithCoderIO::throwPastEnd() const {
  throw CorruptStream("arithmetic code runs past its " + std::to_string(end - begin) +
                      " readable bytes");
}

}  // namespace meshcodec
