#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/CotanLaplaceTesting.hpp"
#include "geometry/FreeVertexLaplacian.hpp"
#include "geometry/NewCotanLaplace.hpp"
#include "geometry/NewLaplace.hpp"
#include "geometry/Quantizer.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

using testing::binaryStream;

// Octahedron at half size, so that anchor vertex 0 reconstructs to x = 0.5 exactly with
// q = 0.25. The anchor value (2.5 - 1e-10) q narrows to the quotient 2.5 and codes 3,
// where the double quotient would give 2.
TEST(NewCotanLaplace, OctahedronStreamPrintedLinesAndAnchorRows) {
  const TriangleList tris = testing::octahedron().getTriangles();
  const float q = 0.25f;
  const AnchorList anchors{0, 5};
  Eigen::MatrixXd shape = 0.5 * testing::octahedron().getVertices();
  Eigen::MatrixXd data = testing::smoothColumns(shape).leftCols(2);
  data(0, 0) = (2.5 - 1e-10) * 0.25;
  ASSERT_EQ(quantize(data(0, 0), q), 2);

  const std::string bytes = testing::encodeCotan(4, tris, data, shape, q, anchors);
  std::stringstream s = binaryStream(bytes);
  s.ignore(4);  // the shape pass's rate
  EXPECT_EQ(ArithCoder::decode(s, false), anchors);
  EXPECT_EQ(ArithCoder::decode(s, true).size(), 6u);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(ArithCoder::decode(s, true).size(), 4u);
  std::stringstream shapePass = binaryStream(bytes.substr(0, s.tellg()));
  EXPECT_EQ(ArithCoder::decode(s, false), anchors);
  const std::vector<int> values = ArithCoder::decode(s, true);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0], 3);
  for (int c = 0; c < 2; ++c) EXPECT_EQ(ArithCoder::decode(s, true).size(), 4u);
  EXPECT_EQ(s.peek(), EOF);

  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(NewLaplace::decode(tris, shapePass, q, 6, 3) == shape);
  ::testing::internal::GetCapturedStdout();
  std::string printed;
  const Eigen::MatrixXd X = testing::decodeCotan(4, tris, bytes, q, 6, 2, &printed);
  EXPECT_EQ(printed, "6\n0.5\n");
  for (size_t k = 0; k < anchors.size(); ++k) {
    for (int c = 0; c < 2; ++c) EXPECT_EQ(X(anchors[k], c), dequantize(values[k + 2 * c], q));
  }
  EXPECT_EQ(X(0, 0), 0.75);
}

// Vertices 0 and 1 of the octahedron have only anchor neighbours: each row keeps just its
// diagonal, minus the cotangents of its eight 60-degree angles.
TEST(NewCotanLaplace, FreeVertexWithOnlyAnchorNeighboursKeepsItsDiagonal) {
  const Mesh mesh = testing::octahedron();
  const NewCotanLaplace coder(mesh.getTriangles(), mesh.getVertices(), {4, 3, 2, 5}, 6);
  const Eigen::SparseMatrix<double>& L = coder.getSystem().getL();
  EXPECT_EQ(L.nonZeros(), 2);
  EXPECT_NEAR(L.coeff(0, 0), -8 / std::sqrt(3.0), 1e-14);
  EXPECT_NEAR(L.coeff(1, 1), -8 / std::sqrt(3.0), 1e-14);
}

// Two tetrahedra with an anchor in one only: the free system of the other is singular
// and its factorization meets an exact zero pivot, reported on either side instead of
// divided by.
TEST(NewCotanLaplace, ZeroPivotIsRefusedOnBothSides) {
  Eigen::MatrixXd shape(8, 3);
  shape << 1, 1, 1, 1, -1, -1, -1, 1, -1, -1, -1, 1, 4, 1, 1, 4, -1, -1, 2, 1, -1, 2, -1, 1;
  const TriangleList tris{{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2},
                          {4, 5, 6}, {4, 7, 5}, {4, 6, 7}, {5, 7, 6}};
  Eigen::MatrixXd data = shape.col(0);
  EXPECT_THROW(NewCotanLaplace(tris, shape, {0}, 8).getCorrections(data, 1.0f), OutOfDomain);

  // The shape pass anchors the whole second tetrahedron, so that it reconstructs exactly
  // (integer coordinates, q = 1); the data's anchor list is the first vertex only.
  std::stringstream s = binaryStream();
  NewLaplace::encode(tris, shape, s, 1.0f, 8, {0, 4, 5, 6, 7}, false);
  writeAnchorBlocks(data, {0}, 1.0f, false, s);
  ArithCoder::encode(std::vector<int>(7, 1), s, true);
  EXPECT_THROW(testing::decodeCotan(4, tris, s.str(), 1.0f, 8, 1), CorruptStream);
}

}  // namespace
}  // namespace meshcodec
