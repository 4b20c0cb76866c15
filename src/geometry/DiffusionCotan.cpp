#include "geometry/DiffusionCotan.hpp"

#include <iostream>
#include <string>

#include "common/CodecError.hpp"
#include "geometry/ColumnBlocks.hpp"
#include "geometry/CotanLaplace.hpp"
#include "geometry/ErrorDiffusion.hpp"

namespace meshcodec {

DiffusionCotan::DiffusionCotan(const TriangleList& tris, const ShapeRef& shape,
                               const AnchorList& anchors, int n, CodingSide side) {
  if (n < 0) throw Misuse("geometry: vertex count " + std::to_string(n));
  neighbors.resize(static_cast<size_t>(n));
  buildNeighborsTable(tris, neighbors);
  computeDiffusionOrder(neighbors, n);
  L = buildAnchoredCotanLaplacian(tris, shape, neighbors, anchors, side);
}

void DiffusionCotan::encode(const TriangleList& tris, const Eigen::MatrixXd& data,
                            Eigen::MatrixXd& shape, std::iostream& s, float q, int n,
                            AnchorList& anchors) {
  encodeAfterLaplaceShapePass<DiffusionCotan>(tris, data, shape, s, q, n, anchors);
}

Eigen::MatrixXd DiffusionCotan::decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                       int cols) {
  return CotanLaplace::decode(tris, s, q, n, cols);
}

void DiffusionCotan::encodeInternal(const Eigen::Ref<const Eigen::MatrixXd>& data, std::iostream& s,
                                    float q) const {
  // L * data is formed column-major, then copied into the row-major working matrix that
  // the diffusion walks vertex by vertex.
  DiffusionMatrix Y = getCorrections(data, q);
  std::vector<std::vector<int>> indices;
  quantizeWithErrorDiffusion(Y, order, neighbors, q, indices);
  writeColumnBlocks(indices, s);
}

Eigen::MatrixXd DiffusionCotan::getCorrections(const Eigen::Ref<const Eigen::MatrixXd>& data,
                                               float /*q*/) const {
  if (data.rows() != L.cols()) {
    throw Misuse("geometry: " + std::to_string(data.rows()) + " rows of data for " +
                 std::to_string(L.cols()) + " vertices");
  }
  return L * data;
}

Eigen::MatrixXd DiffusionCotan::getCoefficients(const Eigen::MatrixXd& D, CodingSide side) const {
  return solveAnchoredLeastSquares(L, D, side, NormalFactorization::LLT);
}

void DiffusionCotan::computeDiffusionOrder(const NeighborTable& table, int n) {
  if (n < 0 || table.size() != static_cast<size_t>(n)) {
    throw Misuse("diffusion order: " + std::to_string(table.size()) + " neighbour lists for " +
                 std::to_string(n) + " vertices");
  }
  meshcodec::computeDiffusionOrder(table, order);
}

void DiffusionCotan::Warnsdorff(int start, const NeighborTable& table, int /*n*/,
                                std::vector<int>& unvisited) {
  meshcodec::Warnsdorff(start, table, unvisited, order);
}

}  // namespace meshcodec
