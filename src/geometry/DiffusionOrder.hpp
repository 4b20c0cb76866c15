#pragma once
// The greedy vertex order along which the error-diffusion coders quantize: a chain
// of Warnsdorff walks over the neighbour table, each step moving to the unvisited
// neighbour with the fewest unvisited neighbours of its own. Encoders build it once
// from the neighbour table; decoders never need it.

#include <vector>

#include "geometry/NeighborTable.hpp"

namespace meshcodec {

// Number of entries u of v's list with unvisited[u] == 1 (an entry listed twice
// counts twice). unvisited has one entry per list of table.
int sigma(const NeighborTable& table, int v, const std::vector<int>& unvisited);

// Sum of sigma(u) over the entries u of v's list with unvisited[u] == 1.
int sigma2(const NeighborTable& table, int v, const std::vector<int>& unvisited);

// One walk from start: appends start, marks it visited, and repeatedly moves to the
// unvisited neighbour of the current vertex with the smallest (sigma, sigma2), the
// first in list order on a full tie, until the current vertex has no unvisited
// neighbour. Every vertex reached is appended to order and marked 0 in unvisited.
// Sets up its neighbour counts in O(table) before walking; computeDiffusionOrder
// pays that once for all its walks.
void Warnsdorff(int start, const NeighborTable& table, std::vector<int>& unvisited,
                std::vector<int>& order);

// Appends the diffusion order of the n = table.size() vertices to order: a walk
// from vertex 0, then from the lowest-numbered vertex not yet reached, and so on.
// order receives a permutation of 0 .. n-1.
void computeDiffusionOrder(const NeighborTable& table, std::vector<int>& order);

}  // namespace meshcodec
