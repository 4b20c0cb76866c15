#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <sstream>
#include <string>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/DataDependentLaplace.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

using DDL = DataDependentLaplace;
using RowMajor = DDL::RowMajorMatrix;

// Standard output redirected while alive; notes how far the code stream had grown
// when the first character was printed.
class PrintSpy : public std::stringbuf {
 public:
  explicit PrintSpy(const std::stringstream& code) : code(code), saved(std::cout.rdbuf(this)) {}
  ~PrintSpy() override { std::cout.rdbuf(saved); }
  size_t codeBytesAtFirstPrint = std::string::npos;

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (codeBytesAtFirstPrint == std::string::npos) codeBytesAtFirstPrint = code.str().size();
    return std::stringbuf::xsputn(s, n);
  }

 private:
  const std::stringstream& code;
  std::streambuf* saved;
};

std::string arithBlock(const std::vector<int>& values, bool withSign) {
  std::stringstream s;
  ArithCoder::encode(values, s, withSign);
  return s.str();
}

// Vertices without edges: no weight to fit, L = I over the vertices other than the
// first anchor (1, in the middle: vertices 2 and 3 move up a row), so each index is
// its value quantized, halves away from zero. The line is printed once, after the
// anchor block and before the correction blocks.
TEST(DataDependentLaplace, IdentityLaplacianStreamAndDiagnostics) {
  RowMajor data(4, 2);
  data << 0.5, -0.5,  //
      9.0, 9.0,       // the held anchor: not coded
      0.0, 0.25,      //
      -1.5, 2.4999;
  const Eigen::MatrixXd shape = Eigen::MatrixXd::Random(4, 3);
  const AnchorList anchors{1, 3};
  std::stringstream s;
  std::string printed;
  size_t codeBytesAtPrint;
  {
    PrintSpy spy(s);
    DDL::encode({}, data, shape, s, 1.0f, 4, anchors);
    printed = spy.str();
    codeBytesAtPrint = spy.codeBytesAtFirstPrint;
  }
  const std::string anchorBlock = arithBlock({1, 3}, false);
  EXPECT_EQ(s.str(), anchorBlock + arithBlock({1, 0, -2}, true) + arithBlock({-1, 0, 2}, true));
  EXPECT_EQ(codeBytesAtPrint, anchorBlock.size());
  // Errors 0.25 + 0.25 and 0.25 + 0.0625 + 0.2499^2 alike for both; entropies 2 ln 3.
  EXPECT_EQ(printed, "1.0624\t1.0624\t2.19722\t2.19722\n");
}

TEST(DataDependentLaplace, LoneAnchorCodesEmptyBlocks) {
  RowMajor data(1, 3);
  data << 1, 2, 3;
  std::stringstream s;
  ::testing::internal::CaptureStdout();
  DDL::encode({}, data, Eigen::MatrixXd::Zero(1, 3), s, 0.1f, 1, {0});
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "0\t0\t0\t0\n");
  const std::string empty = arithBlock({}, true);
  EXPECT_EQ(s.str(), arithBlock({0}, false) + empty + empty + empty);
}

TEST(DataDependentLaplace, EntropySum) {
  EXPECT_EQ(DDL::entropySum({{7, 7, 7}}), 0.0);
  EXPECT_DOUBLE_EQ(DDL::entropySum({{1, 2}}), std::log(2.0));
  EXPECT_DOUBLE_EQ(DDL::entropySum({{}, {1, 2}, {3, 3}}), std::log(2.0));
  EXPECT_DOUBLE_EQ(DDL::entropySum({{1, 2, 2, 2}}), -0.25 * std::log(0.25) - 0.75 * std::log(0.75));
}

