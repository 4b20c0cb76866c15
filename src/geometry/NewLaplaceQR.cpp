#include "geometry/NewLaplaceQR.hpp"

#include <iostream>
#include <string>

#include <Eigen/OrderingMethods>
#include <Eigen/SparseQR>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/ColumnBlocks.hpp"
#include "geometry/CorrectedQuantization.hpp"
#include "geometry/Quantizer.hpp"

namespace meshcodec {

namespace {

using QrSolver = Eigen::SparseQR<Eigen::SparseMatrix<double>, Eigen::NaturalOrdering<int>>;

// The neighbour table is needed only while L is built.
FreeVertexLaplacian buildSystem(const TriangleList& tris, int n, const AnchorList& anchors) {
  if (n < 0) throw Misuse("geometry: vertex count " + std::to_string(n));
  NeighborTable neighbors(static_cast<size_t>(n));
  NewLaplaceQR::buildNeighborsTable(tris, neighbors);
  return FreeVertexLaplacian(neighbors, anchors);
}

// L Pc = Q U. A rank-deficient L is not a failure here: the factorization sets the
// dependent columns aside and reports success.
template <typename Error>
void factorOrThrow(QrSolver& solver, const Eigen::SparseMatrix<double>& L) {
  solver.analyzePattern(L);
  solver.factorize(L);
  if (solver.info() != Eigen::Success) {
    throw Error("geometry: the QR factorization of the " + std::to_string(L.rows()) +
                " free vertices' Laplacian failed: " + solver.lastErrorMessage());
  }
}

// solve(Pc R): for a non-singular L the X with L X = Pc R, so that T (Q^T X) = R.
template <typename Error>
Eigen::MatrixXd solveFactorOrder(const QrSolver& solver, const Eigen::MatrixXd& R) {
  Eigen::MatrixXd X = solver.solve(solver.colsPermutation() * R);
  if (!X.allFinite()) {
    throw Error("geometry: the QR solve for the " + std::to_string(X.rows()) +
                " free vertices is not finite");
  }
  return X;
}

}  // namespace

NewLaplaceQR::NewLaplaceQR(const TriangleList& tris, int n, const AnchorList& anchors)
    : system(buildSystem(tris, n, anchors)) {}

void NewLaplaceQR::encode(const TriangleList& tris, Eigen::MatrixXd& V, std::iostream& s, float q,
                          int n, const AnchorList& anchors, bool writeBack) {
  if (V.rows() != n) {
    throw Misuse("geometry: matrix of " + std::to_string(V.rows()) + " rows for " +
                 std::to_string(n) + " vertices");
  }
  writeAnchorBlocks(V, anchors, q, writeBack, s);
  const NewLaplaceQR coder(tris, n, anchors);
  coder.encode(V, s, q, writeBack);
}

Eigen::MatrixXd NewLaplaceQR::decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                     int cols) {
  if (n < 0 || cols < 0) {
    throw CorruptStream("geometry: " + std::to_string(n) + " vertices of " + std::to_string(cols) +
                        " columns");
  }
  const AnchorBlocks blocks = readAnchorBlocks(s, n, cols);
  const int m = n - static_cast<int>(blocks.anchors.size());
  const Eigen::MatrixXd R =
      readDequantizedColumns(s, q, m, cols);

  const NewLaplaceQR coder(tris, n, blocks.anchors);
  std::cout << n << "\n";
  Eigen::MatrixXd W = Eigen::MatrixXd::Zero(n, cols);
  placeAnchorRows(blocks, q, W);
  coder.system.scatterFreeRows(coder.getCoefficients(R), W);
  return W;
}

void NewLaplaceQR::encode(Eigen::MatrixXd& V, std::iostream& s, float q, bool writeBack) const {
  for (const std::vector<int>& column : getCorrections(V, q, writeBack)) {
    ArithCoder::encode(column, s, true);
  }
}

std::vector<std::vector<int>> NewLaplaceQR::getCorrections(Eigen::MatrixXd& V, float q,
                                                           bool writeBack) const {
  Eigen::MatrixXd Vf = system.gatherFreeRows(V);
  if (system.freeCount() == 0) return std::vector<std::vector<int>>(V.cols());

  QrSolver solver;
  factorOrThrow<OutOfDomain>(solver, system.getL());
  // T = U^T, lower triangular, walked row by row: row i of T is column i of the
  // column-major U, so T is laid over U's arrays instead of copied.
  const auto& U = solver.matrixR();
  const Eigen::Map<const RowMajorSparse> T(U.cols(), U.rows(), U.nonZeros(), U.outerIndexPtr(),
                                           U.innerIndexPtr(), U.valuePtr(), U.innerNonZeroPtr());
  // L is symmetric, so T Y = Pc^T L Vf: the free rows' Laplacian in factor order.
  Eigen::MatrixXd Y = solver.matrixQ().transpose() * Vf;

  std::vector<std::vector<int>> out;
  Eigen::MatrixXd R;
  // No guard: a zero pivot belongs to a column set aside as rank-deficient, whose row
  // of Y no later row reads.
  correctedQuantization(
      T, q, [q](int k) { return dequantize(k, q); }, acceptEveryPivot, Y, out, R);
  if (writeBack) system.scatterFreeRows(solveFactorOrder<OutOfDomain>(solver, R), V);
  return out;
}

Eigen::MatrixXd NewLaplaceQR::getCoefficients(const Eigen::MatrixXd& R) const {
  if (R.rows() != system.freeCount()) {
    throw Misuse("geometry: " + std::to_string(R.rows()) + " dequantized rows for " +
                 std::to_string(system.freeCount()) + " free vertices");
  }
  if (system.freeCount() == 0) return Eigen::MatrixXd(0, R.cols());
  QrSolver solver;
  factorOrThrow<CorruptStream>(solver, system.getL());
  return solveFactorOrder<CorruptStream>(solver, R);
}

}  // namespace meshcodec
