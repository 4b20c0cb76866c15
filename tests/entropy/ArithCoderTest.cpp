#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "EntropyTestUtil.hpp"
#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "entropy/BlockFormat.hpp"
#include "entropy/ContextBinaryStats.hpp"
#include "entropy/ModExpGolombBinarizer.hpp"
#include "support/Sanitizers.hpp"

namespace meshcodec {
namespace {

using testing_entropy::emptyStream;
using testing_entropy::fromHex;
using testing_entropy::referenceEncode;
using testing_entropy::streamOf;
using testing_entropy::toHex;

// Sanitizers run the large round trips with fewer values.
constexpr int kScale = MESHCODEC_ADDRESS_SANITIZER ? 10 : 1;

std::string encodeBlock(const std::vector<int>& values, bool withSign) {
  std::stringstream s = emptyStream();
  ArithCoder::encode(values, s, withSign);
  return s.str();
}

struct BlockExample {
  const char* name;
  std::vector<int> values;
  bool withSign;
  const char* hex;
};

const std::vector<BlockExample>& blockExamples() {
  static const std::vector<BlockExample> examples = {
      {"empty", {}, false, "00 00 00 00 04 00 00 00 00 00 00 00"},
      {"zero", {0}, false, "01 00 00 00 04 00 00 00 00 00 00 00"},
      {"one", {1}, false, "01 00 00 00 04 00 00 00 01 00 00 00"},
      {"zeroToFour", {0, 1, 2, 3, 4}, false, "05 00 00 00 06 00 00 00 ba a3 19 b3 5a 01"},
      {"oneMinusTwoSigned", {1, -2}, true, "02 00 00 00 05 00 00 00 59 56 c9 01 00"},
      {"tailAndSignSigned", {100, -100, 0, 7}, true,
       "04 00 00 00 0a 00 00 00 ff 2f 85 a5 cb 23 02 c3 0f 00"},
  };
  return examples;
}

TEST(ArithBlock, ExamplesEncodeToTheExactBytesAndDecodeBack) {
  for (const BlockExample& ex : blockExamples()) {
    SCOPED_TRACE(ex.name);
    const std::string block = encodeBlock(ex.values, ex.withSign);
    EXPECT_EQ(toHex(block), ex.hex);

    std::stringstream s = streamOf(fromHex(ex.hex));
    EXPECT_EQ(ArithCoder::decode(s, ex.withSign), ex.values);
    EXPECT_TRUE(s.good());
    EXPECT_EQ(s.tellg(), static_cast<std::streamoff>(block.size()));
  }
}

TEST(ArithBlock, MemberEncoderWritesSeveralIndependentBlocksWithoutFlushing) {
  std::stringstream s = emptyStream();
  ArithCoder coder(s, 2, 12);
  coder.encode({0, 1, 2, 3, 4}, false);
  coder.encode({1, -2}, true);
  EXPECT_EQ(toHex(s.str()), "05 00 00 00 06 00 00 00 ba a3 19 b3 5a 01 "
                            "02 00 00 00 05 00 00 00 59 56 c9 01 00");
  ArithCoder reader(s, 2, 12);
  EXPECT_EQ(reader.decode(false), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(reader.decode(true), (std::vector<int>{1, -2}));
}

// Finds a short sequence whose last code byte is full, so that its decoder must take
// one bit of whatever follows the block.
std::vector<int> valuesWithFullLastByte(bool withSign) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> small(-40, 40);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::vector<int> values(1 + attempt % 13);
    for (int& v : values) v = withSign ? small(rng) : std::abs(small(rng));
    if (referenceEncode(values, withSign).codeBits % 8 == 0) return values;
  }
  ADD_FAILURE() << "no block with a full last byte found";
  return {};
}

TEST(ArithBlock, BlocksBackToBackAndAtTheEndOfTheStreamWithAFullLastByte) {
  for (bool withSign : {false, true}) {
    SCOPED_TRACE(withSign ? "with sign" : "without sign");
    const std::vector<int> first = valuesWithFullLastByte(withSign);
    // The byte after the first block is each of 0x00 and 0xFF in turn: the extra bit
    // its decoder takes is 0 or 1, and neither may change a value.
    for (const std::vector<int>& second : {std::vector<int>{}, std::vector<int>{1}}) {
      std::stringstream s = emptyStream();
      ArithCoder::encode(first, s, withSign);
      const std::streamoff firstEnd = s.tellp();
      ArithCoder::encode(second, s, withSign);
      EXPECT_EQ(s.str()[static_cast<std::size_t>(firstEnd)], second.empty() ? '\0' : '\1');
      EXPECT_EQ(ArithCoder::decode(s, withSign), first);
      EXPECT_EQ(s.tellg(), firstEnd);
      EXPECT_EQ(ArithCoder::decode(s, withSign), second);
    }
    // As the last block of the stream the decoder sees 0xFF past the end; the stream
    // stays usable for writing and reading on.
    std::stringstream s = emptyStream();
    ArithCoder::encode(first, s, withSign);
    EXPECT_EQ(ArithCoder::decode(s, withSign), first);
    EXPECT_TRUE(s.good());
    ArithCoder::encode({5, 6}, s, false);
    EXPECT_EQ(ArithCoder::decode(s, false), (std::vector<int>{5, 6}));
  }
}

TEST(ArithBlock, OnTheFlyBinsMatchTheBinStringRouteByteForByte) {
  std::mt19937 rng(11);
  std::geometric_distribution<int> laplace(0.1);
  std::uniform_int_distribution<int> bits(0, 31);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<int> values(static_cast<std::size_t>(trial * 7));
    for (int& v : values) {
      const int m = trial % 2 ? laplace(rng) : static_cast<int>(rng() >> (1 + bits(rng)));
      v = rng() & 1 ? -m : m;
    }
    for (bool withSign : {false, true}) {
      const std::string block = encodeBlock(values, withSign);
      const std::vector<std::uint8_t> ref = referenceEncode(values, withSign).codeBytes;
      ASSERT_EQ(block.substr(8), std::string(ref.begin(), ref.end()))
          << "trial " << trial << (withSign ? " with sign" : " without sign");
    }
  }
}

