#pragma once
// An animation: one connectivity shared by every frame and one position per vertex
// and frame, stored as an AnimationMatrix whose columns are vertex trajectories.

#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class DynamicMesh {
 public:
  DynamicMesh(int vertexCount, int frameCount, int triangleCount);

  const AnimationMatrix& getVertices() const { return vertices; }
  const TriangleList& getTriangles() const { return triangles; }

  void setTriangles(const TriangleList& t) { triangles = t; }
  // Takes the matrix's size; the frame count given to the constructor stays.
  void setVertices(const AnimationMatrix& m) { vertices = m; }
  void setFrameVertices(int f, const Eigen::VectorXd& x, const Eigen::VectorXd& y,
                        const Eigen::VectorXd& z);

  // Column perm[i] receives old column i; every corner c becomes perm[c].
  void reindex(const VertexOrder& perm);
  AnchorList computeAnchors3(int count) const;

 private:
  TriangleList triangles;
  AnimationMatrix vertices;
  int frames;
};

}  // namespace meshcodec
