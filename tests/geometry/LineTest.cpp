#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "geometry/Line.hpp"

namespace meshcodec {
namespace {

TEST(Line, KeysAndHash) {
  const Line undirected(3, 1, false), kept(3, 1, true), pair(3, 1), loop(2, 2, false);
  EXPECT_EQ(undirected, Line(1, 3));
  EXPECT_EQ(kept, Line(3, 1));
  EXPECT_EQ(pair, Line(3, 1));
  EXPECT_EQ(loop, Line(2, 2));
  EXPECT_FALSE(Line(1, 3) == Line(3, 1));
  // first + 10000 * second in 32 bits, sign-extended: a sum that wraps negative
  // hashes near 2^64 where size_t has 64 bits (to 3e9 where it has 32).
  const std::hash<Line> h;
  EXPECT_EQ(h(Line(1, 3)), 30001u);
  EXPECT_EQ(h(Line(3, 1)), 10003u);
  EXPECT_EQ(h(Line(0, 300000)), static_cast<size_t>(std::int64_t{3000000000} - (std::int64_t{1} << 32)));
}

}  // namespace
}  // namespace meshcodec
