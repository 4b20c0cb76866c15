#include "geometry/NewLaplace.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>

#include <Eigen/SparseCholesky>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/ColumnBlocks.hpp"
#include "geometry/CorrectedQuantization.hpp"
#include "geometry/ReconstructionOffset.hpp"

namespace meshcodec {

namespace {

using LdltSolver =
    Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::AMDOrdering<int>>;

// Pivots at or below this magnitude are not divided by: their rows are coded but
// leave the transform as it was.
constexpr double kMinPivot = 1e-10;

NeighborTable neighborsOf(const TriangleList& tris, int n) {
  if (n < 0) throw Misuse("geometry: vertex count " + std::to_string(n));
  NeighborTable table(static_cast<size_t>(n));
  NewLaplace::buildNeighborsTable(tris, table);
  return table;
}

template <typename Error>
void factorOrThrow(LdltSolver& solver, const Eigen::SparseMatrix<double>& L) {
  solver.compute(L);
  if (solver.info() != Eigen::Success) {
    throw Error("geometry: the LDLT factorization of the " + std::to_string(L.rows()) +
                " free vertices' Laplacian met a zero pivot (no anchor reaches some free vertex)");
  }
}

// P L P^T = F D F^T, so solving with P^-1 R gives the X with P L X = R. A pivot small
// enough to overflow the solution is reported rather than handed on as infinities.
template <typename Error>
Eigen::MatrixXd solveFactorOrder(const LdltSolver& solver, const Eigen::MatrixXd& R) {
  Eigen::MatrixXd X = solver.solve(solver.permutationPinv() * R);
  if (!X.allFinite()) {
    throw Error("geometry: the LDLT solve for the " + std::to_string(X.rows()) +
                " free vertices is not finite (no anchor reaches some free vertex)");
  }
  return X;
}

void writeFloat(std::iostream& s, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const char bytes[4] = {static_cast<char>(bits & 0xff), static_cast<char>((bits >> 8) & 0xff),
                         static_cast<char>((bits >> 16) & 0xff), static_cast<char>(bits >> 24)};
  s.write(bytes, 4);
}

float readFloat(std::iostream& s) {
  unsigned char bytes[4];
  s.read(reinterpret_cast<char*>(bytes), 4);
  if (s.gcount() != 4) throw CorruptStream("geometry: the stream ends before the rate lambda");
  const uint32_t bits = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                        uint32_t{bytes[3]} << 24;
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

NewLaplace::NewLaplace(const TriangleList& tris, int n, const AnchorList& anchors)
    : neighbors(neighborsOf(tris, n)), system(neighbors, anchors) {}

void NewLaplace::encode(const TriangleList& tris, Eigen::MatrixXd& V, std::iostream& s, float q,
                        int n, const AnchorList& anchors, bool writeBack) {
  const NewLaplace coder(tris, n, anchors);
  // The rate is taken before any write-back, and the float that is stored is the one
  // the offset comes from on both sides.
  const float lambda = coder.getLambda(V, n);
  writeFloat(s, lambda);
  writeAnchorBlocks(V, anchors, q, writeBack, s);
  coder.encode(V, s, q, writeBack, lambda);
}

Eigen::MatrixXd NewLaplace::decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                   int cols) {
  if (n < 0 || cols < 0) {
    throw CorruptStream("geometry: " + std::to_string(n) + " vertices of " + std::to_string(cols) +
                        " columns");
  }
  const float lambda = readFloat(s);
  const AnchorBlocks blocks = readAnchorBlocks(s, n, cols);
  const int m = n - static_cast<int>(blocks.anchors.size());
  const double off = reconstructionOffset(q, lambda);
  const Eigen::MatrixXd R = readColumnBlocks(
      s, m, cols, [q, off](int k) { return dequantizeWithOffset(k, q, off); });

  const NewLaplace coder(tris, n, blocks.anchors);
  std::cout << n << "\n";
  Eigen::MatrixXd W = Eigen::MatrixXd::Zero(n, cols);
  placeAnchorRows(blocks, q, W);
  coder.system.scatterFreeRows(coder.getCoefficients(R), W);
  return W;
}

float NewLaplace::getLambda(const Eigen::MatrixXd& V, int n) const {
  if (n != system.vertexCount() || V.rows() != n) {
    throw Misuse("geometry: rate of " + std::to_string(n) + " rows of a " +
                 std::to_string(V.rows()) + "-row matrix over " +
                 std::to_string(system.vertexCount()) + " vertices");
  }
  double sum = 0.0;
  int64_t count = 0;
  Eigen::RowVectorXd d(V.cols());
  // A matrix of no columns has no rows to take (its data pointer is null).
  for (int i = 0; i < n && V.cols() > 0; ++i) {
    d = static_cast<double>(neighbors[i].size()) * V.row(i);
    for (int j : neighbors[i]) d -= V.row(j);
    sum += d.cwiseAbs().sum();
    count += (d.array() != 0.0).count();
  }
  // Every component zero, or no column at all, makes the rate 0/0, which the offset
  // treats as no rate. Stored files hold the NaN that x86 computes for 0/0, whose
  // sign bit is set; it is written out because a compiler that folds 0/0 itself may
  // produce the other sign.
  if (count == 0) {
    const uint32_t defaultNaN = 0xffc00000u;
    float rate;
    std::memcpy(&rate, &defaultNaN, sizeof rate);
    return rate;
  }
  return static_cast<float>(static_cast<double>(count) / sum);
}

void NewLaplace::encode(Eigen::MatrixXd& V, std::iostream& s, float q, bool writeBack,
                        float lambda) const {
  for (const std::vector<int>& column : getCorrections(V, q, writeBack, lambda)) {
    ArithCoder::encode(column, s, true);
  }
}

std::vector<std::vector<int>> NewLaplace::getCorrections(Eigen::MatrixXd& V, float q,
                                                         bool writeBack, float lambda) const {
  const double off = reconstructionOffset(q, lambda);
  Eigen::MatrixXd Vf = system.gatherFreeRows(V);
  // Nothing to transform: no free vertex, or no column (an animation of no basis).
  if (system.freeCount() == 0 || V.cols() == 0) return std::vector<std::vector<int>>(V.cols());

  LdltSolver solver;
  factorOrThrow<OutOfDomain>(solver, system.getL());
  // With T = F diag(D), row i of T Y is row i of P L Vf: the free rows' Laplacian in
  // factor order. T is walked through F and D in place; a copy would double the peak
  // memory of encoding.
  Eigen::MatrixXd Y = solver.matrixU() * (solver.permutationP() * Vf);

  std::vector<std::vector<int>> out;
  Eigen::MatrixXd R;
  correctedQuantizationByColumns(
      solver.matrixL().nestedExpression(), solver.vectorD(), q,
      [q, off](int k) { return dequantizeWithOffset(k, q, off); },
      [](double pivot) { return std::abs(pivot) > kMinPivot; }, Y, out, R);
  if (writeBack) system.scatterFreeRows(solveFactorOrder<OutOfDomain>(solver, R), V);
  return out;
}

Eigen::MatrixXd NewLaplace::getCoefficients(const Eigen::MatrixXd& R) const {
  if (R.rows() != system.freeCount()) {
    throw Misuse("geometry: " + std::to_string(R.rows()) + " dequantized rows for " +
                 std::to_string(system.freeCount()) + " free vertices");
  }
  if (system.freeCount() == 0 || R.cols() == 0) return Eigen::MatrixXd(R.rows(), R.cols());
  LdltSolver solver;
  factorOrThrow<CorruptStream>(solver, system.getL());
  return solveFactorOrder<CorruptStream>(solver, R);
}

}  // namespace meshcodec
