#include "geometry/DiffusionLaplace.hpp"

#include <iostream>
#include <string>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/ColumnBlocks.hpp"
#include "geometry/ErrorDiffusion.hpp"
#include "geometry/Laplace.hpp"

namespace meshcodec {

namespace {

void checkTableSize(const NeighborTable& table, int n) {
  if (n < 0 || table.size() != static_cast<size_t>(n)) {
    throw Misuse("diffusion order: " + std::to_string(table.size()) + " neighbour lists for " +
                 std::to_string(n) + " vertices");
  }
}

}  // namespace

DiffusionLaplace::DiffusionLaplace(const TriangleList& tris, int n, const AnchorList& anchors) {
  checkAnchorList(anchors, n, CodingSide::Encoder);
  neighbors.resize(static_cast<size_t>(n));
  buildNeighborsTable(tris, neighbors);
  computeDiffusionOrder(neighbors, n);
  L = buildAnchoredLaplacian(neighbors, anchors);
}

void DiffusionLaplace::encode(const TriangleList& tris, const RowMajorMatrix& V, std::iostream& s,
                              float q, int n, AnchorList& anchors) {
  DiffusionLaplace coder(tris, n, anchors);
  if (V.rows() != n) {
    throw Misuse("geometry: " + std::to_string(V.rows()) + " rows of data for " +
                 std::to_string(n) + " vertices");
  }
  ArithCoder::encode(anchors, s, false);
  const Eigen::MatrixXd columns = V;
  coder.encode(columns, s, q);
}

void DiffusionLaplace::encode(const Eigen::MatrixXd& V, std::iostream& s, float q) {
  // L * V is formed column-major, as the decoder's system is, and only then copied
  // into the row-major working matrix that the diffusion walks vertex by vertex.
  DiffusionMatrix D = getCorrections(V);
  std::vector<std::vector<int>> indices;
  quantizeWithErrorDiffusion(D, order, neighbors, q, indices);
  writeColumnBlocks(indices, s);
}

Eigen::MatrixXd DiffusionLaplace::getCorrections(const Eigen::MatrixXd& V) const {
  if (V.rows() != L.cols()) {
    throw Misuse("geometry: " + std::to_string(V.rows()) + " rows of data for " +
                 std::to_string(L.cols()) + " vertices");
  }
  return L * V;
}

Eigen::MatrixXd DiffusionLaplace::getCoefficients(const Eigen::MatrixXd& D, CodingSide side) const {
  return solveAnchoredLeastSquares(L, D, side);
}

Eigen::MatrixXd DiffusionLaplace::decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                         int cols) {
  return Laplace::decode(tris, s, q, n, cols);
}

void DiffusionLaplace::computeDiffusionOrder(const NeighborTable& table, int n) {
  checkTableSize(table, n);
  meshcodec::computeDiffusionOrder(table, order);
}

void DiffusionLaplace::Warnsdorff(int start, const NeighborTable& table, int /*n*/,
                                  std::vector<int>& unvisited) {
  meshcodec::Warnsdorff(start, table, unvisited, order);
}

}  // namespace meshcodec
