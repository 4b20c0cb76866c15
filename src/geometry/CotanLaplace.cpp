#include "geometry/CotanLaplace.hpp"

#include <iostream>
#include <sstream>
#include <string>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/ColumnBlocks.hpp"
#include "geometry/Laplace.hpp"
#include "geometry/Quantizer.hpp"

namespace meshcodec {

namespace {

NeighborTable neighborsOf(const TriangleList& tris, int n) {
  if (n < 0) throw Misuse("geometry: vertex count " + std::to_string(n));
  NeighborTable table(static_cast<size_t>(n));
  buildNeighborsTable(tris, table);
  return table;
}

}  // namespace

Eigen::SparseMatrix<double> buildAnchoredCotanLaplacian(const TriangleList& tris,
                                                        const ShapeRef& shape,
                                                        const NeighborTable& neighbors,
                                                        const AnchorList& anchors,
                                                        CodingSide side) {
  const int n = static_cast<int>(neighbors.size());
  const int a = static_cast<int>(anchors.size());
  if (a == 0) {
    const std::string reason = "geometry: no anchor vertex, so the cotangent system is singular";
    if (side == CodingSide::Decoder) throw CorruptStream(reason);
    throw OutOfDomain(reason);
  }
  checkAnchorList(anchors, n, CodingSide::Encoder);

  CotangentWeights cotangents(tris, neighbors, side);
  size_t entries = static_cast<size_t>(n) + anchors.size();
  for (const auto& list : neighbors) entries += list.size();
  std::vector<Eigen::Triplet<double>> triplets;
  triplets.reserve(entries);

  // The column of the first anchor loses its neighbour entries, not the diagonals that
  // count them: the format defines the rows so.
  const int first = anchors[0];
  std::vector<double> weights;
  double diagonal = 0.0;
  for (int i = 0; i < n; ++i) {
    cotangents.compute(shape, i, weights, diagonal);
    triplets.emplace_back(i, i, diagonal);
    for (size_t k = 0; k < weights.size(); ++k) {
      const int j = neighbors[i][k];
      if (j != first) triplets.emplace_back(i, j, weights[k]);
    }
  }
  for (int j = 0; j < a; ++j) triplets.emplace_back(n + j, anchors[j], 1.0);

  Eigen::SparseMatrix<double> L(n + a, n);
  L.setFromTriplets(triplets.begin(), triplets.end());
  return L;
}

std::string laplaceShapePass(const TriangleList& tris, const Eigen::MatrixXd& data,
                             Eigen::MatrixXd& shape, float q, int n, AnchorList& anchors) {
  if (data.rows() != n || shape.rows() != n || shape.cols() != 3) {
    throw Misuse("geometry: " + std::to_string(data.rows()) + " coefficient rows and a shape of " +
                 std::to_string(shape.rows()) + " x " + std::to_string(shape.cols()) + " for " +
                 std::to_string(n) + " vertices");
  }
  requireFinite(data, "coefficients");
  requireFinite(shape, "reference shape");
  std::stringstream buffer(std::ios::in | std::ios::out | std::ios::binary);
  // An allocation failure of the buffer must escape, not truncate what it holds.
  buffer.exceptions(std::ios::badbit);
  try {
    Laplace::encode(tris, shape, buffer, q, n, anchors, true);
  } catch (const StepTooSmall& e) {
    throw e.of("the reference shape");
  }
  ArithCoder::encode(anchors, buffer, false);
  return buffer.str();
}

CotanLaplace::CotanLaplace(const TriangleList& tris, const ShapeRef& shape,
                           const AnchorList& anchors, int n, CodingSide side)
    : L(buildAnchoredCotanLaplacian(tris, shape, neighborsOf(tris, n), anchors, side)) {}

void CotanLaplace::encode(const TriangleList& tris, const Eigen::MatrixXd& data,
                          Eigen::MatrixXd& shape, std::iostream& s, float q, int n,
                          AnchorList& anchors) {
  encodeAfterLaplaceShapePass<CotanLaplace>(tris, data, shape, s, q, n, anchors);
}

Eigen::MatrixXd CotanLaplace::decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                     int cols) {
  if (n < 0 || cols < 0) {
    throw CorruptStream("geometry: " + std::to_string(n) + " vertices of " + std::to_string(cols) +
                        " columns");
  }
  const Eigen::MatrixXd shape = Laplace::decode(tris, s, q, n, 3);
  // The system is built from this second copy of the anchor list.
  const AnchorList anchors = readAnchorIds(s, n);
  checkAnchorList(anchors, n, CodingSide::Decoder);
  const Eigen::MatrixXd D = readDequantizedColumns(
      s, q, static_cast<Eigen::Index>(n) + static_cast<Eigen::Index>(anchors.size()), cols);
  const CotanLaplace coder(tris, shape, anchors, n, CodingSide::Decoder);
  return coder.getCoefficients(D, CodingSide::Decoder);
}

void CotanLaplace::encodeInternal(const Eigen::Ref<const Eigen::MatrixXd>& data, std::iostream& s,
                                  float q) const {
  const Eigen::MatrixXd Y = getCorrections(data, q);
  std::vector<std::vector<int>> indices(static_cast<size_t>(Y.cols()),
                                        std::vector<int>(static_cast<size_t>(Y.rows())));
  for (Eigen::Index c = 0; c < Y.cols(); ++c) {
    for (Eigen::Index r = 0; r < Y.rows(); ++r) indices[c][r] = quantize(Y(r, c), q);
  }
  writeColumnBlocks(indices, s);
}

Eigen::MatrixXd CotanLaplace::getCorrections(const Eigen::Ref<const Eigen::MatrixXd>& data,
                                             float /*q*/) const {
  if (data.rows() != L.cols()) {
    throw Misuse("geometry: " + std::to_string(data.rows()) + " rows of data for " +
                 std::to_string(L.cols()) + " vertices");
  }
  return L * data;
}

Eigen::MatrixXd CotanLaplace::getCoefficients(const Eigen::MatrixXd& D, CodingSide side) const {
  return solveAnchoredLeastSquares(L, D, side, NormalFactorization::LLT);
}

}  // namespace meshcodec
