// Behaviour that the two corrected-quantization coders (method 0 and static method 3)
// share: safe decoding of malformed streams, the degenerate anchor lists, and
// write-back and accuracy on generated closed meshes of 10^3 to 10^4 vertices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include <Eigen/SparseCholesky>

#include "NewLaplaceTesting.hpp"
#include "common/CodecError.hpp"
#include "geometry/NewLaplace.hpp"
#include "geometry/NewLaplaceQR.hpp"
#include "geometry/Quantizer.hpp"
#include "geometry/ReconstructionOffset.hpp"
#include "mesh/Mesh.hpp"
#include "support/ErrorMetrics.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

const Mesh& meshNamed(const std::string& name) {
  static std::map<std::string, Mesh> cache;
  static const std::map<std::string, std::function<Mesh()>> makers = {
      {"sphere_1026", [] { return testing::uvSphere(32, 32); }},
      {"torus_1000", [] { return testing::gridTorus(40, 25); }},
      {"plate3_1056", [] { return testing::holedPlate(3, 5); }},
      {"sphere_10002", [] { return testing::uvSphere(100, 100); }},
      {"torus_10000", [] { return testing::gridTorus(125, 80); }},
      {"plate3_9724", [] { return testing::holedPlate(3, 16); }},
  };
  auto it = cache.find(name);
  if (it == cache.end()) it = cache.emplace(name, makers.at(name)()).first;
  return it->second;
}

// One anchor per thousand vertices, as the static pipeline draws them, and a step of
// 0.01 average edge lengths.
AnchorList anchorsOf(const Mesh& mesh) {
  const auto n = mesh.getVertices().rows();
  return drawAnchors(n, static_cast<int>(n / 1000));
}
float stepOf(const Mesh& mesh) { return 0.01f * mesh.avgEL(); }

// cols smooth per-vertex columns: x, y, z, then two products of them, as PCA
// coefficients of a smooth animation might look.
Eigen::MatrixXd columnsOf(const Mesh& mesh, int cols) {
  const Eigen::MatrixXd& P = mesh.getVertices();
  Eigen::MatrixXd V(P.rows(), cols);
  for (int c = 0; c < cols; ++c) {
    if (c < 3) V.col(c) = P.col(c);
    if (c == 3) V.col(c) = P.col(0).cwiseProduct(P.col(1)) + P.col(2);
    if (c == 4) V.col(c) = (3.0 * P.col(0)).array().sin() * 0.5;
  }
  return V;
}

std::string encodeWith(int method, const Mesh& mesh, Eigen::MatrixXd& V, bool writeBack) {
  return testing::encodeMethod(method, mesh.getTriangles(), V, stepOf(mesh), anchorsOf(mesh), writeBack);
}

Eigen::MatrixXd decodeWith(int method, const Mesh& mesh, const std::string& bytes, int cols) {
  const int n = static_cast<int>(mesh.getVertices().rows());
  return testing::decodeMethod(method, mesh.getTriangles(), bytes, stepOf(mesh), n, cols);
}

// Method 0's sub-stream starts with lambda; otherwise the two layouts agree.
std::string headOf(int method) { return method == 0 ? testing::floatBytes(3.0f) : ""; }

TEST(NewLaplaceCoders, DecodePrintsTheVertexCount) {
  const Mesh mesh = testing::uvSphere(3, 5);
  for (int method : {0, 3}) {
    Eigen::MatrixXd V = mesh.getVertices();
    const std::string bytes = testing::encodeMethod(method, mesh.getTriangles(), V, 0.05f, {3}, false);
    std::string printed;
    testing::decodeMethod(method, mesh.getTriangles(), bytes, 0.05f, 17, 3, &printed);
    EXPECT_EQ(printed, "17\n") << "method " << method;
  }
}

TEST(NewLaplaceCoders, MalformedStreamsAreCorrupt) {
  const Mesh sphere = testing::uvSphere(3, 5);  // 17 vertices
  using testing::arithBlock;
  const std::string anchors = arithBlock({3, 7}, false);
  const std::string coords = arithBlock({1, 2, 3, 4, 5, 6}, true);
  const std::string full = arithBlock(std::vector<int>(15, 1), true);
  struct Case {
    const char* name;
    std::string body;  // after method 0's lambda
    const char* reason;
  };
  const Case cases[] = {
      {"anchor out of range", arithBlock({17}, false) + arithBlock({0, 0, 0}, true), "vertex 17"},
      {"anchor repeated", arithBlock({3, 3}, false), "repeats vertex 3"},
      {"short coordinate block", anchors + arithBlock({1, 2, 3}, true),
       "anchor coordinate block holds 3 entries, 6 needed"},
      {"short free-row block", anchors + coords + full + arithBlock(std::vector<int>(14, 1), true),
       "block of column 1 holds 14 entries, 15 needed"},
      {"more anchors than vertices", arithBlock(std::vector<int>(18, 1), false),
       "anchor block holds 18 entries, more than the 17 vertices"},
      {"missing free-row block", anchors + coords + full + full, ""},
  };
  for (int method : {0, 3}) {
    for (const Case& cs : cases) {
      SCOPED_TRACE(std::string(cs.name) + ", method " + std::to_string(method));
      try {
        testing::decodeMethod(method, sphere.getTriangles(), headOf(method) + cs.body, 0.05f, 17, 3);
        ADD_FAILURE() << "decoded";
      } catch (const CorruptStream& e) {
        EXPECT_NE(std::string(e.what()).find(cs.reason), std::string::npos) << e.what();
      }
    }
    EXPECT_THROW(testing::decodeMethod(method, sphere.getTriangles(), headOf(method) + anchors + coords,
                                       0.05f, -1, 3),
                 CorruptStream);
  }
  for (const std::string& noLambda : {std::string(), std::string("abc")}) {
    EXPECT_THROW(testing::decodeMethod(0, sphere.getTriangles(), noLambda, 0.05f, 17, 3), CorruptStream);
  }
}

