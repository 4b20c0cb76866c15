#include <gtest/gtest.h>

#include <algorithm>

#include "common/CodecError.hpp"
#include "geometry/FreeVertexLaplacian.hpp"
#include "mesh/Mesh.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

FreeVertexLaplacian systemOf(const TriangleList& tris, int n, const AnchorList& anchors) {
  NeighborTable table(static_cast<size_t>(n));
  buildNeighborsTable(tris, table);
  return FreeVertexLaplacian(table, anchors);
}

TEST(FreeVertexLaplacian, TetrahedronWithOneAnchor) {
  const FreeVertexLaplacian sys = systemOf(testing::tetrahedron().getTriangles(), 4, {3});
  EXPECT_EQ(sys.getFreeVertices(), std::vector<int>({0, 1, 2}));
  EXPECT_EQ(sys.getColumnOf(), std::vector<int>({0, 1, 2, 3}));
  Eigen::Matrix3d expected;
  expected << 3, -1, -1, -1, 3, -1, -1, -1, 3;
  EXPECT_EQ(Eigen::MatrixXd(sys.getL()), Eigen::MatrixXd(expected));
}

// Vertex 0 of the octahedron has neighbours 4, 3, 2, 5: all anchors, so its row holds
// only its degree; vertex 1 is the opposite pole.
TEST(FreeVertexLaplacian, VertexWhoseNeighboursAreAllAnchorsKeepsOnlyItsDiagonal) {
  const FreeVertexLaplacian sys = systemOf(testing::octahedron().getTriangles(), 6, {4, 3, 2, 5});
  EXPECT_EQ(sys.getFreeVertices(), std::vector<int>({0, 1}));
  EXPECT_EQ(sys.getL().nonZeros(), 2);
  EXPECT_EQ(sys.getL().coeff(0, 0), 4.0);
  EXPECT_EQ(sys.getL().coeff(1, 1), 4.0);
}

// The same triangle twice lists vertex 2 twice in vertex 0's list (and 0 twice in 2's).
TEST(FreeVertexLaplacian, NeighbourListedTwiceGivesMinusTwo) {
  const TriangleList twice{{0u, 1u, 2u}, {0u, 1u, 2u}};
  const FreeVertexLaplacian sys = systemOf(twice, 3, {1});
  Eigen::Matrix2d expected;
  expected << 2, -2, -2, 2;
  EXPECT_EQ(Eigen::MatrixXd(sys.getL()), Eigen::MatrixXd(expected));
}

// On every closed mesh: L is symmetric, and row k sums to the number of anchor
// entries in the list of free vertex k (each row of the full Laplacian sums to 0).
TEST(FreeVertexLaplacian, SymmetricAndRowsSumToAnchorNeighbours) {
  for (const auto& named : testing::closedMeshZoo()) {
    SCOPED_TRACE(named.name);
    const Mesh& mesh = named.mesh;
    const int n = static_cast<int>(mesh.getVertices().rows());
    const AnchorList anchors = drawAnchors(n, std::max(1, n / 10));
    NeighborTable table(static_cast<size_t>(n));
    buildNeighborsTable(mesh.getTriangles(), table);
    const FreeVertexLaplacian sys(table, anchors);

    ASSERT_EQ(sys.freeCount(), n - static_cast<int>(anchors.size()));
    const Eigen::SparseMatrix<double> transposed = sys.getL().transpose();
    EXPECT_TRUE(sys.getL().isApprox(transposed));
    const Eigen::VectorXd sums = sys.getL() * Eigen::VectorXd::Ones(sys.freeCount());
    for (int k = 0; k < sys.freeCount(); ++k) {
      const auto& list = table[sys.getFreeVertices()[k]];
      const auto anchorEntries = std::count_if(list.begin(), list.end(), [&](int j) {
        return std::find(anchors.begin(), anchors.end(), j) != anchors.end();
      });
      ASSERT_EQ(sums(k), static_cast<double>(anchorEntries)) << "free row " << k;
    }
  }
}

TEST(FreeVertexLaplacian, GathersAndScattersFreeRows) {
  const FreeVertexLaplacian sys = systemOf(testing::octahedron().getTriangles(), 6, {1, 4});
  Eigen::MatrixXd V = testing::octahedron().getVertices();
  const Eigen::MatrixXd Vf = sys.gatherFreeRows(V);
  ASSERT_EQ(Vf.rows(), 4);
  EXPECT_EQ(Vf.row(1), V.row(2));
  Eigen::MatrixXd W = Eigen::MatrixXd::Zero(6, 3);
  sys.scatterFreeRows(Vf, W);
  EXPECT_EQ(W.row(5), V.row(5));
  EXPECT_EQ(W.row(4), Eigen::RowVector3d::Zero());
  EXPECT_THROW(sys.gatherFreeRows(Eigen::MatrixXd::Zero(5, 3)), Misuse);
  EXPECT_THROW(sys.scatterFreeRows(Vf.topRows(3), W), Misuse);
}

TEST(FreeVertexLaplacian, RejectsAnchorsOutsideTheMeshOrRepeated) {
  const Mesh tet = testing::tetrahedron();
  for (const AnchorList& bad : {AnchorList{4}, AnchorList{-1}, AnchorList{2, 0, 2}}) {
    EXPECT_THROW(systemOf(tet.getTriangles(), 4, bad), Misuse);
  }
}

}  // namespace
}  // namespace meshcodec
