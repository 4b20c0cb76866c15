#include <gtest/gtest.h>

#include "common/CodecError.hpp"
#include "geometry/DiffusionOrder.hpp"
#include "geometry/ErrorDiffusion.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

using Indices = std::vector<std::vector<int>>;

DiffusionMatrix column(std::initializer_list<double> values) {
  DiffusionMatrix d(static_cast<Eigen::Index>(values.size()), 1);
  Eigen::Index r = 0;
  for (double v : values) d(r++, 0) = v;
  return d;
}

TEST(ErrorDiffusion, TetrahedronPassesItsErrorsOn) {
  NeighborTable table(4);
  buildNeighborsTable(testing::tetrahedron().getTriangles(), table);
  std::vector<int> order;
  computeDiffusionOrder(table, order);
  ASSERT_EQ(order, (std::vector<int>{0, 2, 3, 1}));

  // L * V of the tetrahedron with V = (0, 0, 0, 0.2) and anchor 3.
  DiffusionMatrix d = column({0.2, 0.2, 0.2, -0.6, 0.2});
  Indices indices;
  quantizeWithErrorDiffusion(d, order, table, 1.0f, indices);
  EXPECT_EQ(indices, (Indices{{0, 0, 0, 0, 0}}));
  // Vertex 2 took 0.1 + 0.1/3, vertex 3 ended near -0.317, vertex 1 near 0.
  EXPECT_NEAR(d(2, 0), 1.0 / 3.0, 1e-15);
  EXPECT_NEAR(d(3, 0), -0.6 + 0.1 / 3 + 1.0 / 6 + 1.0 / 12, 1e-15);
  EXPECT_NEAR(d(1, 0), 0.0, 1e-15);
  EXPECT_EQ(d(4, 0), 0.2);  // the anchor row receives nothing
}

TEST(ErrorDiffusion, EdgeCasesOfTheWalk) {
  struct Case {
    const char* name;
    NeighborTable table;
    std::vector<int> order;
    DiffusionMatrix d;
    Indices indices;
  };
  DiffusionMatrix twoColumns(2, 2);
  twoColumns << 0.4, 0.4, 0.0, 0.0;
  DiffusionMatrix single(2, 2);
  single << 1.4, -2.6, 0.5, 7.49;
  const Case cases[] = {
      // Vertex 1's neighbour is coded: its error goes only to vertex 2, which starts a
      // new walk and is no neighbour, and lifts it from 0.3 to 0.5, which rounds up.
      {"next vertex starts a new walk",
       {{1}, {0}, {}},
       {0, 1, 2},
       column({0.4, 0.0, 0.3}),
       {{0, 0, 1}}},
      // One vertex and one anchor row: both rounded on their own.
      {"single vertex", {{}}, {0}, single, {{1, 1}, {-3, 7}}},
      // Vertex 0 lists itself: it shares with itself in column 0 only.
      {"vertex in its own list", {{0, 1}, {0}}, {0, 1}, twoColumns, {{0, 0}, {0, 0}}},
  };
  for (auto c : cases) {
    Indices indices;
    quantizeWithErrorDiffusion(c.d, c.order, c.table, 1.0f, indices);
    EXPECT_EQ(indices, c.indices) << c.name;
  }
  {
    DiffusionMatrix d = twoColumns;
    Indices indices;
    quantizeWithErrorDiffusion(d, {0, 1}, {{0, 1}, {0}}, 1.0f, indices);
    EXPECT_EQ(d(0, 0), 0.5);  // its own share while still uncoded
    EXPECT_EQ(d(0, 1), 0.4);  // marked coded after column 0
    EXPECT_EQ(d(1, 0), 0.2 + 0.1);
    EXPECT_EQ(d(1, 1), 0.4);  // its half, then the whole second half
  }
}

TEST(ErrorDiffusion, ErrorIsMeasuredAgainstTheSinglePrecisionValue) {
  // 0.3 is an exact multiple of no float step: k = 3 dequantizes to 0.30000001192...,
  // so even this value passes an error on.
  DiffusionMatrix d = column({0.3, 0.0});
  Indices indices;
  quantizeWithErrorDiffusion(d, {0, 1}, {{1}, {0}}, 0.1f, indices);
  EXPECT_EQ(indices, (Indices{{3, 0}}));
  EXPECT_EQ(d(1, 0), 0.3 - 0.30000001192092896);
}

TEST(ErrorDiffusion, RejectsShapesThatDoNotFit) {
  const NeighborTable table{{1}, {0}};
  Indices indices;
  DiffusionMatrix d = column({1.0, 2.0});
  EXPECT_THROW(quantizeWithErrorDiffusion(d, {0, 0}, table, 1.0f, indices), Misuse);
  EXPECT_THROW(quantizeWithErrorDiffusion(d, {0, 2}, table, 1.0f, indices), Misuse);
  EXPECT_THROW(quantizeWithErrorDiffusion(d, {0}, table, 1.0f, indices), Misuse);
  DiffusionMatrix tooShort = column({1.0});
  EXPECT_THROW(quantizeWithErrorDiffusion(tooShort, {0, 1}, table, 1.0f, indices), Misuse);
  EXPECT_THROW(quantizeWithErrorDiffusion(d, {0, 1}, {{5}, {0}}, 1.0f, indices), Misuse);
}

}  // namespace
}  // namespace meshcodec
