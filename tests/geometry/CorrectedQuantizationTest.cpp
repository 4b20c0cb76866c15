#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <Eigen/SparseCholesky>

#include "common/CodecError.hpp"
#include "geometry/CorrectedQuantization.hpp"
#include "geometry/FreeVertexLaplacian.hpp"
#include "geometry/Quantizer.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

RowMajorSparse lowerTriangular(int m, const std::vector<Eigen::Triplet<double>>& entries) {
  RowMajorSparse T(m, m);
  T.setFromTriplets(entries.begin(), entries.end());
  return T;
}

double plain(int k) { return dequantize(k, 0.1f); }

// A chain T(i, i) = d, T(i, i-1) = -1: the decoder integrates the rows, so plain
// quantization would let the error of each row drift into all later ones. Corrected
// quantization keeps every row of the decoded transform within half a step / |d|.
TEST(CorrectedQuantization, ErrorStaysWithinHalfAStepOverThePivot) {
  struct Case {
    std::string name;
    double pivot;
  };
  for (const Case& cs : {Case{"unit", 1.0}, Case{"two", 2.0}, Case{"negative", -0.5}}) {
    SCOPED_TRACE(cs.name);
    const int m = 2000;
    std::vector<Eigen::Triplet<double>> entries;
    for (int i = 0; i < m; ++i) {
      entries.emplace_back(i, i, cs.pivot);
      if (i > 0) entries.emplace_back(i, i - 1, -1.0);
    }
    const RowMajorSparse T = lowerTriangular(m, entries);
    Eigen::MatrixXd Y(m, 2);
    for (int i = 0; i < m; ++i) Y.row(i) << std::sin(0.01 * i) * 3.0, 0.0137 * i;
    const Eigen::MatrixXd original = Y;

    std::vector<std::vector<int>> out;
    Eigen::MatrixXd R;
    correctedQuantization(T, 0.1f, plain, acceptEveryPivot, Y, out, R);

    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(out[1].size(), static_cast<size_t>(m));
    EXPECT_LT(((T * Y) - R).cwiseAbs().maxCoeff(), 1e-9);
    const double bound = 0.5 * 0.1 / std::abs(cs.pivot) + 1e-9;
    EXPECT_LE((Y - original).cwiseAbs().maxCoeff(), bound);
    for (int c = 0; c < 2; ++c) {
      for (int i = 0; i < m; ++i) ASSERT_EQ(R(i, c), plain(out[c][i])) << "row " << i;
    }
  }
}

// A pivot the guard rejects leaves its row of Y as it was; the row is still coded
// from the corrected rows above it, and later rows are corrected as usual.
TEST(CorrectedQuantization, RejectedPivotLeavesItsRowUnchanged) {
  for (double pivot : {1e-11, 0.0, std::numeric_limits<double>::quiet_NaN()}) {
    SCOPED_TRACE(pivot);
    const RowMajorSparse T = lowerTriangular(
        3, {{0, 0, 2.0}, {1, 0, 0.5}, {1, 1, pivot}, {2, 0, -1.0}, {2, 1, 1.0}, {2, 2, 3.0}});
    Eigen::MatrixXd Y(3, 1);
    Y << 0.123, 0.456, 0.789;
    std::vector<std::vector<int>> out;
    Eigen::MatrixXd R;
    correctedQuantization(
        T, 0.1f, plain, [](double d) { return std::abs(d) > 1e-10; }, Y, out, R);

    EXPECT_EQ(Y(1, 0), 0.456);
    EXPECT_NEAR(2.0 * Y(0, 0), R(0, 0), 1e-12);
    // Row 1 saw the corrected row 0 and its own unchanged value (a NaN pivot adds NaN,
    // which quantizes to 0).
    const double t1 = 0.5 * Y(0, 0) + pivot * 0.456;
    EXPECT_EQ(out[0][1], quantize(t1, 0.1f));
    EXPECT_NEAR(-Y(0, 0) + Y(1, 0) + 3.0 * Y(2, 0), R(2, 0), 1e-12);
  }
}

// A row without entries (a column that a rank-revealing factorization set aside):
// unguarded, its row of Y turns non-finite, it codes index 0, and rows that do not
// read it stay exact.
TEST(CorrectedQuantization, EmptyRowUnguardedCodesZeroAndSparesOtherRows) {
  const RowMajorSparse T = lowerTriangular(3, {{0, 0, 1.0}, {2, 0, 1.0}, {2, 2, 1.0}});
  Eigen::MatrixXd Y(3, 1);
  Y << 1.04, 7.0, 2.01;
  std::vector<std::vector<int>> out;
  Eigen::MatrixXd R;
  correctedQuantization(T, 0.1f, plain, acceptEveryPivot, Y, out, R);
  EXPECT_EQ(out[0][1], 0);
  EXPECT_FALSE(std::isfinite(Y(1, 0)));
  EXPECT_EQ(out[0][0], 10);
  EXPECT_NEAR(Y(0, 0) + Y(2, 0), R(2, 0), 1e-12);
}

