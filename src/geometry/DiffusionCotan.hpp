#pragma once
// Geometry coder of animated method 5: the shape pass, matrix, sub-stream and decoder
// of CotanLaplace (method 3), but the encoder rounds the cotangent Laplacian of the
// coefficient columns along the diffusion order, passing each rounding error on to the
// vertices still to come. The decoder cannot tell and decodes like CotanLaplace.

#include <Eigen/Core>
#include <Eigen/SparseCore>
#include <iosfwd>
#include <vector>

#include "geometry/AnchoredLaplacian.hpp"
#include "geometry/CotangentWeights.hpp"
#include "geometry/DiffusionOrder.hpp"
#include "geometry/NeighborTable.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class DiffusionCotan {
 public:
  // As the CotanLaplace constructor; also keeps the neighbour table and builds the
  // diffusion order over it.
  DiffusionCotan(const TriangleList& tris, const ShapeRef& shape, const AnchorList& anchors, int n,
                 CodingSide side = CodingSide::Encoder);

  // As CotanLaplace::encode, with the error-diffused rounding.
  static void encode(const TriangleList& tris, const Eigen::MatrixXd& data, Eigen::MatrixXd& shape,
                     std::iostream& s, float q, int n, AnchorList& anchors);
  // CotanLaplace::decode: the matrix is the same and the order is not needed.
  static Eigen::MatrixXd decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                int cols);

  // Writes getCorrections(data) rounded with error diffusion, one block per column,
  // entry v at the vertex index whatever its place in the order.
  void encodeInternal(const Eigen::Ref<const Eigen::MatrixXd>& data, std::iostream& s,
                      float q) const;
  // L * data, (n + a) x k; q is not used.
  Eigen::MatrixXd getCorrections(const Eigen::Ref<const Eigen::MatrixXd>& data, float q) const;
  // As CotanLaplace::getCoefficients.
  Eigen::MatrixXd getCoefficients(const Eigen::MatrixXd& D,
                                  CodingSide side = CodingSide::Encoder) const;

  static int buildNeighborsTable(const TriangleList& tris, NeighborTable& table) {
    return meshcodec::buildNeighborsTable(tris, table);
  }
  static void buildNeighborTriangleTable(const TriangleList& tris, TriangleFanTable& fans) {
    meshcodec::buildNeighborTriangleTable(tris, fans);
  }
  static int neighbourIndex(const std::vector<int>& list, int v) {
    return meshcodec::neighbourIndex(list, v);
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

  const Eigen::SparseMatrix<double>& getL() const { return L; }
  const std::vector<int>& getOrder() const { return order; }
  const NeighborTable& getNeighbors() const { return neighbors; }

 private:
  Eigen::SparseMatrix<double> L;  // (n + a) x n, the matrix of CotanLaplace
  std::vector<int> order;         // the diffusion order, a permutation of 0 .. n-1
  NeighborTable neighbors;        // n lists
};

}  // namespace meshcodec
