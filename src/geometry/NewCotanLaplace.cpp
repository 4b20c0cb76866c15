#include "geometry/NewCotanLaplace.hpp"

#include <Eigen/SparseCholesky>
#include <iostream>
#include <sstream>
#include <string>

#include "common/CodecError.hpp"
#include "geometry/ColumnBlocks.hpp"
#include "geometry/CorrectedQuantization.hpp"
#include "geometry/NewLaplace.hpp"
#include "geometry/Quantizer.hpp"

namespace meshcodec {

namespace {

using LdltSolver =
    Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::AMDOrdering<int>>;

// A system that cannot be solved: the mesh's fault when encoding, the stream's when
// decoding.
[[noreturn]] void throwUnsolvable(CodingSide side, const std::string& reason) {
  if (side == CodingSide::Decoder) throw CorruptStream("geometry: " + reason);
  throw OutOfDomain("geometry: " + reason);
}

FreeVertexLaplacian cotanSystem(const TriangleList& tris, const ShapeRef& shape,
                                const AnchorList& anchors, int n, CodingSide side) {
  if (n < 0) throw Misuse("geometry: vertex count " + std::to_string(n));
  // Every row of the cotangent Laplacian sums to zero: without an anchor the free
  // system is singular, whatever rounding leaves of its last pivot.
  if (n > 0 && anchors.empty()) {
    throwUnsolvable(side, "no anchor vertex, so the cotangent system of the " + std::to_string(n) +
                              " free vertices is singular");
  }
  NeighborTable neighbors(static_cast<size_t>(n));
  buildNeighborsTable(tris, neighbors);
  CotangentWeights cotangents(tris, neighbors, side);
  return FreeVertexLaplacian(neighbors, anchors,
                             [&](int i, std::vector<double>& weights, double& diagonal) {
                               cotangents.compute(shape, i, weights, diagonal);
                             });
}

// An exact zero pivot is reported by the factorization; dividing by it would turn every
// later row into infinities.
void factorOrThrow(LdltSolver& solver, const Eigen::SparseMatrix<double>& L, CodingSide side) {
  solver.compute(L);
  if (solver.info() != Eigen::Success) {
    throwUnsolvable(side, "the LDLT factorization of the cotangent Laplacian of the " +
                              std::to_string(L.rows()) + " free vertices met a zero pivot");
  }
}

}  // namespace

NewCotanLaplace::NewCotanLaplace(const TriangleList& tris, const ShapeRef& shape,
                                 const AnchorList& anchors, int n, CodingSide side)
    : system(cotanSystem(tris, shape, anchors, n, side)) {}

void NewCotanLaplace::encode(const TriangleList& tris, const Eigen::Ref<const RowMajorMatrix>& data,
                             Eigen::MatrixXd& shape, std::iostream& s, float q, int n,
                             AnchorList& anchors) {
  if (data.rows() != n || shape.rows() != n || shape.cols() != 3) {
    throw Misuse("geometry: " + std::to_string(data.rows()) + " coefficient rows and a shape of " +
                 std::to_string(shape.rows()) + " x " + std::to_string(shape.cols()) + " for " +
                 std::to_string(n) + " vertices");
  }
  // The column-major copy that the anchor block and the corrections read.
  Eigen::MatrixXd columns = data;
  requireFinite(columns, "coefficients");
  requireFinite(shape, "reference shape");

  // The shape pass waits until the system is built on its reconstruction, so that
  // degenerate weights are refused before anything reaches s.
  std::stringstream shapePass(std::ios::in | std::ios::out | std::ios::binary);
  // An allocation failure of the buffer must escape, not truncate what it holds.
  shapePass.exceptions(std::ios::badbit);
  try {
    NewLaplace::encode(tris, shape, shapePass, q, n, anchors, true);
  } catch (const StepTooSmall& e) {
    throw e.of("the reference shape");
  }
  const NewCotanLaplace coder(tris, shape, anchors, n, CodingSide::Encoder);
  const std::string bytes = shapePass.str();
  if (!s.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    throw IoFailure("geometry: the stream refused the reference shape");
  }
  writeAnchorBlocks(columns, anchors, q, false, s);
  coder.encodeInternal(columns, s, q);
}

Eigen::MatrixXd NewCotanLaplace::decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                        int cols) {
  if (n < 0 || cols < 0) {
    throw CorruptStream("geometry: " + std::to_string(n) + " vertices of " + std::to_string(cols) +
                        " columns");
  }
  const Eigen::MatrixXd shape = NewLaplace::decode(tris, s, q, n, 3);
  if (n > 0) std::cout << shape(0, 0) << "\n";

  const AnchorBlocks blocks = readAnchorBlocks(s, n, cols);
  const Eigen::Index m = n - static_cast<Eigen::Index>(blocks.anchors.size());
  const Eigen::MatrixXd R = readDequantizedColumns(s, q, m, cols);
  const NewCotanLaplace coder(tris, shape, blocks.anchors, n, CodingSide::Decoder);
  Eigen::MatrixXd W = Eigen::MatrixXd::Zero(n, cols);
  placeAnchorRows(blocks, q, W);
  coder.system.scatterFreeRows(coder.getCoefficients(R, CodingSide::Decoder), W);
  return W;
}