TEST(NewLaplaceCoders, EveryTruncatedPrefixIsCorrupt) {
  const Mesh mesh = testing::uvSphere(3, 5);
  for (int method : {0, 3}) {
    Eigen::MatrixXd V = mesh.getVertices();
    const std::string bytes = testing::encodeMethod(method, mesh.getTriangles(), V, 0.05f, {3, 7}, false);
    for (size_t len = 0; len < bytes.size(); ++len) {
      EXPECT_THROW(testing::decodeMethod(method, mesh.getTriangles(), bytes.substr(0, len), 0.05f, 17, 3),
                   CorruptStream)
          << "method " << method << ", prefix of " << len << " bytes";
    }
  }
}

// A mesh too small for an anchor (under 1000 vertices): two empty blocks (after method
// 0's lambda). The singular system is not refused up front. The QR sets a column
// aside; the LDLT meets either an exact zero pivot (OutOfDomain, after the blocks) or
// a tiny one, which the guard skips. Whatever is decoded equals the write-back.
TEST(NewLaplaceCoders, EmptyAnchorListWritesTwoEmptyBlocks) {
  const std::string emptyBlock("\0\0\0\0\4\0\0\0\0\0\0\0", 12);
  for (const Mesh& mesh : {testing::uvSphere(3, 5), testing::tetrahedron()}) {
    for (int method : {0, 3}) {
      SCOPED_TRACE(std::to_string(mesh.getVertices().rows()) + " vertices, method " + std::to_string(method));
      const int n = static_cast<int>(mesh.getVertices().rows());
      Eigen::MatrixXd V = mesh.getVertices();
      std::stringstream s;
      bool refused = false;
      try {
        if (method == 0) NewLaplace::encode(mesh.getTriangles(), V, s, 0.01f, n, {}, true);
        else NewLaplaceQR::encode(mesh.getTriangles(), V, s, 0.01f, n, {}, true);
      } catch (const OutOfDomain&) {
        if (method != 0) throw;
        refused = true;
      }
      const std::string bytes = s.str();
      const size_t head = method == 0 ? 4 : 0;
      ASSERT_GE(bytes.size(), head + 24);
      EXPECT_EQ(bytes.substr(head, 24), emptyBlock + emptyBlock);
      if (refused) continue;
      const Eigen::MatrixXd W = testing::decodeMethod(method, mesh.getTriangles(), bytes, 0.01f, n, 3);
      EXPECT_TRUE(W.allFinite());
      EXPECT_TRUE((W.array() == V.array()).all());
    }
  }
}

TEST(NewLaplaceCoders, EveryVertexAnAnchorLeavesNoFreeRows) {
  const Mesh mesh = testing::tetrahedron();
  for (int method : {0, 3}) {
    Eigen::MatrixXd V = mesh.getVertices();
    const std::string bytes = testing::encodeMethod(method, mesh.getTriangles(), V, 0.1f, {2, 0, 3, 1}, true);
    EXPECT_EQ(testing::decodeMethod(method, mesh.getTriangles(), bytes, 0.1f, 4, 3), V);
  }
}

struct Case {
  int method;
  std::string mesh;
  int cols;
};

std::string nameOf(const Case& cs) {
  return "method " + std::to_string(cs.method) + ", " + cs.mesh + ", " + std::to_string(cs.cols) +
         " columns";
}

// With writeBack, V holds bit for bit what the decoder returns from the bytes. The
// bytes do not depend on writeBack, and without it V is untouched (checked where a
// second encode is cheap: the QR factorization of 10^4 vertices is not).
void checkWriteBack(const Case& cs) {
  SCOPED_TRACE(nameOf(cs));
  const Mesh& mesh = meshNamed(cs.mesh);
  const Eigen::MatrixXd original = columnsOf(mesh, cs.cols);
  Eigen::MatrixXd written = original;
  const std::string bytes = encodeWith(cs.method, mesh, written, true);
  if (cs.method == 0 || mesh.getVertices().rows() < 5000) {
    Eigen::MatrixXd untouched = original;
    EXPECT_EQ(encodeWith(cs.method, mesh, untouched, false), bytes);
    EXPECT_TRUE((untouched.array() == original.array()).all());
  }

  const Eigen::MatrixXd decoded = decodeWith(cs.method, mesh, bytes, cs.cols);
  ASSERT_EQ(decoded.rows(), written.rows());
  ASSERT_EQ(decoded.cols(), written.cols());
  EXPECT_EQ(std::memcmp(decoded.data(), written.data(), sizeof(double) * decoded.size()), 0);
  EXPECT_FALSE((written.array() == original.array()).all());
}

