#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "EntropyTestUtil.hpp"
#include "common/CodecError.hpp"
#include "entropy/DirectCoder.hpp"

namespace meshcodec {
namespace {

using testing_entropy::emptyStream;
using testing_entropy::fromHex;
using testing_entropy::streamOf;
using testing_entropy::toHex;

std::uint32_t imageOf(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

TEST(DirectCoder, RawFloatBytesWithAndWithoutCount) {
  const std::vector<float> values = {1.0f, -2.5f};
  std::stringstream plain = emptyStream();
  DirectCoder::encode(values, plain, false);
  EXPECT_EQ(toHex(plain.str()), "00 00 80 3f 00 00 20 c0");
  EXPECT_EQ(DirectCoder::decode(plain, 2), values);

  std::stringstream counted = emptyStream();
  DirectCoder::encode(values, counted, true);
  EXPECT_EQ(toHex(counted.str()), "02 00 00 00 00 00 80 3f 00 00 20 c0");
  EXPECT_EQ(DirectCoder::decode(counted, -1), values);
  EXPECT_TRUE(counted.good());

  std::stringstream empty = emptyStream();
  DirectCoder::encode({}, empty, false);
  EXPECT_TRUE(empty.str().empty());
  EXPECT_TRUE(DirectCoder::decode(empty, 0).empty());
}

TEST(DirectCoder, BitImagesSurviveExactly) {
  const std::vector<float> values = {-0.0f, std::numeric_limits<float>::denorm_min(),
                                     std::numeric_limits<float>::infinity(),
                                     std::numeric_limits<float>::quiet_NaN(), 0.1f};
  std::stringstream s = emptyStream();
  DirectCoder coder(s);
  coder.encode(values, true);
  coder.encode({7.0f}, false);  // blocks follow each other with no gap
  const std::vector<float> back = coder.decode(-1);
  ASSERT_EQ(back.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(imageOf(back[i]), imageOf(values[i])) << i;
  EXPECT_EQ(coder.decode(1), std::vector<float>{7.0f});
}

TEST(DirectCoder, ShortOrImpossibleBlocksAreCorrupt) {
  struct Case {
    const char* name;
    std::string bytes;
    int n;
  };
  const std::vector<Case> cases = {
      {"count cut short", fromHex("02 00 00"), -1},
      {"negative count", fromHex("ff ff ff ff"), -1},
      {"count beyond the bytes", fromHex("03 00 00 00 00 00 80 3f 00 00 20 c0"), -1},
      {"huge count, no bytes", fromHex("ff ff ff 7f"), -1},
      {"caller asks for more than there is", fromHex("00 00 80 3f 00 00 20"), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::stringstream s = streamOf(c.bytes);
    EXPECT_THROW(DirectCoder::decode(s, c.n), CorruptStream);
  }
}

}  // namespace
}  // namespace meshcodec
