#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "NewLaplaceTesting.hpp"
#include "geometry/NewLaplace.hpp"
#include "geometry/Quantizer.hpp"
#include "geometry/ReconstructionOffset.hpp"
#include "mesh/Mesh.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

using testing::arithBlock;
using testing::floatBytes;

TEST(NewLaplaceLambda, CountsNonZeroComponentsOverTheirMagnitudes) {
  // Tetrahedron, one column (0, 0, 0, 0.2): deltas -0.2, -0.2, -0.2, 0.6.
  const Mesh tet = testing::tetrahedron();
  Eigen::MatrixXd V(4, 1);
  V << 0, 0, 0, 0.2;
  EXPECT_FLOAT_EQ(NewLaplace(tet.getTriangles(), 4, {3}).getLambda(V, 4), 10.0f / 3.0f);

  // A neighbour listed twice counts twice in the degree and is subtracted twice:
  // deltas 2, 0, -2 (not 1, 0, -1), so lambda is 2 / 4.
  const TriangleList twice{{0u, 1u, 2u}, {0u, 1u, 2u}};
  Eigen::MatrixXd U(3, 1);
  U << 1, 0, 0;
  EXPECT_EQ(NewLaplace(twice, 3, {}).getLambda(U, 3), 0.5f);

  // A constant column has no non-zero delta on a closed mesh: 0/0.
  const Eigen::MatrixXd constant = Eigen::MatrixXd::Constant(4, 2, 0.375);
  EXPECT_TRUE(std::isnan(NewLaplace(tet.getTriangles(), 4, {3}).getLambda(constant, 4)));
}

// lambda as the float that the offset is computed from, anchor ids, anchor
// coordinates from the float-narrowed quotient at k + c * a, then one block of
// getCorrections per column with that float, and nothing after.
TEST(NewLaplaceStream, LayoutFollowsTheFieldOrder) {
  const Mesh mesh = testing::uvSphere(3, 5);
  const AnchorList anchors{3, 7};
  Eigen::MatrixXd V = mesh.getVertices();
  const float q = 0.05f;
  const std::string bytes = testing::encodeMethod(0, mesh.getTriangles(), V, q, anchors, false);

  const NewLaplace coder(mesh.getTriangles(), 17, anchors);
  const float lambda = coder.getLambda(V, 17);
  EXPECT_EQ(bytes.substr(0, 4), floatBytes(lambda));
  std::stringstream s(bytes.substr(4));
  EXPECT_EQ(ArithCoder::decode(s, false), anchors);
  const std::vector<int> coords = ArithCoder::decode(s, true);
  ASSERT_EQ(coords.size(), 6u);
  for (int k = 0; k < 2; ++k) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(coords[k + 2 * c], quantizeFloatQuotient(V(anchors[k], c), q));
  }
  const auto corrections = coder.getCorrections(V, q, false, lambda);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(ArithCoder::decode(s, true), corrections[c]);
  EXPECT_EQ(s.peek(), std::char_traits<char>::eof());
}

// 2.4999999999 / 1 rounds to 2 in double but narrows to 2.5f, which rounds to 3.
TEST(NewLaplaceStream, AnchorsQuantizeTheFloatNarrowedQuotient) {
  const Mesh mesh = testing::octahedron();
  Eigen::MatrixXd V = mesh.getVertices();
  V(0, 0) = 2.4999999999;
  const std::string bytes = testing::encodeMethod(0, mesh.getTriangles(), V, 1.0f, {0}, true);
  EXPECT_EQ(V(0, 0), 3.0);
  EXPECT_EQ(testing::decodeMethod(0, mesh.getTriangles(), bytes, 1.0f, 6, 3)(0, 0), 3.0);
}

// Octahedron with anchors 2, 3, 4, 5: L = diag(4, 4), so each free vertex decodes to its
// dequantized index over 4, exactly: 0 stays 0, +-1 become +-(q + off) / 4.
TEST(NewLaplaceStream, FreeIndicesDecodeWithTheOffset) {
  const float q = 0.1f, lambda = 20.0f;
  const double off = reconstructionOffset(q, lambda);
  const std::string bytes = floatBytes(lambda) + arithBlock({2, 3, 4, 5}, false) +
                            arithBlock({1, 2, 3, 4, 0, 0, 0, 0, -5, 6, 7, 8}, true) +
                            arithBlock({1, 1}, true) + arithBlock({-1, -1}, true) + arithBlock({0, 0}, true);
  const Eigen::MatrixXd W =
      testing::decodeMethod(0, testing::octahedron().getTriangles(), bytes, q, 6, 3);
  for (int v : {0, 1}) {
    EXPECT_EQ(W(v, 0), (static_cast<double>(q) + off) / 4);
    EXPECT_EQ(W(v, 1), -(static_cast<double>(q) + off) / 4);
    EXPECT_EQ(W(v, 2), 0.0);
  }
  EXPECT_EQ(W(3, 0), dequantize(2, q));
  EXPECT_EQ(W(2, 2), dequantize(-5, q));
}

// Every delta zero: lambda is NaN in the stream, the offset is taken as 0 on both
// sides, and the decoded values are finite and equal to the write-back.
TEST(NewLaplaceStream, ConstantInputDecodesToFiniteValues) {
  const Mesh mesh = testing::uvSphere(20, 31);
  const int n = static_cast<int>(mesh.getVertices().rows());
  Eigen::MatrixXd V = Eigen::MatrixXd::Constant(n, 2, 0.375);
  const std::string bytes = testing::encodeMethod(0, mesh.getTriangles(), V, 0.01f, drawAnchors(n, 3), true);
  EXPECT_TRUE(std::isnan(testing::floatAt(bytes, 0)));
  const Eigen::MatrixXd W = testing::decodeMethod(0, mesh.getTriangles(), bytes, 0.01f, n, 2);
  ASSERT_TRUE(W.allFinite());
  EXPECT_TRUE((W.array() == V.array()).all());
  EXPECT_LT((W.array() - 0.375).abs().maxCoeff(), 0.01);
}

}  // namespace
}  // namespace meshcodec
