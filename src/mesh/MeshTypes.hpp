#pragma once
// Types that every subsystem passes around: connectivity, positions, the vertex
// renumbering produced by connectivity coding and the anchor vertices of the
// Laplacian coders.

#include <array>
#include <vector>

#include <Eigen/Core>

namespace meshcodec {

// One entry per triangle, its three corners as zero-based vertex indices.
using TriangleList = std::vector<std::array<unsigned int, 3>>;

// V rows by 3 columns (x, y, z), column-major.
using VertexMatrix = Eigen::MatrixXd;

// 3F rows by V columns, row-major: row f holds x of frame f, row F + f its y and
// row 2F + f its z, so column j is the whole trajectory of vertex j.
using AnimationMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// V rows by k columns: the coefficients of each vertex on the trajectory basis.
using CoefficientMatrix = Eigen::MatrixXd;

// Entry i is the new index of input vertex i.
using VertexOrder = std::vector<int>;

// Distinct vertex indices in the order they were drawn.
using AnchorList = std::vector<int>;

}  // namespace meshcodec
