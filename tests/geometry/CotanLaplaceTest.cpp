#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/CotanLaplaceTesting.hpp"
#include "geometry/FreeVertexLaplacian.hpp"
#include "geometry/Laplace.hpp"
#include "geometry/NewLaplace.hpp"
#include "geometry/Quantizer.hpp"
#include "support/ErrorMetrics.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

using testing::binaryStream;

// Methods 3 and 5: the shape pass with its anchor list, the anchor list again, then k
// blocks of n + a whose last a entries are the anchors' own values. The encoder's shape
// is left as the decoder reconstructs it. Method 5 differs only in the diffused vertex
// entries, and method 3's decoder reads its streams.
TEST(CotanLaplace, SubStreamLayoutShapeWriteBackAndDiffusion) {
  const Mesh mesh = testing::holedPlate(1, 3);
  const TriangleList& tris = mesh.getTriangles();
  const int n = static_cast<int>(mesh.getVertices().rows());
  const AnchorList anchors{n - 1, 7, n / 2};
  const size_t a = anchors.size();
  const float q = 0.01f;
  const Eigen::MatrixXd data = testing::smoothColumns(mesh.getVertices());
  std::string bytes[2];
  for (int method : {3, 5}) {
    SCOPED_TRACE(method);
    Eigen::MatrixXd shape = mesh.getVertices();
    const std::string& stream = bytes[method / 5] =
        testing::encodeCotan(method, tris, data, shape, q, anchors);
    std::stringstream s = binaryStream(stream);
    EXPECT_EQ(ArithCoder::decode(s, false), anchors);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(ArithCoder::decode(s, true).size(), n + a);
    std::stringstream shapePass = binaryStream(stream.substr(0, s.tellg()));
    EXPECT_TRUE(Laplace::decode(tris, shapePass, q, n, 3) == shape);
    EXPECT_EQ(ArithCoder::decode(s, false), anchors);
    for (int c = 0; c < data.cols(); ++c) {
      const std::vector<int> block = ArithCoder::decode(s, true);
      ASSERT_EQ(block.size(), n + a);
      for (size_t k = 0; k < a; ++k) EXPECT_EQ(block[n + k], quantize(data(anchors[k], c), q));
    }
    EXPECT_EQ(s.peek(), EOF);
  }
  EXPECT_NE(bytes[0], bytes[1]);
  EXPECT_TRUE(testing::decodeCotan(3, tris, bytes[1], q, n, 4) ==
              testing::decodeCotan(5, tris, bytes[1], q, n, 4));
}

// Rows that reach the first anchor lose that entry but keep it in their diagonal, so a
// constant column c0 codes -w c0 at the first anchor's neighbours (w their weight
// towards it) and 0 elsewhere, the other anchors' neighbours included.
TEST(CotanLaplace, ConstantColumnCodesOnlyTheFirstAnchorsNeighbours) {
  const Mesh mesh = testing::uvSphere(6, 8);
  const int n = static_cast<int>(mesh.getVertices().rows());
  const AnchorList anchors{9, 30};
  const float q = 0.001f;
  const double c0 = 0.75;
  Eigen::MatrixXd shape = mesh.getVertices();
  std::stringstream s = binaryStream(testing::encodeCotan(
      3, mesh.getTriangles(), Eigen::MatrixXd::Constant(n, 1, c0), shape, q, anchors));
  for (int b = 0; b < 5; ++b) ArithCoder::decode(s, b != 0 && b != 4);
  const std::vector<int> block = ArithCoder::decode(s, true);

  NeighborTable neighbors(n);
  buildNeighborsTable(mesh.getTriangles(), neighbors);
  CotangentWeights cotangents(mesh.getTriangles(), neighbors, CodingSide::Encoder);
  const ShapeRef view(shape);
  std::vector<double> weights;
  double diagonal;
  int coded = 0;
  for (int i = 0; i < n; ++i) {
    cotangents.compute(view, i, weights, diagonal);
    const int k = neighbourIndex(neighbors[i], anchors[0]);
    EXPECT_EQ(block[i], k < 0 ? 0 : quantize(-weights[k] * c0, q)) << i;
    coded += block[i] != 0;
  }
  EXPECT_GT(coded, 2);
}

// Four smooth columns over closed meshes, the mesh itself as the reference shape,
// decoded from the triangle list as the connectivity decoder returns it. Bounds are
// about 10% above the measured RMS error relative to the bounding-box diagonal of data.
TEST(CotanCoders, DecodingReproducesSmoothData) {
  struct Case {
    const char* name;
    Mesh mesh;
    float q;
    double bound[3];  // methods 3, 4, 5
  };
  const Case cases[] = {
      // measured: 1.289e-3, 3.037e-4, 6.585e-4
      {"torus 2400", testing::gridTorus(60, 40), 0.01f, {1.42e-3, 3.35e-4, 7.25e-4}},
      // measured: 1.785e-3, 3.228e-4, 7.228e-4
      {"sphere 1202", testing::uvSphere(30, 40), 0.01f, {1.97e-3, 3.55e-4, 7.95e-4}},
      // measured: 2.245e-5, 6.116e-6, 1.003e-5
      {"genus 2 plate", testing::holedPlate(2, 6), 0.001f, {2.47e-5, 6.7e-6, 1.1e-5}},
  };
  for (const auto& c : cases) {
    const int n = static_cast<int>(c.mesh.getVertices().rows());
    const AnchorList anchors = c.mesh.computeAnchors3(20);
    const Eigen::MatrixXd data = testing::smoothColumns(c.mesh.getVertices());
    const TriangleList decoderTris = testing::decoderTriangles(c.mesh.getTriangles());
    for (int method : {3, 4, 5}) {
      Eigen::MatrixXd shape = c.mesh.getVertices();
      const std::string bytes =
          testing::encodeCotan(method, c.mesh.getTriangles(), data, shape, c.q, anchors);
      const Eigen::MatrixXd X = testing::decodeCotan(method, decoderTris, bytes, c.q, n, 4);
      EXPECT_LT(testing::rmsRelativeError(data, X), c.bound[method - 3])
          << c.name << ", method " << method;
    }
  }
}