// The residual of a vertex: a free edge adds (j, 1) to its own composition; a selected
// edge adds (j, coefficient) to each of its rule's terms and (j, -constant) to the base.
TEST(DataDependentLaplace, ResidualCompositions) {
  NeighborTable neighbors(4);
  buildNeighborsTable(testing::tetrahedron().getTriangles(), neighbors);  // 0: (2, 1, 3)
  using Terms = std::vector<std::pair<int, double>>;
  DDL::RuleMap rules;
  for (int withRule : {0, 1}) {
    if (withRule) {  // w02 = 1 - 0.5 w03
      rules[Line(0, 2, false)].coefficients[Line(0, 3, false)] = -0.5;
      rules[Line(0, 2, false)].constant = 1.0;
    }
    const DDL::FreeEdgeIndex index = DDL::numberFreeEdges(neighbors, rules);
    std::vector<CoefficientComposition> base;
    DDL::CompositionMap comps;
    DDL::residualOf(0, neighbors, rules, index, base, comps);
    const auto listOf = [&](int j) {
      Terms out;
      for (const auto& c : comps.at(index.find(Line(0, j, false))->second))
        out.emplace_back(c.index, c.coefficient);
      return out;
    };
    Terms baseTerms;
    for (const auto& c : base) baseTerms.emplace_back(c.index, c.coefficient);
    EXPECT_EQ(comps.size(), withRule ? 2u : 3u);
    EXPECT_EQ(listOf(1), (Terms{{1, 1.0}}));
    if (withRule) {
      EXPECT_EQ(baseTerms, (Terms{{0, 1.0}, {2, -1.0}}));
      EXPECT_EQ(listOf(3), (Terms{{2, -0.5}, {3, 1.0}}));
    } else {
      EXPECT_EQ(baseTerms, (Terms{{0, 1.0}}));
      EXPECT_EQ(listOf(2), (Terms{{2, 1.0}}));
      EXPECT_EQ(listOf(3), (Terms{{3, 1.0}}));
    }
  }
}

double residual(const NeighborTable& neighbors, const DDL::NeighborWeights& w, const RowMajor& P) {
  double total = 0.0;
  for (size_t i = 0; i < neighbors.size(); ++i) {
    Eigen::RowVectorXd r = P.row(i);
    for (size_t k = 0; k < neighbors[i].size(); ++k) r -= w[i][k] * P.row(neighbors[i][k]);
    total += r.squaredNorm();
  }
  return total;
}

// On a torus every vertex has degree 6, so 1/6 everywhere is symmetric and sums to 1:
// the fitted weights, which minimise the residual over all such assignments, must do
// at least as well, and they keep the constraint.
TEST(DataDependentLaplace, FittedWeightsBeatUniformWeights) {
  Mesh mesh = testing::gridTorus(9, 13);
  testing::addNoise(mesh, 0.02);
  const int n = static_cast<int>(mesh.getVertices().rows());
  NeighborTable neighbors(static_cast<size_t>(n));
  buildNeighborsTable(mesh.getTriangles(), neighbors);
  DDL::RuleMap rules;
  DDL::selectUnknowns(neighbors, rules);
  const RowMajor P = mesh.getVertices();
  const DDL::NeighborWeights fitted = DDL::fitEdgeWeights(neighbors, rules, P);
  DDL::NeighborWeights uniform(static_cast<size_t>(n), std::vector<double>(6, 1.0 / 6));
  EXPECT_LT(residual(neighbors, fitted, P), 0.9 * residual(neighbors, uniform, P));
  for (int i = 0; i < n; ++i) {
    double sum = 0.0;
    for (double w : fitted[i]) sum += w;
    ASSERT_NEAR(sum, 1.0, 1e-9) << i;
  }
}

