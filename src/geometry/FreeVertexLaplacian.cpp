#include "geometry/FreeVertexLaplacian.hpp"

#include <cmath>
#include <cstdint>
#include <iostream>
#include <string>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/AnchoredLaplacian.hpp"
#include "geometry/Quantizer.hpp"
#include "mesh/ObjText.hpp"

namespace meshcodec {

FreeVertexLaplacian::FreeVertexLaplacian(const NeighborTable& neighbors, const AnchorList& anchors)
    : FreeVertexLaplacian(neighbors, anchors,
                          [&neighbors](int i, std::vector<double>& weights, double& diagonal) {
                            weights.assign(neighbors[i].size(), -1.0);
                            diagonal = static_cast<double>(neighbors[i].size());
                          }) {}

FreeVertexLaplacian::FreeVertexLaplacian(const NeighborTable& neighbors, const AnchorList& anchors,
                                         const RowWeights& rowWeights) {
  const int n = static_cast<int>(neighbors.size());
  checkAnchorList(anchors, n, CodingSide::Encoder);

  std::vector<char> isAnchor(static_cast<size_t>(n), 0);
  for (int v : anchors) isAnchor[v] = 1;
  columnOf.reserve(static_cast<size_t>(n));
  freeVertices.reserve(static_cast<size_t>(n) - anchors.size());
  for (int i = 0; i < n; ++i) {
    columnOf.push_back(static_cast<int>(freeVertices.size()));
    if (!isAnchor[i]) freeVertices.push_back(i);
  }

  size_t entries = freeVertices.size();
  for (int i : freeVertices) entries += neighbors[i].size();
  std::vector<Eigen::Triplet<double>> triplets;
  triplets.reserve(entries);
  std::vector<double> weights;
  double diagonal = 0.0;
  for (int i : freeVertices) {
    rowWeights(i, weights, diagonal);
    if (weights.size() != neighbors[i].size()) {
      throw Misuse("geometry: " + std::to_string(weights.size()) + " weights for the " +
                   std::to_string(neighbors[i].size()) + " neighbours of vertex " +
                   std::to_string(i));
    }
    const int r = columnOf[i];
    triplets.emplace_back(r, r, diagonal);
    for (size_t k = 0; k < weights.size(); ++k) {
      const int j = neighbors[i][k];
      if (!isAnchor[j]) triplets.emplace_back(r, columnOf[j], weights[k]);
    }
  }
  const Eigen::Index m = freeCount();
  L.resize(m, m);
  // Repeated positions are summed: a neighbour listed twice gives -2.
  L.setFromTriplets(triplets.begin(), triplets.end());
}

Eigen::MatrixXd FreeVertexLaplacian::gatherFreeRows(const Eigen::Ref<const Eigen::MatrixXd>& V) const {
  if (V.rows() != vertexCount()) {
    throw Misuse("geometry: matrix of " + std::to_string(V.rows()) + " rows for " +
                 std::to_string(vertexCount()) + " vertices");
  }
  Eigen::MatrixXd Vf(freeCount(), V.cols());
  if (V.cols() == 0) return Vf;  // no rows to take from a matrix of no columns
  for (int k = 0; k < freeCount(); ++k) Vf.row(k) = V.row(freeVertices[k]);
  return Vf;
}

void FreeVertexLaplacian::scatterFreeRows(const Eigen::MatrixXd& X, Eigen::MatrixXd& V) const {
  if (V.rows() != vertexCount() || X.rows() != freeCount() || X.cols() != V.cols()) {
    throw Misuse("geometry: cannot place " + std::to_string(X.rows()) + " free rows into " +
                 std::to_string(V.rows()) + " rows for " + std::to_string(vertexCount()) +
                 " vertices");
  }
  if (V.cols() == 0) return;
  for (int k = 0; k < freeCount(); ++k) V.row(freeVertices[k]) = X.row(k);
}

void writeAnchorBlocks(Eigen::MatrixXd& V, const AnchorList& anchors, float q, bool writeBack,
                       std::iostream& s) {
  checkAnchorList(anchors, static_cast<int>(V.rows()), CodingSide::Encoder);
  const size_t a = anchors.size();
  const Eigen::Index cols = V.cols();
  std::vector<int> coords(a * static_cast<size_t>(cols));
  for (size_t k = 0; k < a; ++k) {
    for (Eigen::Index c = 0; c < cols; ++c) {
      const int idx = quantizeFloatQuotient(V(anchors[k], c), q);
      coords[k + static_cast<size_t>(c) * a] = idx;
      if (writeBack) V(anchors[k], c) = dequantize(idx, q);
    }
  }
  requireUnsaturated(coords, "the anchor coordinates");
  ArithCoder::encode(anchors, s, false);
  ArithCoder::encode(coords, s, true);
}

AnchorBlocks readAnchorBlocks(std::iostream& s, int n, int cols) {
  AnchorBlocks blocks;
  blocks.anchors = readAnchorIds(s, n);
  checkAnchorList(blocks.anchors, n, CodingSide::Decoder);
  const std::int64_t needed = static_cast<std::int64_t>(blocks.anchors.size()) * cols;
  blocks.coords = ArithCoder::decode(s, true, [needed](std::int32_t count) {
    if (count != needed) {
      throw CorruptStream("geometry: anchor coordinate block holds " + std::to_string(count) + " entries, " +
                          std::to_string(needed) + " needed");
    }
  });
  return blocks;
}

void placeAnchorRows(const AnchorBlocks& blocks, float q, Eigen::MatrixXd& W) {
  const size_t a = blocks.anchors.size();
  checkAnchorList(blocks.anchors, static_cast<int>(W.rows()), CodingSide::Encoder);
  if (blocks.coords.size() < a * static_cast<size_t>(W.cols())) {
    throw Misuse("geometry: anchor blocks do not fit a matrix of " + std::to_string(W.rows()) +
                 " x " + std::to_string(W.cols()));
  }
  for (size_t k = 0; k < a; ++k) {
    for (Eigen::Index c = 0; c < W.cols(); ++c) {
      const int index = blocks.coords[k + static_cast<size_t>(c) * a];
      const double value = dequantize(index, q);
      // No solve sees the anchor rows, so an index whose product with the step
      // overflows the float range would reach the output as inf.
      if (!std::isfinite(value)) {
        throw CorruptStream("geometry: anchor " + std::to_string(k) + " coordinate " + std::to_string(c) +
                            ": index " + std::to_string(index) + " times the step " + formatNumber(q) +
                            " overflows");
      }
      W(blocks.anchors[k], c) = value;
    }
  }
}

}  // namespace meshcodec