// The column walk over an LDLT factor must code exactly what the row walk codes over
// the scaled row-major copy of that factor: indices, dequantized rows and corrected
// data alike, with every pivot accepted and with a guard that rejects some of them.
TEST(CorrectedQuantization, ColumnWalkOverLdltFactorMatchesRowWalkBitForBit) {
  using Ldlt =
      Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::AMDOrdering<int>>;
  for (const testing::NamedMesh& named : testing::closedMeshZoo()) {
    SCOPED_TRACE(named.name);
    const int n = static_cast<int>(named.mesh.getVertices().rows());
    NeighborTable neighbors(static_cast<size_t>(n));
    buildNeighborsTable(named.mesh.getTriangles(), neighbors);
    const FreeVertexLaplacian system(neighbors, {0});
    Ldlt solver(system.getL());
    ASSERT_EQ(solver.info(), Eigen::Success);
    RowMajorSparse T = solver.matrixL();
    for (Eigen::Index i = 0; i < T.outerSize(); ++i) {
      for (RowMajorSparse::InnerIterator it(T, i); it; ++it) it.valueRef() *= solver.vectorD()[it.col()];
    }
    const Eigen::MatrixXd data =
        solver.matrixU() * (solver.permutationP() * system.gatherFreeRows(named.mesh.getVertices()));
    const double median = solver.vectorD()[solver.vectorD().size() / 2];
    // The dequantizer of the step used: one of another step makes every correction
    // overshoot until the indices saturate, which both walks refuse.
    const Dequantizer fine = [](int k) { return dequantize(k, 0.01f); };
    const PivotGuard guards[] = {acceptEveryPivot, [median](double d) { return d < median; }};
    for (const PivotGuard& guard : guards) {
      Eigen::MatrixXd rowY = data, columnY = data, rowR, columnR;
      std::vector<std::vector<int>> rowOut, columnOut;
      correctedQuantization(T, 0.01f, fine, guard, rowY, rowOut, rowR);
      correctedQuantizationByColumns(solver.matrixL().nestedExpression(), solver.vectorD(), 0.01f,
                                     fine, guard, columnY, columnOut, columnR);
      EXPECT_EQ(rowOut, columnOut);
      EXPECT_TRUE(rowR.cwiseEqual(columnR).all());
      EXPECT_TRUE(rowY.cwiseEqual(columnY).all());
    }
  }
}

// 1e12 is 1e13 steps from zero: the index saturates, and both walks refuse the step
// before a caller solves with it.
TEST(CorrectedQuantization, RefusesASaturatedIndex) {
  std::vector<std::vector<int>> out;
  Eigen::MatrixXd R;
  Eigen::MatrixXd Y = Eigen::MatrixXd::Constant(2, 1, 1e12);
  const RowMajorSparse T = lowerTriangular(2, {{0, 0, 1.0}, {1, 1, 1.0}});
  EXPECT_THROW(correctedQuantization(T, 0.1f, plain, acceptEveryPivot, Y, out, R), StepTooSmall);
  Y << 0.0, -1e12;
  EXPECT_THROW(correctedQuantizationByColumns(Eigen::SparseMatrix<double>(2, 2), Eigen::VectorXd::Ones(2),
                                              0.1f, plain, acceptEveryPivot, Y, out, R),
               StepTooSmall);
}

TEST(CorrectedQuantization, RejectsShapesOutsideItsContract) {
  std::vector<std::vector<int>> out;
  Eigen::MatrixXd R;
  Eigen::MatrixXd Y = Eigen::MatrixXd::Ones(2, 1);
  const RowMajorSparse upper = lowerTriangular(2, {{0, 0, 1.0}, {0, 1, 1.0}, {1, 1, 1.0}});
  EXPECT_THROW(correctedQuantization(upper, 0.1f, plain, acceptEveryPivot, Y, out, R), Misuse);
  const RowMajorSparse three = lowerTriangular(3, {{0, 0, 1.0}});
  EXPECT_THROW(correctedQuantization(three, 0.1f, plain, acceptEveryPivot, Y, out, R), Misuse);

  Eigen::SparseMatrix<double> diagonal(2, 2);
  diagonal.insert(1, 1) = 1.0;
  const Eigen::VectorXd pivots = Eigen::VectorXd::Ones(2);
  EXPECT_THROW(correctedQuantizationByColumns(diagonal, pivots, 0.1f, plain, acceptEveryPivot, Y,
                                              out, R),
               Misuse);
  EXPECT_THROW(correctedQuantizationByColumns(Eigen::SparseMatrix<double>(2, 2),
                                              Eigen::VectorXd::Ones(3), 0.1f, plain,
                                              acceptEveryPivot, Y, out, R),
               Misuse);
}

}  // namespace
}  // namespace meshcodec
