#pragma once
// The system matrix of the Laplacian coders that store their anchors directly: a
// Laplacian (uniform, or with the weights a coder supplies per row) restricted to the
// free (non-anchor) vertices. Those coders split the coded matrix into anchor rows,
// quantized and sent as they are, and free rows, sent through a factor of this matrix;
// the helpers below keep that split in one place for both directions.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <Eigen/SparseCore>

#include "geometry/CorrectedQuantization.hpp"
#include "geometry/NeighborTable.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class FreeVertexLaplacian {
 public:
  // Fills the row of free vertex i: weights gets one entry per entry of i's neighbour
  // list (list order), diagonal the row's diagonal value.
  using RowWeights = std::function<void(int i, std::vector<double>& weights, double& diagonal)>;

  // n = neighbors.size(). Row and column k belong to free vertex freeVertices[k]:
  // +deg_i on the diagonal (anchor neighbours and repeated entries counted), -1 per
  // free neighbour entry (so -2 for a neighbour listed twice). Anchors never enter the
  // free system; they only raise their neighbours' diagonals. Throws Misuse unless the
  // anchors are distinct ids below n.
  FreeVertexLaplacian(const NeighborTable& neighbors, const AnchorList& anchors);
  // The same split with other weights: rowWeights runs once per free vertex, ascending;
  // the row gets (diagonal) and, for each list entry j that is not an anchor, weights[k]
  // at column j (repeated positions summed).
  FreeVertexLaplacian(const NeighborTable& neighbors, const AnchorList& anchors,
                      const RowWeights& rowWeights);

  int vertexCount() const { return static_cast<int>(columnOf.size()); }
  int freeCount() const { return static_cast<int>(freeVertices.size()); }
  // Free vertex ids, ascending.
  const std::vector<int>& getFreeVertices() const { return freeVertices; }
  // Entry i = number of free vertices below i: the row of free vertex i in L.
  const std::vector<int>& getColumnOf() const { return columnOf; }
  // m x m, column-major, compressed; symmetric when the row weights are.
  const Eigen::SparseMatrix<double>& getL() const { return L; }

  // m x cols: row k = V.row(freeVertices[k]). V has n rows.
  Eigen::MatrixXd gatherFreeRows(const Eigen::Ref<const Eigen::MatrixXd>& V) const;
  // V.row(freeVertices[k]) = X.row(k) for the m rows of X. V has n rows.
  void scatterFreeRows(const Eigen::MatrixXd& X, Eigen::MatrixXd& V) const;

 private:
  std::vector<int> freeVertices;
  std::vector<int> columnOf;
  Eigen::SparseMatrix<double> L;
};

// Writes the anchor id block and the anchor coordinate block: a x cols indices, entry
// k + c * a for V(anchors[k], c), from the float-narrowed quotient. With writeBack the
// anchor rows of V become their dequantized values. V is n x cols. StepTooSmall, with
// nothing written, when an index is saturated.
void writeAnchorBlocks(Eigen::MatrixXd& V, const AnchorList& anchors, float q, bool writeBack,
                       std::iostream& s);

// What the decoders read ahead of the free rows.
struct AnchorBlocks {
  AnchorList anchors;
  std::vector<int> coords;  // a x cols entries, entry k + c * a
};

// Reads the two blocks of writeAnchorBlocks for n vertices and cols columns. Throws
// CorruptStream for ids out of range or repeated, more ids than vertices, or other
// than a x cols coordinates.
AnchorBlocks readAnchorBlocks(std::iostream& s, int n, int cols);

// W(anchors[k], c) = the dequantized coordinate k + c * a. W is n x cols. Throws
// CorruptStream for a coordinate that overflows the float range.
void placeAnchorRows(const AnchorBlocks& blocks, float q, Eigen::MatrixXd& W);

}  // namespace meshcodec