TEST(NewLaplaceCoders, WriteBackEqualsDecoderOutputMethod0) {
  for (const Case& cs : {Case{0, "sphere_10002", 1}, Case{0, "torus_10000", 3},
                         Case{0, "plate3_9724", 5}}) {
    checkWriteBack(cs);
  }
}

// Three columns at 10^4 vertices: the accuracy cases below, which write back too.
TEST(NewLaplaceCoders, WriteBackEqualsDecoderOutputMethod3) {
  for (const Case& cs : {Case{3, "sphere_10002", 1}, Case{3, "plate3_1056", 3},
                         Case{3, "torus_1000", 5}}) {
    checkWriteBack(cs);
  }
}

// RMS error of the decoded positions, in steps relative to the bounding-box diagonal.
// Measured: at most 0.37 for method 0 and 0.28 for method 3 on these meshes (one
// coordinate's uniform rounding alone would give 0.29, three give 0.5). Sending the
// same rows quantized without the correction lands between 1.2 and 10.5 steps, so the
// bound of half a step also catches a missed or misdirected correction.
constexpr double kBoundInSteps = 0.5;

double rmsInSteps(const Mesh& mesh, const Eigen::MatrixXd& decoded) {
  const double step = stepOf(mesh) / testing::boundingBoxDiagonal(mesh.getVertices());
  return testing::rmsRelativeError(mesh.getVertices(), decoded) / step;
}

// What the decoder would return if the encoder quantized the rows of the transform
// independently: the factor's rows of L Vf (in the LDLT's order for method 0, in
// vertex order for the QR), dequantized and solved like the decoder does.
Eigen::MatrixXd decodedWithoutCorrection(int method, const Mesh& mesh) {
  const Eigen::MatrixXd& V = mesh.getVertices();
  const int n = static_cast<int>(V.rows());
  const float q = stepOf(mesh);
  const AnchorList anchors = anchorsOf(mesh);
  Eigen::MatrixXd W = V;
  for (int a : anchors) {
    for (int c = 0; c < 3; ++c) W(a, c) = dequantize(quantizeFloatQuotient(V(a, c), q), q);
  }
  if (method == 0) {
    const NewLaplace coder(mesh.getTriangles(), n, anchors);
    const auto& L = coder.getSystem().getL();
    const double off = reconstructionOffset(q, coder.getLambda(V, n));
    const Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::AMDOrdering<int>> ldlt(L);
    Eigen::MatrixXd R = ldlt.permutationP() * (L * coder.getSystem().gatherFreeRows(V));
    R = R.unaryExpr([&](double x) { return dequantizeWithOffset(quantize(x, q), q, off); });
    coder.getSystem().scatterFreeRows(coder.getCoefficients(R), W);
  } else {
    const NewLaplaceQR coder(mesh.getTriangles(), n, anchors);
    Eigen::MatrixXd R = coder.getSystem().getL() * coder.getSystem().gatherFreeRows(V);
    R = R.unaryExpr([&](double x) { return dequantize(quantize(x, q), q); });
    coder.getSystem().scatterFreeRows(coder.getCoefficients(R), W);
  }
  return W;
}

// Encodes with write-back, so every case also checks the write-back of 3 columns.
void checkAccuracy(const Case& cs) {
  SCOPED_TRACE(nameOf(cs));
  const Mesh& mesh = meshNamed(cs.mesh);
  Eigen::MatrixXd V = mesh.getVertices();
  const Eigen::MatrixXd decoded = decodeWith(cs.method, mesh, encodeWith(cs.method, mesh, V, true), 3);
  EXPECT_TRUE((decoded.array() == V.array()).all());
  EXPECT_LE(rmsInSteps(mesh, decoded), kBoundInSteps);
  EXPECT_GT(rmsInSteps(mesh, decodedWithoutCorrection(cs.method, mesh)), kBoundInSteps);
}

TEST(NewLaplaceCoders, SmoothClosedMeshesDecodeWithinHalfAStepMethod0) {
  for (const char* mesh : {"sphere_1026", "torus_1000", "plate3_1056", "sphere_10002",
                           "torus_10000", "plate3_9724"}) {
    checkAccuracy({0, mesh, 3});
  }
}

TEST(NewLaplaceCoders, SmoothClosedMeshesDecodeWithinHalfAStepMethod3) {
  for (const char* mesh : {"sphere_1026", "torus_1000", "plate3_1056", "sphere_10002"}) {
    checkAccuracy({3, mesh, 3});
  }
}

}  // namespace
}  // namespace meshcodec