void NewCotanLaplace::encodeInternal(const Eigen::Ref<const Eigen::MatrixXd>& data,
                                     std::iostream& s, float q) const {
  writeColumnBlocks(getCorrections(data, q), s);
}

std::vector<std::vector<int>> NewCotanLaplace::getCorrections(
    const Eigen::Ref<const Eigen::MatrixXd>& data, float q) const {
  const Eigen::MatrixXd Vf = system.gatherFreeRows(data);
  // Nothing to transform: no free vertex, or no column (an animation of no basis).
  if (system.freeCount() == 0 || data.cols() == 0) return std::vector<std::vector<int>>(data.cols());

  LdltSolver solver;
  factorOrThrow(solver, system.getL(), CodingSide::Encoder);
  // With T = F diag(D), row i of T Y is row i of P L Vf: the free rows' cotangent
  // Laplacian in factor order. T is walked through F and D without a copy.
  Eigen::MatrixXd Y = solver.matrixU() * (solver.permutationP() * Vf);
  std::vector<std::vector<int>> out;
  Eigen::MatrixXd R;
  // Every row is corrected, dividing by its pivot, and indices decode without offset.
  correctedQuantizationByColumns(
      solver.matrixL().nestedExpression(), solver.vectorD(), q,
      [q](int k) { return dequantize(k, q); }, acceptEveryPivot, Y, out, R);
  if (!Y.allFinite()) {
    throwUnsolvable(CodingSide::Encoder,
                    "a pivot of the cotangent Laplacian of the " +
                        std::to_string(system.freeCount()) +
                        " free vertices is too small to correct the quantization by");
  }
  return out;
}

Eigen::MatrixXd NewCotanLaplace::getCoefficients(const Eigen::MatrixXd& R, CodingSide side) const {
  if (R.rows() != system.freeCount()) {
    throw Misuse("geometry: " + std::to_string(R.rows()) + " dequantized rows for " +
                 std::to_string(system.freeCount()) + " free vertices");
  }
  if (system.freeCount() == 0 || R.cols() == 0) return Eigen::MatrixXd(R.rows(), R.cols());
  LdltSolver solver;
  factorOrThrow(solver, system.getL(), side);
  // P L P^T = F D F^T, so solving with P^-1 R gives the X with P L X = R.
  Eigen::MatrixXd X = solver.solve(solver.permutationPinv() * R);
  if (solver.info() != Eigen::Success || !X.allFinite()) {
    throwUnsolvable(side, "the LDLT solve for the " + std::to_string(X.rows()) +
                              " free vertices is not finite");
  }
  return X;
}

}  // namespace meshcodec
