#pragma once
// One static triangle mesh: its connectivity and one position per vertex. The
// pipelines load it from OBJ, renumber it by the connectivity coder's vertex order
// and draw the anchors of the geometry coders from it.

#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class Mesh {
 public:
  Mesh(int vertexCount, int triangleCount);

  const TriangleList& getTriangles() const { return triangles; }
  VertexMatrix& getVertices() { return vertices; }
  const VertexMatrix& getVertices() const { return vertices; }

  void setTriangles(const TriangleList& t) { triangles = t; }
  void setTriangles(TriangleList&& t) { triangles = std::move(t); }
  void setVertices(const Eigen::MatrixXd& m) { vertices = m; }
  void setVertices(const Eigen::VectorXd& x, const Eigen::VectorXd& y, const Eigen::VectorXd& z);

  // Mean length over all 3T triangle sides (shared edges count once per triangle),
  // narrowed to float: the unit of the quantization step.
  float avgEL() const;

  // Row perm[i] receives old row i; every corner c becomes perm[c]. Triangle and
  // corner order are kept.
  void reindex(const VertexOrder& perm);

  // count distinct vertex indices drawn reproducibly (see drawAnchors).
  AnchorList computeAnchors3(int count) const;

 private:
  TriangleList triangles;
  VertexMatrix vertices;
};

// Draws count distinct indices in 0 .. vertexCount-1 from a minimal-standard LCG
// with seed 1, by the same uniform-integer procedure on every platform, so that the
// list is a function of (vertexCount, count) alone. Throws Misuse when no such list
// exists (count > vertexCount), instead of looping forever.
AnchorList drawAnchors(long long vertexCount, int count);

// Shared by both mesh classes' reindex: perm must name a valid position for each of
// the vertexCount vertices, and every corner must have an entry in perm.
void checkVertexOrder(const VertexOrder& perm, Eigen::Index vertexCount);
void renumberCorners(TriangleList& triangles, const VertexOrder& perm);

}  // namespace meshcodec
