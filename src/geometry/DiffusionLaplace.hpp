#pragma once
// Geometry coder of method 2: the system, sub-stream and decoder of Laplace
// (method 1), but the encoder rounds the delta coordinates along the diffusion order
// and passes each rounding error on to the vertices still to come. The decoder
// cannot tell the difference and decodes such a stream like any method-1 stream.

#include <Eigen/Core>
#include <Eigen/SparseCore>
#include <iosfwd>
#include <vector>

#include "geometry/AnchoredLaplacian.hpp"
#include "geometry/DiffusionOrder.hpp"
#include "geometry/NeighborTable.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class DiffusionLaplace {
 public:
  using RowMajorMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

  // anchors: distinct ids in 0 .. n-1 (Misuse otherwise); every corner of tris must
  // be below n. Builds the neighbour table, the diffusion order and L.
  DiffusionLaplace(const TriangleList& tris, int n, const AnchorList& anchors);

  // Appends the anchor list block, then the column blocks, to s. V: n x cols.
  static void encode(const TriangleList& tris, const RowMajorMatrix& V, std::iostream& s, float q,
                     int n, AnchorList& anchors);
  // Appends the column blocks only.
  void encode(const Eigen::MatrixXd& V, std::iostream& s, float q);

  // L * V, (n + a) x cols, as Laplace::getCorrections.
  Eigen::MatrixXd getCorrections(const Eigen::MatrixXd& V) const;
  // The least-squares solve of Laplace::getCoefficients.
  Eigen::MatrixXd getCoefficients(const Eigen::MatrixXd& D,
                                  CodingSide side = CodingSide::Encoder) const;

  // Reads a method-2 (or method-1) sub-stream; the same as Laplace::decode, which
  // it runs: the decoder needs neither the neighbour table nor the order.
  static Eigen::MatrixXd decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                int cols);

  static int buildNeighborsTable(const TriangleList& tris, NeighborTable& table) {
    return meshcodec::buildNeighborsTable(tris, table);
  }
  // Append to order; table must hold n lists.
  void computeDiffusionOrder(const NeighborTable& table, int n);
  void Warnsdorff(int start, const NeighborTable& table, int n, std::vector<int>& unvisited);
  static int sigma(const NeighborTable& table, int v, const std::vector<int>& unvisited) {
    return meshcodec::sigma(table, v, unvisited);
  }
  static int sigma2(const NeighborTable& table, int v, const std::vector<int>& unvisited) {
    return meshcodec::sigma2(table, v, unvisited);
  }

  const std::vector<int>& getOrder() const { return order; }
  const NeighborTable& getNeighbors() const { return neighbors; }

 private:
  Eigen::SparseMatrix<double> L;  // (n + a) x n, the matrix of Laplace
  std::vector<int> order;         // the diffusion order, a permutation of 0 .. n-1
  NeighborTable neighbors;        // n lists
};

}  // namespace meshcodec
