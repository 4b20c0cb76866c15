#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "EntropyTestUtil.hpp"
#include "common/CodecError.hpp"
#include "entropy/ModExpGolombBinarizer.hpp"

namespace meshcodec {
namespace {

using testing_entropy::bitString;

std::vector<bool> bins(const std::string& s) {
  std::vector<bool> out;
  for (char c : s) out.push_back(c == '1');
  return out;
}

// Feeds a bin string to a fresh decoder; checks that the value completes exactly on
// the last bin and that a sign bin is announced exactly before it.
void expectDecodes(const std::string& code, bool withSign, int expected, bool hasSign) {
  ModExpGolombBinarizer b(9, 3);
  int out = 12345;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const bool last = i + 1 == code.size();
    EXPECT_EQ(b.expectSign(), last && hasSign) << "before bin " << i;
    ASSERT_EQ(b.isCode(code[i] == '1', &out, withSign), last) << "bin " << i;
  }
  EXPECT_EQ(out, expected);
  EXPECT_FALSE(b.expectSign());
}

TEST(ModExpGolombBinarizer, CodesOfTheTableBothWays) {
  struct Row {
    int x;
    const char* plain;
    const char* signedCode;
  };
  const std::vector<Row> rows = {
      {0, "0", "0"},
      {1, "10", "100"},
      {-1, "10", "101"},
      {5, "111110", "1111100"},
      {8, "111111110", "1111111100"},
      {9, "1111111110000", "11111111100000"},
      {-9, "1111111110000", "11111111100001"},
      {16, "1111111110111", "11111111101110"},
      {17, "111111111100000", "1111111111000000"},
      {33, "11111111111000000", "111111111110000000"},
      {100, "1111111111110100011", "11111111111101000110"},
  };
  const ModExpGolombBinarizer b(9, 3);
  for (const Row& r : rows) {
    SCOPED_TRACE("x = " + std::to_string(r.x));
    EXPECT_EQ(bitString(b.binarize(r.x, false)), r.plain);
    EXPECT_EQ(bitString(b.binarize(r.x, true)), r.signedCode);
    // Without the sign a negative value comes back as its magnitude.
    expectDecodes(r.plain, false, r.x < 0 ? -r.x : r.x, false);
    expectDecodes(r.signedCode, true, r.x, r.x != 0);
  }
}

TEST(ModExpGolombBinarizer, ExtremeMagnitudes) {
  const ModExpGolombBinarizer b(9, 3);
  const std::vector<bool> longest = b.binarize(-INT_MAX, true);
  EXPECT_EQ(longest.size(), 68u);
  expectDecodes(bitString(longest), true, -INT_MAX, true);
  expectDecodes(bitString(b.binarize(INT_MAX, false)), false, INT_MAX, false);
  EXPECT_THROW(b.binarize(INT_MIN, true), Misuse);
  EXPECT_THROW(b.binarize(std::vector<int>{1, INT_MIN}, false), Misuse);

  const std::vector<std::vector<bool>> codes = b.binarize(std::vector<int>{0, -1, 9}, true);
  ASSERT_EQ(codes.size(), 3u);
  EXPECT_EQ(bitString(codes[1]), "101");
}

TEST(ModExpGolombBinarizer, ExpGolombWritesFromPositionAndGrowsTheString) {
  const ModExpGolombBinarizer b(9, 3);
  std::vector<bool> code = bins("11");
  int pos = 1;
  b.expgolomb(8, code, pos);  // 8 >= 2^3: one prefix bin, order 4, remainder 0
  EXPECT_EQ(bitString(code), "1" "1" "0" "0000");
  EXPECT_EQ(pos, 7);
  EXPECT_THROW(b.expgolomb(-1, code, pos), Misuse);
  EXPECT_THROW(ModExpGolombBinarizer(0, 3), Misuse);
  EXPECT_THROW(ModExpGolombBinarizer(9, 0), Misuse);
}

TEST(ModExpGolombBinarizer, DecoderRefusesValuesBeyond32Bits) {
  const std::string unary(9, '1');
  const std::string prefix27(27, '1');
  struct Case {
    const char* name;
    std::string code;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"largest magnitude", unary + prefix27 + "0" + std::string(29, '1') + "0", true},
      {"suffix one past it", unary + prefix27 + "0" + std::string(30, '1'), false},
      {"prefix one bin too long", unary + prefix27 + "1", false},
      {"endless prefix", unary + std::string(200, '1'), false},
  };
  for (const Case& c : cases) {
    for (bool withSign : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (withSign ? " with sign" : ""));
      ModExpGolombBinarizer b(9, 3);
      int out = 0;
      bool done = false;
      auto feed = [&] {
        for (char bin : c.code) done = b.isCode(bin == '1', &out, withSign);
      };
      if (c.valid) {
        feed();
        if (withSign) done = b.isCode(true, &out, withSign);
        EXPECT_TRUE(done);
        EXPECT_EQ(out, withSign ? -INT_MAX : INT_MAX);
      } else {
        EXPECT_THROW(feed(), CorruptStream);
        b.resetDecoder();  // usable again after an aborted value
        EXPECT_TRUE(b.isCode(false, &out, withSign));
        EXPECT_EQ(out, 0);
      }
    }
  }
}

TEST(ModExpGolombBinarizer, DecoderStateRunsAcrossValues) {
  // 0 with the sign option completes at once; the next value starts clean.
  ModExpGolombBinarizer b(9, 3);
  std::vector<int> got;
  int out = 0;
  for (char c : std::string("0" "101" "0" "11111111100001" "100")) {
    if (b.isCode(c == '1', &out, true)) got.push_back(out);
  }
  EXPECT_EQ(got, (std::vector<int>{0, -1, 0, -9, 1}));
}

}  // namespace
}  // namespace meshcodec
