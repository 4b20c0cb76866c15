#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "EntropyTestUtil.hpp"
#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"

namespace meshcodec {
namespace {

using testing_entropy::emptyStream;
using testing_entropy::referenceEncodeBins;
using testing_entropy::streamOf;

std::string le32(std::int64_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xFF);
  return s;
}

std::string block(std::int64_t count, std::int64_t byteLength, const std::string& code) {
  return le32(count) + le32(byteLength) + code;
}

std::string genuine(const std::vector<int>& values, bool withSign) {
  std::stringstream s = emptyStream();
  ArithCoder::encode(values, s, withSign);
  return s.str();
}

void expectCorrupt(const std::string& bytes, bool withSign, const std::string& reasonPart) {
  std::stringstream s = streamOf(bytes);
  try {
    ArithCoder::decode(s, withSign);
    ADD_FAILURE() << "decoded without complaint";
  } catch (const CorruptStream& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("arithmetic block at byte 0"), std::string::npos) << what;
    EXPECT_NE(what.find(reasonPart), std::string::npos) << what;
  }
}

TEST(CorruptArithBlock, ImpossibleFramingIsRefusedBeforeDecoding) {
  const std::string fourZeros(4, '\0');
  const std::string genuineFive = genuine({0, 1, 2, 3, 4}, false);
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"empty stream", "", "header"},
      {"seven header bytes", std::string(7, '\0'), "header"},
      {"negative count", block(-1, 4, fourZeros), "negative count"},
      {"most negative count", block(INT32_MIN, 4, fourZeros), "negative count"},
      {"negative byte length", block(0, -4, fourZeros), "byte length -4"},
      {"byte length below the termination bits", block(0, 3, fourZeros), "byte length 3"},
      {"count beyond what 4 bytes can hold", block(4 * 320 + 1, 4, fourZeros), "cannot fit"},
      {"largest count", block(INT32_MAX, 1 << 20, ""), "cannot fit"},
      {"byte length beyond what 1 value can need", block(1, 61, ""), "1 values need at most 60 code bytes, not 61"},
      {"byte length past the end", block(1, 5, fourZeros), "needs 5 bytes, only 4 remain"},
      {"huge byte length, no bytes", block(INT32_MAX / 56 + 1, INT32_MAX, ""), "only 0 remain"},
      {"code cut short", genuineFive.substr(0, genuineFive.size() - 1), "only 5 remain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectCorrupt(c.bytes, false, c.reason);
  }
}

TEST(CorruptArithBlock, CountAndLengthMustMatchTheCodeBits) {
  // Claims as many values as the bound lets 4 bytes hold: the bits run out first.
  expectCorrupt(block(4 * 320, 4, std::string(4, '\0')), false, "runs past");
  // One value more than was coded.
  std::string more = genuine({100, -100, 0, 7}, true);
  more[0] = 5;
  expectCorrupt(more, true, "value 4 of 5");
  // Fewer values than were coded leave most of the code bytes unread.
  std::string fewer = genuine({100, -100, 0, 7, 70000, -70000}, true);
  fewer[0] = 2;
  expectCorrupt(fewer, true, "code bits");
  // Extra code bytes that no value used.
  std::string padded = genuine({1, 2, 3}, false);
  padded[4] = static_cast<char>(padded[4] + 2);
  padded += std::string(2, '\0');
  expectCorrupt(padded, false, "code bits");
}

TEST(CorruptArithBlock, BinsGrowingAValuePast32BitsAreRefused) {
  // Nine unary bins and 28 Exp-Golomb prefix bins would make a magnitude of 2^31 + 1.
  const std::vector<bool> tooLong(9 + 28 + 1, true);
  const testing_entropy::ReferenceBlock forged = referenceEncodeBins({tooLong}, false);
  const std::string code(forged.codeBytes.begin(), forged.codeBytes.end());
  expectCorrupt(block(1, static_cast<std::int64_t>(code.size()), code), false, "beyond 2^31 - 1");
}

TEST(CorruptArithBlock, EveryTruncationAndBitFlipIsRefusedOrDecodesInBounds) {
  std::stringstream g = emptyStream();
  ArithCoder::encode({3, -1, 0, 0, 12, 400, -7, 0, 1, 1, 2, 65536, -3}, g, true);
  ArithCoder::encode({1, 0, 2}, g, false);
  const std::string whole = g.str();

  for (std::size_t n = 0; n < whole.size(); ++n) {
    std::stringstream s = streamOf(whole.substr(0, n));
    EXPECT_THROW(
        {
          ArithCoder::decode(s, true);
          ArithCoder::decode(s, false);
        },
        CorruptStream)
        << "prefix of " << n << " bytes";
  }

  // A flipped bit either still decodes (to some values) or is reported as corrupt;
  // the sanitizers check that neither reads or allocates out of bounds.
  int refused = 0;
  for (std::size_t bit = 0; bit < 8 * whole.size(); ++bit) {
    std::string bad = whole;
    bad[bit / 8] = static_cast<char>(bad[bit / 8] ^ (1 << (bit % 8)));
    std::stringstream s = streamOf(bad);
    try {
      ArithCoder::decode(s, true);
      ArithCoder::decode(s, false);
    } catch (const CorruptStream&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, static_cast<int>(4 * whole.size()));
}

}  // namespace
}  // namespace meshcodec
