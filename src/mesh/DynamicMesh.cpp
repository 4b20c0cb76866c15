#include "mesh/DynamicMesh.hpp"

#include "mesh/Mesh.hpp"

namespace meshcodec {

DynamicMesh::DynamicMesh(int vertexCount, int frameCount, int triangleCount)
    : triangles(static_cast<size_t>(triangleCount), {0u, 0u, 0u}),
      vertices(AnimationMatrix::Zero(3 * static_cast<Eigen::Index>(frameCount), vertexCount)),
      frames(frameCount) {}

void DynamicMesh::setFrameVertices(int f, const Eigen::VectorXd& x, const Eigen::VectorXd& y,
                                   const Eigen::VectorXd& z) {
  vertices.row(f) = x.transpose();
  vertices.row(f + frames) = y.transpose();
  vertices.row(f + 2 * frames) = z.transpose();
}

void DynamicMesh::reindex(const VertexOrder& perm) {
  checkVertexOrder(perm, vertices.cols());
  const AnimationMatrix copy = vertices;
  for (Eigen::Index i = 0; i < vertices.cols(); ++i) vertices.col(perm[i]) = copy.col(i);
  renumberCorners(triangles, perm);
}

AnchorList DynamicMesh::computeAnchors3(int count) const {
  return drawAnchors(vertices.cols(), count);
}

}  // namespace meshcodec
