#pragma once
// Geometry coder of method 1: codes an n x cols matrix (vertex positions or PCA
// coefficients) as the rounded uniform Laplacian of every vertex plus the rounded
// values of the anchor vertices, and decodes it by the least-squares solve of those
// rows. The static pipelines call its encode and decode; the cotangent coders use it
// with write-back to code their reference shape.

#include <Eigen/Core>
#include <Eigen/SparseCore>
#include <iosfwd>

#include "geometry/AnchoredLaplacian.hpp"
#include "geometry/NeighborTable.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class Laplace {
 public:
  // anchors: distinct ids in 0 .. n-1 (Misuse otherwise); every corner of tris must
  // be below n.
  Laplace(const TriangleList& tris, int n, const AnchorList& anchors);

  // Appends the anchor list block, then the column blocks, to s. V: n x cols. With
  // writeBack, V becomes what decode returns for the bytes written.
  static void encode(const TriangleList& tris, Eigen::MatrixXd& V, std::iostream& s, float q, int n,
                     AnchorList& anchors, bool writeBack);
  // Appends the column blocks only.
  void encode(Eigen::MatrixXd& V, std::iostream& s, float q, bool writeBack);

  // L * V, (n + a) x cols: the delta coordinates of the n vertices, then the anchors' rows.
  Eigen::MatrixXd getCorrections(const Eigen::MatrixXd& V) const;
  // The least-squares X (n x cols) of L * X = D; D: (n + a) x cols. side names whose
  // fault a singular system is (see solveAnchoredLeastSquares).
  Eigen::MatrixXd getCoefficients(const Eigen::MatrixXd& D,
                                  CodingSide side = CodingSide::Encoder) const;

  // Reads one method-1 sub-stream and returns the n x cols matrix. Throws
  // CorruptStream for an anchor outside 0 .. n-1 or repeated, a column block of
  // fewer than n + a entries, or a system that cannot be solved.
  static Eigen::MatrixXd decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                int cols);

  static int buildNeighborsTable(const TriangleList& tris, NeighborTable& table) {
    return meshcodec::buildNeighborsTable(tris, table);
  }

 private:
  Eigen::SparseMatrix<double> L;  // (n + a) x n
};

}  // namespace meshcodec
