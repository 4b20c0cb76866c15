#include "geometry/Laplace.hpp"

#include <iostream>
#include <string>
#include <vector>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/ColumnBlocks.hpp"
#include "geometry/Quantizer.hpp"

namespace meshcodec {

Laplace::Laplace(const TriangleList& tris, int n, const AnchorList& anchors) {
  checkAnchorList(anchors, n, CodingSide::Encoder);
  NeighborTable table(static_cast<size_t>(n));
  buildNeighborsTable(tris, table);
  L = buildAnchoredLaplacian(table, anchors);
}

void Laplace::encode(const TriangleList& tris, Eigen::MatrixXd& V, std::iostream& s, float q, int n,
                     AnchorList& anchors, bool writeBack) {
  // Built before anything is written, so that a refused input leaves s untouched.
  Laplace coder(tris, n, anchors);
  if (V.rows() != n) {
    throw Misuse("geometry: " + std::to_string(V.rows()) + " rows of data for " +
                 std::to_string(n) + " vertices");
  }
  ArithCoder::encode(anchors, s, false);
  coder.encode(V, s, q, writeBack);
}

void Laplace::encode(Eigen::MatrixXd& V, std::iostream& s, float q, bool writeBack) {
  if (V.rows() != L.cols()) {
    throw Misuse("geometry: " + std::to_string(V.rows()) + " rows of data for " +
                 std::to_string(L.cols()) + " vertices");
  }
  Eigen::MatrixXd D = getCorrections(V);
  std::vector<std::vector<int>> indices(static_cast<size_t>(D.cols()),
                                        std::vector<int>(static_cast<size_t>(D.rows())));
  for (Eigen::Index c = 0; c < D.cols(); ++c) {
    for (Eigen::Index r = 0; r < D.rows(); ++r) {
      const int k = quantize(D(r, c), q);
      indices[c][r] = k;
      if (writeBack) D(r, c) = dequantize(k, q);
    }
  }
  writeColumnBlocks(indices, s);
  if (writeBack) V = getCoefficients(D, CodingSide::Encoder);
}

Eigen::MatrixXd Laplace::getCorrections(const Eigen::MatrixXd& V) const {
  if (V.rows() != L.cols()) {
    throw Misuse("geometry: " + std::to_string(V.rows()) + " rows of data for " +
                 std::to_string(L.cols()) + " vertices");
  }
  return L * V;
}

Eigen::MatrixXd Laplace::getCoefficients(const Eigen::MatrixXd& D, CodingSide side) const {
  return solveAnchoredLeastSquares(L, D, side);
}

Eigen::MatrixXd Laplace::decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                int cols) {
  if (n < 0) throw CorruptStream("geometry: vertex count " + std::to_string(n) + " is negative");
  const AnchorList anchors = readAnchorIds(s, n);
  // The column blocks are read before the anchors are checked and the system is
  // built: each must hold n + a entries, which bounds n by the bytes present before
  // anything of that size is allocated.
  const Eigen::Index rows =
      static_cast<Eigen::Index>(n) + static_cast<Eigen::Index>(anchors.size());
  const Eigen::MatrixXd D = readDequantizedColumns(s, q, rows, cols);
  checkAnchorList(anchors, n, CodingSide::Decoder);
  const Laplace coder(tris, n, anchors);
  return coder.getCoefficients(D, CodingSide::Decoder);
}

}  // namespace meshcodec
