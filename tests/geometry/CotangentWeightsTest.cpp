#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>

#include "common/CodecError.hpp"
#include "geometry/CotangentWeights.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

struct AllWeights {
  std::map<std::pair<int, int>, double> edge;  // weight of i-j, whatever j's list position
  std::vector<double> diagonal;
};

AllWeights weightsOf(const TriangleList& tris, const Eigen::MatrixXd& shape,
                     CodingSide side = CodingSide::Encoder) {
  const int n = static_cast<int>(shape.rows());
  NeighborTable neighbors(n);
  buildNeighborsTable(tris, neighbors);
  CotangentWeights cotangents(tris, neighbors, side);
  const ShapeRef view(shape);
  AllWeights all{{}, std::vector<double>(n)};
  std::vector<double> weights;
  for (int i = 0; i < n; ++i) {
    cotangents.compute(view, i, weights, all.diagonal[i]);
    for (size_t k = 0; k < weights.size(); ++k) all.edge[{i, neighbors[i][k]}] += weights[k];
  }
  return all;
}

// Both sides of a triangle: every edge is in the neighbour table, and its weight is twice
// the cotangent of the angle opposite it.
const TriangleList kTwoSided{{0, 1, 2}, {0, 2, 1}};

TEST(CotangentWeights, RegularTetrahedronAndAVertexInNoTriangle) {
  Eigen::MatrixXd shape(5, 3);
  shape << 1, 1, 1, 1, -1, -1, -1, 1, -1, -1, -1, 1, 7, 7, 7;
  const AllWeights all = weightsOf({{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}}, shape);
  EXPECT_EQ(all.edge.size(), 12u);
  for (const auto& [edge, w] : all.edge) EXPECT_NEAR(w, 2 / std::sqrt(3.0), 1e-15);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(all.diagonal[i], -2 * std::sqrt(3.0), 1e-14) << i;
  EXPECT_EQ(all.diagonal[4], 0.0);
}

// No clamping: an obtuse angle gives a negative weight, a right angle 1 / tan(acos(0)),
// about 6.1e-17, not 0 (the axis-aligned one has a dot product of exactly 0).
TEST(CotangentWeights, AngleOppositeAnEdge) {
  const double rightAngle = 1 / std::tan(std::acos(0.0));
  ASSERT_GT(rightAngle, 6.1e-17);
  ASSERT_LT(rightAngle, 6.2e-17);
  Eigen::MatrixXd obtuse(3, 3), right(3, 3);
  obtuse << 0, 0, 0, 1, 0, 0, 0.5, std::sqrt(3.0) / 6, 0;  // 120 degrees at vertex 2
  right << 1, 0, 0, 0, 1, 0, 0, 0, 0;
  EXPECT_NEAR(weightsOf(kTwoSided, obtuse).edge.at({0, 1}), -2 / std::sqrt(3.0), 1e-15);
  EXPECT_EQ(weightsOf(kTwoSided, right).edge.at({0, 1}), 2 * rightAngle);
  EXPECT_EQ(weightsOf(kTwoSided, right).edge.at({1, 0}), 2 * rightAngle);
}

// The corner of the vertex is looked up and negating both vectors of a dot product is
// exact, so rotated corners, reversed orientation and another triangle order give every
// weight to the last bit; only the fan-order sums of the diagonal may round otherwise.
TEST(CotangentWeights, InvariantUnderCornerRotationOrientationAndOrder) {
  Mesh mesh = testing::gridTorus(12, 9);
  testing::addNoise(mesh, 0.02);
  const TriangleList& tris = mesh.getTriangles();
  TriangleList rotated = tris, reversed = tris, reordered(tris.rbegin(), tris.rend());
  for (size_t t = 0; t < tris.size(); ++t) {
    std::rotate(rotated[t].begin(), rotated[t].begin() + (t % 3), rotated[t].end());
    std::swap(reversed[t][1], reversed[t][2]);
  }
  const AllWeights reference = weightsOf(tris, mesh.getVertices());
  for (const auto* variant : {&rotated, &reversed, &reordered}) {
    const AllWeights other = weightsOf(*variant, mesh.getVertices());
    EXPECT_TRUE(other.edge == reference.edge);
    for (size_t i = 0; i < reference.diagonal.size(); ++i) {
      if (variant == &rotated) {
        ASSERT_EQ(other.diagonal[i], reference.diagonal[i]) << i;
      }
      ASSERT_NEAR(other.diagonal[i], reference.diagonal[i], 1e-13) << i;
    }
  }
}

// A weight that cannot be formed is refused with the vertex named: the encoder's input
// is outside the domain, the decoder's stream is corrupt.
TEST(CotangentWeights, RefusesMissingEdgesAndDegenerateTriangles) {
  Eigen::MatrixXd triangle(3, 3), collapsed(3, 3), collinear(3, 3);
  triangle << 0, 0, 0, 1, 0, 0, 0, 1, 0;
  collapsed << 0, 0, 0, 0, 0, 0, 0, 1, 0;
  collinear << 0, 0, 0, 1, 0, 0, 2, 0, 0;
  const std::pair<TriangleList, Eigen::MatrixXd> cases[] = {
      {{{0, 1, 2}}, triangle},  // one-sided: edge 0-1 runs upward and is not entered
      {kTwoSided, collapsed},
      {kTwoSided, collinear},
  };
  for (const auto& [tris, shape] : cases) {
    EXPECT_THROW(weightsOf(tris, shape, CodingSide::Encoder), OutOfDomain) << shape;
    EXPECT_THROW(weightsOf(tris, shape, CodingSide::Decoder), CorruptStream) << shape;
  }
  try {
    weightsOf(kTwoSided, collapsed);
  } catch (const OutOfDomain& e) {
    EXPECT_STREQ(e.what(),
                 "cotangent weights: vertex 0: triangle 0 is degenerate (its cotangents are not "
                 "finite) in the reference mesh");
  }
}

}  // namespace
}  // namespace meshcodec