std::vector<int> laplacian(std::size_t n, double scale, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::exponential_distribution<double> mag(1.0 / scale);
  std::vector<int> values(n);
  for (int& v : values) {
    const int m = static_cast<int>(mag(rng));
    v = rng() & 1 ? -m : m;
  }
  return values;
}

// Magnitudes spread evenly over bit lengths 0 to 31, reaching 2^31 - 1.
std::vector<int> wideRange(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<int> values(n);
  for (std::size_t i = 0; i < n; ++i) {
    const int m = static_cast<int>((rng() >> 1) >> (rng() % 32));
    values[i] = rng() & 1 ? -m : m;
  }
  values[0] = INT_MAX;
  values[1] = -INT_MAX;
  return values;
}

TEST(ArithBlock, RoundTripsLargeAndAdversarialSequences) {
  struct Case {
    const char* name;
    std::vector<int> values;
  };
  const std::size_t n = 2'000'000 / kScale;
  const std::vector<Case> cases = {
      {"laplacian", laplacian(n, 3.0, 1)},
      {"wideRange", wideRange(n / 2, 2)},
      {"allZeros", std::vector<int>(n, 0)},
      {"allMax", std::vector<int>(n / 20, INT_MAX)},
      {"allMinusMax", std::vector<int>(n / 20, -INT_MAX)},
      {"alternatingExtremes", [] {
         std::vector<int> v(n / 20);
         for (std::size_t i = 0; i < v.size(); ++i) v[i] = i % 2 ? -INT_MAX : 0;
         return v;
       }()},
  };
  for (const Case& c : cases) {
    for (bool withSign : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (withSign ? " with sign" : " without sign"));
      std::stringstream s = emptyStream();
      ArithCoder::encode(c.values, s, withSign);
      ArithCoder::encode({3}, s, true);  // a trailer shows the first block ended in place
      std::vector<int> expected = c.values;
      if (!withSign) {
        for (int& v : expected) v = v < 0 ? -v : v;
      }
      ASSERT_EQ(ArithCoder::decode(s, withSign), expected);
      ASSERT_EQ(ArithCoder::decode(s, true), std::vector<int>{3});
    }
  }
}

TEST(ArithBlock, ZerosComeCloseToButStayUnderTheCountBound) {
  // The count check rejects blocks with more than 320 values per code byte; a long run
  // of zeros is the densest genuine block and must stay under it.
  const std::string block = encodeBlock(std::vector<int>(1'000'000 / kScale, 0), false);
  const double perByte = 1e6 / kScale / static_cast<double>(block.size() - 8);
  EXPECT_GT(perByte, 250.0);
  EXPECT_LT(perByte, 300.0);
}

TEST(ArithBlock, CostlyValuesStayUnderTheLengthBound) {
  // Values of 68 bins, the most there are, each free bin (the 30 Exp-Golomb suffix bins
  // and the sign) the less probable one of the model that codes it. Bins from position
  // 12 on but the sign share the tail model: prefix 1s to position 35, the closing 0,
  // the suffix. About 12 bytes for one value, 6 per value in a long block.
  ContextBinaryStats tail(kBlockHistoryBits), sign(kBlockHistoryBits);
  auto lessProbable = [](ContextBinaryStats& m, bool allowed) {
    const bool bin = allowed && !(m.getP0() < m.getP1());
    m.updateBit(bin);
    return bin;
  };
  std::vector<int> values;
  while (values.size() < 1000 / kScale) {
    for (int j = 12; j < 36; ++j) tail.updateBit(true);
    tail.updateBit(false);
    std::int64_t suffix = 0;
    for (int b = 0; b < 30; ++b) suffix = 2 * suffix + lessProbable(tail, b < 29 || suffix != (1 << 29) - 1);
    const int magnitude = static_cast<int>(9 + 8 * ((std::int64_t{1} << 27) - 1) + suffix);  // at most 2^31 - 1
    values.push_back(lessProbable(sign, true) ? -magnitude : magnitude);
    if (values.size() != 1 && values.size() != 1000 / kScale) continue;
    ASSERT_EQ(ModExpGolombBinarizer(kBlockUnaryCutoff, kBlockGolombOrder).binarize(values.back(), true).size(), 68u);
    const std::string block = encodeBlock(values, true);
    EXPECT_LE(static_cast<std::int64_t>(block.size()) - kBlockHeaderBytes, maxCodeBytes(values.size()));
  }
}

TEST(ArithBlock, RefusesWhatNoBlockCanHold) {
  std::stringstream s = emptyStream();
  EXPECT_THROW(ArithCoder::encode({1, INT_MIN, 2}, s, true), Misuse);
  EXPECT_THROW(ArithCoder::encode({INT_MIN}, s, false), Misuse);
  EXPECT_TRUE(s.str().empty());  // nothing of the refused block was written
  EXPECT_THROW(ArithCoder(s, 2, -1), Misuse);
  EXPECT_THROW(ArithCoder(s, 17, 12), Misuse);
}

}  // namespace
}  // namespace meshcodec
