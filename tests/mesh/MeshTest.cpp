#include <gtest/gtest.h>

#include <cmath>

#include "common/CodecError.hpp"
#include "mesh/DynamicMesh.hpp"
#include "mesh/Mesh.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

Mesh threeVertexMesh() {
  Mesh m(3, 1);
  m.getVertices() << 0, 0, 0, 1, 0, 0, 0, 1, 0;
  m.setTriangles(TriangleList{{0u, 1u, 2u}});
  return m;
}

TEST(MeshAvgEL, SingleTriangleAndEmptyList) {
  Mesh m = threeVertexMesh();
  EXPECT_EQ(m.avgEL(), static_cast<float>((1.0 + std::sqrt(2.0) + 1.0) / 3.0));
  Mesh empty(3, 0);
  EXPECT_TRUE(std::isnan(empty.avgEL()));
}

TEST(MeshReindex, IdentityRotationAndNonPermutation) {
  Mesh m = threeVertexMesh();
  m.reindex({0, 1, 2});
  EXPECT_EQ(m.getVertices(), threeVertexMesh().getVertices());

  Mesh r = threeVertexMesh();
  r.reindex({2, 0, 1});
  EXPECT_EQ(r.getVertices().row(2), threeVertexMesh().getVertices().row(0));
  EXPECT_EQ(r.getTriangles()[0], (std::array<unsigned, 3>{2, 0, 1}));

  // Two entries name row 0: the larger index wins; row 2 keeps its content.
  Mesh d = threeVertexMesh();
  d.getVertices().row(2) << 7, 8, 9;
  d.reindex({0, 0, 1});
  const VertexMatrix& v = d.getVertices();
  EXPECT_EQ(v.row(0), Eigen::RowVector3d(1, 0, 0));
  EXPECT_EQ(v.row(1), Eigen::RowVector3d(7, 8, 9));
  EXPECT_EQ(v.row(2), Eigen::RowVector3d(7, 8, 9));
}

TEST(MeshReindex, RejectsOrdersThatCannotApply) {
  Mesh m = threeVertexMesh();
  EXPECT_THROW(m.reindex({0, 1}), Misuse);
  EXPECT_THROW(m.reindex({0, 1, 3}), Misuse);
  EXPECT_THROW(m.reindex({0, 1, -1}), Misuse);
}

TEST(Anchors, ReproduceTheReferenceDraws) {
  EXPECT_TRUE(drawAnchors(10, 0).empty());
  EXPECT_EQ(drawAnchors(1, 1), AnchorList({0}));
  EXPECT_EQ(drawAnchors(2, 2), AnchorList({0, 1}));
  EXPECT_EQ(drawAnchors(1000, 1), AnchorList({142}));
  EXPECT_EQ(drawAnchors(5000, 5), AnchorList({4476, 290, 4184, 2242, 2686}));
  EXPECT_EQ(drawAnchors(100, 20), AnchorList({14, 97, 69, 34, 80, 88, 66, 42, 76, 40, 2, 49, 78,
                                              99, 96, 3, 86, 56, 83, 57}));
}

TEST(Anchors, ThirtyOneBitPathIsDistinctAndInRange) {
  // More than 2^30 vertices: each candidate takes two engine outputs.
  const long long v = (1LL << 30) + 12345;
  const AnchorList a = drawAnchors(v, 50);
  ASSERT_EQ(a.size(), 50u);
  for (int x : a) {
    EXPECT_GE(x, 0);
    EXPECT_LT(x, v);
  }
  EXPECT_EQ(a, drawAnchors(v, 50));
  // First candidate: (48270 & 0x7fff) << 16 | (48271^2 mod (2^31-1) - 1) & 0xffff.
  const long long second = (48271LL * 48271LL) % 2147483647LL - 1;
  EXPECT_EQ(a[0], ((48270LL & 0x7fff) << 16) + (second & 0xffff));
}

TEST(Anchors, MisuseThrowsInsteadOfHanging) {
  EXPECT_THROW(drawAnchors(0, 1), Misuse);
  EXPECT_THROW(drawAnchors(3, 4), Misuse);
  EXPECT_EQ(drawAnchors(3, 3).size(), 3u);
}

TEST(Anchors, MeshAndDynamicMeshDrawAlike) {
  Mesh sphere = testing::uvSphere(40, 50);
  EXPECT_EQ(sphere.computeAnchors3(2), sphere.computeAnchors3(2));
  DynamicMesh dyn(static_cast<int>(sphere.getVertices().rows()), 2, 0);
  EXPECT_EQ(dyn.computeAnchors3(20), drawAnchors(sphere.getVertices().rows(), 20));
}

TEST(DynamicMeshFrames, RowsHoldCoordinatesByFrame) {
  DynamicMesh d(2, 3, 1);
  for (int f = 0; f < 3; ++f) {
    Eigen::VectorXd x(2), y(2), z(2);
    x << f, f + 0.5;
    y << 10 + f, 10.5 + f;
    z << 20 + f, 20.5 + f;
    d.setFrameVertices(f, x, y, z);
  }
  const AnimationMatrix& v = d.getVertices();
  for (int f = 0; f < 3; ++f) {
    EXPECT_EQ(v(f, 1), f + 0.5);
    EXPECT_EQ(v(3 + f, 0), 10 + f);
    EXPECT_EQ(v(6 + f, 1), 20.5 + f);
  }
  d.setTriangles(TriangleList{{0u, 1u, 1u}});
  d.reindex({1, 0});
  EXPECT_EQ(d.getVertices()(0, 0), 0.5);
  EXPECT_EQ(d.getTriangles()[0], (std::array<unsigned, 3>{1, 0, 0}));
}

}  // namespace
}  // namespace meshcodec
