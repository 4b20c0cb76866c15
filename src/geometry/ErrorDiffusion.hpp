#pragma once
// Quantization with error diffusion: the encoder side of the diffusion coders. It
// takes the transformed values of every vertex (a Laplacian of any weights times the
// data, followed by the anchor rows), visits the vertices along the diffusion order
// and pushes each rounding error forward, half to the next vertex of the order and
// half in equal shares to the neighbours not yet quantized. The decoder does not
// know about it: it dequantizes the indices as if they had been rounded one by one.

#include <Eigen/Core>
#include <vector>

#include "geometry/NeighborTable.hpp"

namespace meshcodec {

// Row-major, because the diffusion walks the matrix one vertex row at a time.
using DiffusionMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// D: (n + a) x cols; rows 0 .. n-1 belong to vertices 0 .. n-1, rows n .. n+a-1 to
//    the anchors. Used as working storage: on return it holds the diffused values.
// order: a permutation of 0 .. n-1 (the diffusion order); neighbors: n lists.
// q: the quantization step.
// indices: set to cols vectors of n + a indices, entry r for row r of D (vertex rows
//    at their vertex index, not at their position in the order).
// Throws Misuse when the shapes disagree or order is not a permutation.
void quantizeWithErrorDiffusion(DiffusionMatrix& D, const std::vector<int>& order,
                                const NeighborTable& neighbors, float q,
                                std::vector<std::vector<int>>& indices);

}  // namespace meshcodec
