#pragma once
// The per-vertex adjacency lists shared by every Laplacian coder. One rule builds
// them from a triangle list, so that all coders see the same neighbours in the same
// (discovery) order.

#include <vector>

#include "mesh/MeshTypes.hpp"

namespace meshcodec {

// One list per vertex, neighbours in discovery order.
using NeighborTable = std::vector<std::vector<int>>;

// For each triangle in order and each side (t[k], t[k+1]): when t[k+1] <= t[k],
// t[k+1] joins t[k]'s list and t[k] joins t[k+1]'s. On a closed, consistently
// oriented mesh each edge is met once in this direction, so each list holds each
// neighbour once. table must already hold one list per vertex; a corner without a
// list throws CorruptStream. Returns the number of entries added.
int buildNeighborsTable(const TriangleList& tris, NeighborTable& table);

}  // namespace meshcodec