// An octahedron stream of two columns whose shape pass codes `shape` with the anchors
// {5, 1}, followed by the given anchor list and data blocks of the right length, the
// last one shortBy entries short.
std::string craftedStream(int method, const Mesh& mesh, Eigen::MatrixXd shape,
                          const AnchorList& second, int shortBy) {
  std::stringstream s = binaryStream();
  AnchorList shapeAnchors{5, 1};
  const int a = static_cast<int>(second.size());
  if (method == 4) {
    NewLaplace::encode(mesh.getTriangles(), shape, s, 0.01f, 6, shapeAnchors, false);
    ArithCoder::encode(second, s, false);
    ArithCoder::encode(std::vector<int>(2 * a, 1), s, true);
  } else {
    Laplace::encode(mesh.getTriangles(), shape, s, 0.01f, 6, shapeAnchors, false);
    ArithCoder::encode(second, s, false);
  }
  const int rows = method == 4 ? 6 - a : 6 + a;
  ArithCoder::encode(std::vector<int>(rows, 0), s, true);
  ArithCoder::encode(std::vector<int>(rows - shortBy, 0), s, true);
  return s.str();
}

TEST(CotanCoders, DecoderRejectsCorruptStreams) {
  const Mesh mesh = testing::octahedron();
  const Eigen::MatrixXd data = testing::smoothColumns(mesh.getVertices()).leftCols(2);
  const Eigen::MatrixXd& V = mesh.getVertices();
  struct Case {
    const char* name;
    Eigen::MatrixXd shape;
    AnchorList second;
    int shortBy;
  };
  const Case cases[] = {
      {"anchor beyond the vertices", V, {5, 6}, 0},
      {"anchor far beyond the vertices", V, {5, 2000000000}, 0},
      {"repeated anchor", V, {5, 5}, 0},
      {"no anchor", V, {}, 0},
      {"last block one entry short", V, {5, 1}, 1},
      {"reference shape at one point: no angles", Eigen::MatrixXd::Zero(6, 3), {5, 1}, 0},
  };
  for (int method : {3, 4, 5}) {
    for (const auto& c : cases) {
      const std::string bytes = craftedStream(method, mesh, c.shape, c.second, c.shortBy);
      EXPECT_THROW(testing::decodeCotan(method, mesh.getTriangles(), bytes, 0.01f, 6, 2),
                   CorruptStream)
          << "method " << method << ": " << c.name;
    }
    Eigen::MatrixXd shape = V;
    const std::string bytes =
        testing::encodeCotan(method, mesh.getTriangles(), data, shape, 0.01f, {5, 1});
    for (size_t len = 0; len < bytes.size(); ++len) {
      EXPECT_THROW(
          testing::decodeCotan(method, mesh.getTriangles(), bytes.substr(0, len), 0.01f, 6, 2),
          CorruptStream)
          << "method " << method << ", " << len << " bytes";
    }
  }
}

// A reference shape that reconstructs to a single point has no angles, and non-finite
// inputs would be rounded into the stream as some index: all are refused before anything
// is written.
TEST(CotanCoders, EncoderRefusesDegenerateAndNonFiniteInputs) {
  const Mesh mesh = testing::octahedron();
  const Eigen::MatrixXd data = testing::smoothColumns(mesh.getVertices());
  Eigen::MatrixXd nanData = data, infShape = mesh.getVertices();
  nanData(3, 2) = std::numeric_limits<double>::quiet_NaN();
  infShape(2, 0) = std::numeric_limits<double>::infinity();
  const std::pair<Eigen::MatrixXd, Eigen::MatrixXd> cases[] = {
      {data, Eigen::MatrixXd::Zero(6, 3)}, {nanData, mesh.getVertices()}, {data, infShape}};
  for (int method : {3, 4, 5}) {
    for (const auto& [values, reference] : cases) {
      Eigen::MatrixXd shape = reference;
      std::stringstream s = binaryStream();
      EXPECT_THROW(
          testing::encodeCotanInto(s, method, mesh.getTriangles(), values, shape, 0.01f, {5, 1}),
          OutOfDomain)
          << "method " << method;
      EXPECT_TRUE(s.str().empty()) << "method " << method;
    }
  }
}

}  // namespace
}  // namespace meshcodec
