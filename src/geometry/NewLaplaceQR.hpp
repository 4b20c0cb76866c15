#pragma once
// Geometry coder method 3 of the static commands: the system of method 0 (anchors
// stored directly, free vertices through the uniform Laplacian over the free
// vertices, corrected quantization) factored by a sparse QR with natural column
// order. Free rows are dequantized plainly, every pivot is used, and there is no rate.
//
// Sub-stream: the anchor id block, the anchor coordinate block, then one block of m
// indices per column, entry i belonging to row i of the QR factor.

#include <iosfwd>
#include <vector>

#include <Eigen/Core>

#include "geometry/FreeVertexLaplacian.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class NewLaplaceQR {
 public:
  // Throws Misuse for anchors that are not distinct ids below n.
  NewLaplaceQR(const TriangleList& tris, int n, const AnchorList& anchors);

  // Appends the sub-stream for V (n x cols); with writeBack V is left holding exactly
  // what decode returns for it.
  static void encode(const TriangleList& tris, Eigen::MatrixXd& V, std::iostream& s, float q,
                     int n, const AnchorList& anchors, bool writeBack);
  // Reads one sub-stream and returns the n x cols reconstruction; prints n and a line
  // end on standard output. Throws CorruptStream for blocks that hold fewer entries
  // than needed or bad anchor ids.
  static Eigen::MatrixXd decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                int cols);

  // Writes one block per column of getCorrections(V, q, writeBack).
  void encode(Eigen::MatrixXd& V, std::iostream& s, float q, bool writeBack) const;
  // cols vectors of m indices, entry i belonging to row i of the factor. With
  // writeBack the free rows of V become the decoder's solution.
  std::vector<std::vector<int>> getCorrections(Eigen::MatrixXd& V, float q, bool writeBack) const;
  // m x cols: row k is the solution for free vertex getFreeVertices()[k].
  Eigen::MatrixXd getCoefficients(const Eigen::MatrixXd& R) const;

  static int buildNeighborsTable(const TriangleList& tris, NeighborTable& table) {
    return meshcodec::buildNeighborsTable(tris, table);
  }

  const FreeVertexLaplacian& getSystem() const { return system; }

 private:
  FreeVertexLaplacian system;
};

}  // namespace meshcodec
