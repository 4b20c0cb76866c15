#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "EntropyTestUtil.hpp"
#include "common/CodecError.hpp"
#include "entropy/ArithCoderIO.hpp"

namespace meshcodec {
namespace {

using testing_entropy::toHex;

struct Bin {
  unsigned p0, p1;
  bool bit;
};

std::vector<std::uint8_t> encodeBins(const std::vector<Bin>& bins, std::int64_t* bitCount = nullptr) {
  std::vector<std::uint8_t> out;
  ArithCoderIO io(out);
  for (const Bin& b : bins) io.encodeBit(b.p0, b.p1, b.bit);
  io.finishEncode();
  if (bitCount) *bitCount = io.bitsWritten();
  return out;
}

std::vector<bool> decodeBins(const std::vector<std::uint8_t>& bytes, const std::vector<Bin>& bins,
                             std::int64_t* bitsRead = nullptr) {
  ArithCoderIO io(bytes.data(), bytes.data() + bytes.size());
  io.initDecoding();
  std::vector<bool> out;
  for (const Bin& b : bins) out.push_back(io.decodeBit(b.p0, b.p1));
  if (bitsRead) *bitsRead = io.bitsRead();
  return out;
}

TEST(ArithCoderIO, ShortCodesMatchTheirBytes) {
  struct Case {
    const char* name;
    std::vector<Bin> bins;
    const char* hex;
  };
  const std::vector<Case> cases = {
      {"no bins: 30 zero termination bits", {}, "00 00 00 00"},
      {"a tie makes 1 the upper, less probable half", {{512, 512, true}}, "01 00 00 00"},
      {"a 0 at a tie keeps the lower half", {{512, 512, false}}, "00 00 00 00"},
      // The last bin leaves the interval across the middle twice; the first
      // termination bit (0) then releases the two owed bits, both 1.
      {"follow bits", {{768, 256, false}, {768, 256, false}, {900, 124, true}}, "7e 09 00 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> bytes = encodeBins(c.bins);
    EXPECT_EQ(toHex(bytes), c.hex);
    std::vector<std::uint8_t> withNext = bytes;
    withNext.push_back(0xFF);
    std::vector<bool> expected;
    for (const Bin& b : c.bins) expected.push_back(b.bit);
    EXPECT_EQ(decodeBins(withNext, c.bins), expected);
  }
}

TEST(ArithCoderIO, RandomBinsDecodeAndTakeExactlyOneBitMore) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<unsigned> weight(19, 1005);
  int fullLastBytes = 0;
  for (int trial = 0; trial < 400; ++trial) {
    std::vector<Bin> bins(static_cast<std::size_t>(rng() % 300));
    for (Bin& b : bins) {
      // Mostly weights summing to 1024 as the models give them, some other sums.
      b.p0 = weight(rng);
      b.p1 = trial % 4 == 0 ? weight(rng) : 1024 - b.p0;
      b.bit = (rng() % 1024) >= b.p0;
    }
    std::vector<bool> expected;
    for (const Bin& b : bins) expected.push_back(b.bit);
    std::int64_t written = 0;
    const std::vector<std::uint8_t> bytes = encodeBins(bins, &written);
    ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), (written + 7) / 8);
    fullLastBytes += written % 8 == 0;
    // Whatever byte follows the block, the extra bit taken from it changes nothing.
    for (std::uint8_t next : {0x00, 0xFF}) {
      std::vector<std::uint8_t> stream = bytes;
      stream.push_back(next);
      std::int64_t read = 0;
      ASSERT_EQ(decodeBins(stream, bins, &read), expected) << "trial " << trial;
      ASSERT_EQ(read, written + 1);
    }
  }
  EXPECT_GT(fullLastBytes, 10);  // the full-last-byte case was exercised
}

TEST(ArithCoderIO, DecoderStopsAtTheEndOfItsBytes) {
  const std::vector<std::uint8_t> bytes = {0x00, 0x00, 0x00};  // fewer than 31 bits
  ArithCoderIO io(bytes.data(), bytes.data() + bytes.size());
  EXPECT_THROW(io.initDecoding(), CorruptStream);
  // Garbage decodes to garbage bins, but only while bytes last.
  const std::vector<std::uint8_t> junk(16, 0xA5);
  ArithCoderIO g(junk.data(), junk.data() + junk.size());
  g.initDecoding();
  EXPECT_THROW(
      for (int i = 0; i < 100000; ++i) g.decodeBit(1005, 19), CorruptStream);
}

TEST(ArithCoderIO, RefusesWeightsThatLeaveAnEmptyShare) {
  std::vector<std::uint8_t> out;
  ArithCoderIO io(out);
  EXPECT_THROW(io.encodeBit(0, 0, true), Misuse);
  EXPECT_THROW(io.encodeBit(1024, 0, false), Misuse);
  EXPECT_THROW(io.encodeBit(0xFFFFFFFFu, 1025, false), Misuse);  // sum wraps to 1024
}

}  // namespace
}  // namespace meshcodec