// On a sphere: one block of n - 1 indices per column after the full anchor list; L is
// symmetric; corrected quantization reconstructs better than plain quantization of the
// Laplacian rows.
TEST(DataDependentLaplace, SphereStreamAndCorrectedError) {
  Mesh mesh = testing::uvSphere(12, 17);
  testing::addNoise(mesh, 0.01);
  const int n = static_cast<int>(mesh.getVertices().rows());
  const AnchorList anchors = drawAnchors(n, 20);
  RowMajor data(n, 4);
  for (int i = 0; i < n; ++i) {
    const auto p = mesh.getVertices().row(i);
    data.row(i) << p(0), p(1) * p(2), std::sin(3 * p(0)), 0.5 * p(2);
  }
  const DDL coder(mesh.getTriangles(), mesh.getVertices(), anchors, n);
  const Eigen::SparseMatrix<double>& L = coder.getL();
  EXPECT_EQ((Eigen::MatrixXd(L) - Eigen::MatrixXd(L.transpose())).cwiseAbs().maxCoeff(), 0.0);
  // Row sums are 0 except at the neighbours of the held anchor, whose weight is missing.
  const Eigen::VectorXd rowSums = L * Eigen::VectorXd::Ones(n - 1);
  EXPECT_EQ((rowSums.array().abs() > 1e-9).count(), 6);

  std::stringstream s;
  ::testing::internal::CaptureStdout();
  DDL::encode(mesh.getTriangles(), data, mesh.getVertices(), s, 0.01f, n, anchors);
  std::istringstream line(::testing::internal::GetCapturedStdout());
  double err1, err2, e1, e2;
  line >> err1 >> err2 >> e1 >> e2;
  ASSERT_FALSE(line.fail());
  EXPECT_LT(err1, err2);
  EXPECT_GT(e1, 0.0);

  EXPECT_EQ(ArithCoder::decode(s, false), anchors);
  for (int c = 0; c < 4; ++c)
    EXPECT_EQ(ArithCoder::decode(s, true).size(), static_cast<size_t>(n - 1));
  EXPECT_EQ(s.peek(), std::char_traits<char>::eof());
}

// Inputs the coder refuses, each before a byte is written or a line printed. On the
// 10 x 10 sphere the fitted weights (some negative) make L indefinite.
TEST(DataDependentLaplace, RefusedInputsWriteNothing) {
  const Mesh octahedron = testing::octahedron(), sphere = testing::uvSphere(10, 10);
  const Eigen::MatrixXd shape = octahedron.getVertices();
  const RowMajor data = RowMajor::Ones(6, 2);
  Eigen::MatrixXd nanShape = shape;
  nanShape(2, 1) = NAN;
  RowMajor infData = data;
  infData(0, 0) = INFINITY;
  struct Case {
    const char* name;
    const Mesh& mesh;
    RowMajor data;
    Eigen::MatrixXd shape;
    AnchorList anchors;
    ErrorKind kind;
  };
  const Case cases[] = {
      {"no anchor", octahedron, data, shape, {}, ErrorKind::Misuse},
      {"anchor out of range", octahedron, data, shape, {6}, ErrorKind::Misuse},
      {"short shape", octahedron, data, shape.topRows(5), {0}, ErrorKind::Misuse},
      {"short data", octahedron, data.topRows(5), shape, {0}, ErrorKind::Misuse},
      {"nan shape", octahedron, data, nanShape, {0}, ErrorKind::OutOfDomain},
      {"infinite data", octahedron, infData, shape, {0}, ErrorKind::OutOfDomain},
      // Every vertex at one point: nothing determines the free weights.
      {"singular fit", octahedron, data, Eigen::MatrixXd::Ones(6, 3), {0}, ErrorKind::OutOfDomain},
      {"indefinite",
       sphere,
       RowMajor::Ones(102, 2),
       sphere.getVertices(),
       {0},
       ErrorKind::OutOfDomain},
  };
  for (const Case& cs : cases) {
    std::stringstream s;
    ::testing::internal::CaptureStdout();
    try {
      const int n = static_cast<int>(cs.mesh.getVertices().rows());
      DDL::encode(cs.mesh.getTriangles(), cs.data, cs.shape, s, 0.1f, n, cs.anchors);
      ADD_FAILURE() << cs.name << ": accepted";
    } catch (const CodecError& e) {
      EXPECT_EQ(e.kind(), cs.kind) << cs.name << ": " << e.what();
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << cs.name;
    EXPECT_EQ(s.str(), "") << cs.name;
  }
}

}  // namespace
}  // namespace meshcodec
