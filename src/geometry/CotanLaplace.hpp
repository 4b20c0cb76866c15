#pragma once
// Geometry coder of animated method 3: codes the per-vertex coefficient matrix as the
// rounded cotangent Laplacian of every vertex plus the rounded anchor values, decoded by
// a least-squares solve. The weights come from the reference shape, which the
// sub-stream carries first (coded by Laplace with write-back), so that the decoder
// builds the encoder's matrix from the same reconstructed positions.
//
// Sub-stream: the Laplace sub-stream of the shape (anchor list, three column blocks),
// the anchor list again, then one block of n + a indices per coefficient column.

#include <Eigen/Core>
#include <Eigen/SparseCore>
#include <iostream>
#include <string>
#include <vector>

#include "common/CodecError.hpp"
#include "geometry/AnchoredLaplacian.hpp"
#include "geometry/CotangentWeights.hpp"
#include "geometry/NeighborTable.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class CotanLaplace {
 public:
  // shape: n x 3. anchors: distinct ids below n (Misuse otherwise). side: whose fault
  // weights that cannot be formed, or an empty anchor list, are.
  CotanLaplace(const TriangleList& tris, const ShapeRef& shape, const AnchorList& anchors, int n,
               CodingSide side = CodingSide::Encoder);

  // Appends the sub-stream for data (n x k); shape (n x 3) becomes the decoder's
  // reconstruction of it. Non-finite data or shape, and a reconstructed shape that
  // gives degenerate weights, throw OutOfDomain before anything is written.
  static void encode(const TriangleList& tris, const Eigen::MatrixXd& data, Eigen::MatrixXd& shape,
                     std::iostream& s, float q, int n, AnchorList& anchors);
  // Reads one sub-stream and returns the n x cols coefficients. Throws CorruptStream for
  // a truncated stream, bad anchors, short blocks, degenerate reconstructed weights or
  // a system that cannot be solved.
  static Eigen::MatrixXd decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                int cols);

  // Writes the rounded getCorrections(data), one block per column.
  void encodeInternal(const Eigen::Ref<const Eigen::MatrixXd>& data, std::iostream& s,
                      float q) const;
  // L * data, (n + a) x k. q is not used: the rounding happens in encodeInternal.
  Eigen::MatrixXd getCorrections(const Eigen::Ref<const Eigen::MatrixXd>& data, float q) const;
  // The least-squares X (n x cols) of L X = D, by LL^T of L^T L; D: (n + a) x cols.
  Eigen::MatrixXd getCoefficients(const Eigen::MatrixXd& D,
                                  CodingSide side = CodingSide::Encoder) const;

  const Eigen::SparseMatrix<double>& getL() const { return L; }

  static int buildNeighborsTable(const TriangleList& tris, NeighborTable& table) {
    return meshcodec::buildNeighborsTable(tris, table);
  }
  static void buildNeighborTriangleTable(const TriangleList& tris, TriangleFanTable& fans) {
    meshcodec::buildNeighborTriangleTable(tris, fans);
  }
  static int neighbourIndex(const std::vector<int>& list, int v) {
    return meshcodec::neighbourIndex(list, v);
  }

 private:
  Eigen::SparseMatrix<double> L;  // (n + a) x n
};

// The matrix of CotanLaplace and DiffusionCotan, (n + a) x n with n = neighbors.size():
// row i holds the diagonal of vertex i's cotangent weights and weight k at column
// neighbors[i][k], except in the column of anchors[0], which keeps only its diagonal and
// anchor entries (the diagonals still count the weights towards it); row n + j holds 1
// at anchors[j]. An empty anchor list makes the system singular and throws OutOfDomain
// for the encoder, CorruptStream for the decoder; ids out of range or repeated: Misuse.
Eigen::SparseMatrix<double> buildAnchoredCotanLaplacian(const TriangleList& tris,
                                                        const ShapeRef& shape,
                                                        const NeighborTable& neighbors,
                                                        const AnchorList& anchors, CodingSide side);

// The shape pass of the least-squares cotangent coders: checks data (n x k) and shape
// (n x 3) (Misuse for other sizes, OutOfDomain for a non-finite entry), then returns the
// Laplace sub-stream of shape with write-back followed by the anchor list again; shape
// becomes the decoder's reconstruction.
std::string laplaceShapePass(const TriangleList& tris, const Eigen::MatrixXd& data,
                             Eigen::MatrixXd& shape, float q, int n, AnchorList& anchors);

// The static encode of CotanLaplace and DiffusionCotan (Coder): the shape pass is held
// back until Coder is built on the reconstruction, so that degenerate weights are
// refused before anything reaches s.
template <typename Coder>
void encodeAfterLaplaceShapePass(const TriangleList& tris, const Eigen::MatrixXd& data,
                                 Eigen::MatrixXd& shape, std::iostream& s, float q, int n,
                                 AnchorList& anchors) {
  const std::string shapePass = laplaceShapePass(tris, data, shape, q, n, anchors);
  const Coder coder(tris, shape, anchors, n, CodingSide::Encoder);
  if (!s.write(shapePass.data(), static_cast<std::streamsize>(shapePass.size()))) {
    throw IoFailure("geometry: the stream refused the reference shape");
  }
  coder.encodeInternal(data, s, q);
}

}  // namespace meshcodec
