#pragma once
// Geometry coder method 0: codes an n x cols matrix (vertex positions or per-vertex
// coefficients) over the mesh connectivity. Anchor rows are quantized directly; the
// free rows are sent as corrected quantization along the LDLT factor of the uniform
// Laplacian over the free vertices, and non-zero indices are decoded with a
// reconstruction offset from a rate that the encoder estimates and stores first.
//
// Sub-stream: lambda (4 raw little-endian float bytes), the anchor id block, the
// anchor coordinate block, then one block of m indices per column in factor order.

#include <iosfwd>
#include <vector>

#include <Eigen/Core>

#include "geometry/FreeVertexLaplacian.hpp"
#include "geometry/NeighborTable.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class NewLaplace {
 public:
  // Throws Misuse for anchors that are not distinct ids below n.
  NewLaplace(const TriangleList& tris, int n, const AnchorList& anchors);

  // Appends the sub-stream for V (n x cols). With writeBack, V is left holding exactly
  // what decode returns for it. Throws OutOfDomain when the free system cannot be
  // factored (no anchor at all on a mesh whose factor meets a zero pivot).
  static void encode(const TriangleList& tris, Eigen::MatrixXd& V, std::iostream& s, float q,
                     int n, const AnchorList& anchors, bool writeBack);
  // Reads one sub-stream and returns the n x cols reconstruction; prints n and a line
  // end on standard output. Throws CorruptStream for a stream that ends early, blocks
  // that hold fewer entries than needed, bad anchor ids or an unfactorable system.
  static Eigen::MatrixXd decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                int cols);

  // The rate of the exponential that models the magnitudes of the non-zero delta
  // components of all n vertices (anchors included): their count over their sum.
  float getLambda(const Eigen::MatrixXd& V, int n) const;
  // Writes one block per column of getCorrections(V, q, writeBack, lambda).
  void encode(Eigen::MatrixXd& V, std::iostream& s, float q, bool writeBack, float lambda) const;
  // cols vectors of m indices, entry i belonging to factor row i. With writeBack the
  // free rows of V become the decoder's solution.
  std::vector<std::vector<int>> getCorrections(Eigen::MatrixXd& V, float q, bool writeBack,
                                               float lambda) const;
  // m x cols: row k is the solution for free vertex getFreeVertices()[k], from the
  // dequantized rows R (m x cols, factor order).
  Eigen::MatrixXd getCoefficients(const Eigen::MatrixXd& R) const;

  static int buildNeighborsTable(const TriangleList& tris, NeighborTable& table) {
    return meshcodec::buildNeighborsTable(tris, table);
  }

  const FreeVertexLaplacian& getSystem() const { return system; }
  const NeighborTable& getNeighbors() const { return neighbors; }

 private:
  NeighborTable neighbors;  // over all n vertices; the rate reads anchors' rows too
  FreeVertexLaplacian system;
};

}  // namespace meshcodec
