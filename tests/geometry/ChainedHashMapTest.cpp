#include <gtest/gtest.h>

#include <vector>

#include "geometry/ChainedHashMap.hpp"
#include "geometry/Line.hpp"

namespace meshcodec {
namespace {

using Map = ChainedHashMap<Line, double>;

// Keys (k, 0) hash to k, so the orders below can be followed by hand.
std::vector<int> order(const Map& m) {
  std::vector<int> out;
  for (const auto& e : m) out.push_back(e.first.first);
  return out;
}

Map filled(const std::vector<int>& keys) {
  Map m;
  for (int k : keys) m[Line(k, 0)] = k;
  return m;
}

const std::vector<int> kKeys{3, 1, 4, 15, 9, 2, 6, 25, 14, 7, 12};

// Buckets grow 0 -> 2 -> 5 -> 11 when the load would pass 1; a new key goes to the
// front of its bucket's run, or of the list when its bucket is empty; growth regroups.
TEST(ChainedHashMap, InsertionOrderAndGrowth) {
  struct Step {
    size_t count, buckets;
    std::vector<int> order;
  };
  const Step steps[] = {{1, 2, {3}},
                        {3, 5, {4, 1, 3}},
                        {5, 5, {15, 9, 4, 1, 3}},
                        {6, 11, {2, 4, 15, 9, 1, 3}},
                        {11, 11, {7, 6, 2, 4, 15, 9, 12, 1, 14, 25, 3}}};
  for (const Step& s : steps) {
    const Map m = filled(std::vector<int>(kKeys.begin(), kKeys.begin() + s.count));
    EXPECT_EQ(m.bucketCount(), s.buckets) << s.count;
    EXPECT_EQ(order(m), s.order) << s.count;
  }
}

// A copy keeps the bucket count and reverses the order; an assignment re-inserts at
// the end of each bucket's run, whatever the target held; erasing keeps the rest, and
// freed slots are reused under the same rules.
TEST(ChainedHashMap, CopyAssignAndEraseOrders) {
  const Map source = filled(kKeys);
  EXPECT_EQ(order(Map(source)), (std::vector<int>{3, 25, 14, 1, 12, 9, 15, 4, 2, 6, 7}));
  const std::vector<int> assigned{14, 25, 3, 12, 1, 9, 15, 4, 6, 7, 2};
  for (Map target : {Map(), filled({1, 2, 3})}) {
    target = source;
    EXPECT_EQ(order(target), assigned);
    EXPECT_EQ(target[Line(25, 0)], 25.0);
  }
  Map m = filled(kKeys);
  EXPECT_EQ(m.erase(Line(4, 0)) + m.erase(Line(15, 0)) + m.erase(Line(15, 0)), 2u);
  EXPECT_EQ(order(m), (std::vector<int>{7, 6, 2, 9, 12, 1, 14, 25, 3}));
  m[Line(4, 0)] = 1.0;
  m[Line(26, 0)] = 1.0;
  EXPECT_EQ(order(m), (std::vector<int>{26, 4, 7, 6, 2, 9, 12, 1, 14, 25, 3}));
  EXPECT_EQ(m.bucketCount(), 11u);
}

}  // namespace
}  // namespace meshcodec
