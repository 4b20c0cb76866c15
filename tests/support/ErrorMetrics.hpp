#pragma once
// Distances between an input and a decoded vertex matrix, relative to the size of
// the input, for the accuracy bounds of the geometry tests and benchmarks.

#include <cmath>

#include <Eigen/Core>

namespace meshcodec::testing {

// Length of the diagonal of the axis-aligned bounding box of the rows of v.
inline double boundingBoxDiagonal(const Eigen::MatrixXd& v) {
  return (v.colwise().maxCoeff() - v.colwise().minCoeff()).norm();
}

// Root mean square of the per-vertex distance, over the bounding-box diagonal of
// `reference`. Rows are vertices; both matrices have the same shape.
inline double rmsRelativeError(const Eigen::MatrixXd& reference, const Eigen::MatrixXd& decoded) {
  const double meanSquared = (reference - decoded).rowwise().squaredNorm().mean();
  return std::sqrt(meanSquared) / boundingBoxDiagonal(reference);
}

// Largest per-vertex distance, over the bounding-box diagonal of `reference`.
inline double maxRelativeError(const Eigen::MatrixXd& reference, const Eigen::MatrixXd& decoded) {
  return (reference - decoded).rowwise().norm().maxCoeff() / boundingBoxDiagonal(reference);
}

}  // namespace meshcodec::testing
