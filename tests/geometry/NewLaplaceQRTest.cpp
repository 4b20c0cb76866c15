#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "NewLaplaceTesting.hpp"
#include "geometry/NewLaplaceQR.hpp"
#include "geometry/Quantizer.hpp"
#include "mesh/Mesh.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

using testing::arithBlock;

// No lambda: the sub-stream opens with the anchor id block, then the coordinates
// and one block of getCorrections per column.
TEST(NewLaplaceQRStream, StartsWithTheAnchorBlock) {
  const Mesh mesh = testing::uvSphere(3, 5);
  const AnchorList anchors{3, 7};
  Eigen::MatrixXd V = mesh.getVertices();
  const std::string bytes = testing::encodeMethod(3, mesh.getTriangles(), V, 0.05f, anchors, false);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\2\0\0\0", 4));

  std::stringstream in(bytes);
  EXPECT_EQ(ArithCoder::decode(in, false), anchors);
  const std::vector<int> coords = ArithCoder::decode(in, true);
  ASSERT_EQ(coords.size(), 6u);
  EXPECT_EQ(coords[1 + 2 * 2], quantizeFloatQuotient(V(7, 2), 0.05f));
  const auto corrections = NewLaplaceQR(mesh.getTriangles(), 17, anchors).getCorrections(V, 0.05f, false);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(ArithCoder::decode(in, true), corrections[c]);
  EXPECT_EQ(in.peek(), std::char_traits<char>::eof());
}

// L = diag(4, 4) on the octahedron with anchors 2, 3, 4, 5: each free vertex decodes to
// its index times q (single-precision product, no offset) over 4, zero included.
TEST(NewLaplaceQRStream, FreeIndicesDecodePlainly) {
  const float q = 0.1f;
  const std::string bytes = arithBlock({2, 3, 4, 5}, false) + arithBlock(std::vector<int>(12, 0), true) +
                            arithBlock({1, 1}, true) + arithBlock({-3, -3}, true) + arithBlock({0, 0}, true);
  const Eigen::MatrixXd W =
      testing::decodeMethod(3, testing::octahedron().getTriangles(), bytes, q, 6, 3);
  for (int v : {0, 1}) {
    EXPECT_EQ(W(v, 0), dequantize(1, q) / 4);
    EXPECT_EQ(W(v, 1), dequantize(-3, q) / 4);
    EXPECT_EQ(W(v, 2), 0.0);
  }
}

}  // namespace
}  // namespace meshcodec
