#pragma once
// Helpers shared by the connectivity tests: comparing triangle lists up to triangle
// order and rotation, renumbering, and deterministic variations of closed meshes
// that give the walk other starting points and vertex degrees.

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "mesh/MeshTypes.hpp"

namespace meshcodec::testing {

// Each triangle rotated to start at its smallest index, then the list sorted.
inline TriangleList canonical(TriangleList tris) {
  for (auto& t : tris) std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
  std::sort(tris.begin(), tris.end());
  return tris;
}

inline TriangleList renumbered(TriangleList tris, const std::vector<int>& order) {
  for (auto& t : tris)
    for (auto& corner : t) corner = static_cast<unsigned>(order[corner]);
  return tris;
}

// Small deterministic generator (64-bit LCG), so that variations are reproducible.
class TestRandom {
 public:
  explicit TestRandom(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t below(uint32_t n) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>((state >> 33) % n);
  }

 private:
  uint64_t state;
};

// The same closed mesh with its triangles in another order, each rotated, and its
// vertices relabelled by a random permutation.
inline TriangleList shuffled(TriangleList tris, uint64_t seed) {
  TestRandom random(seed);
  unsigned vertexCount = 0;
  for (const auto& t : tris) vertexCount = std::max({vertexCount, t[0] + 1, t[1] + 1, t[2] + 1});
  std::vector<unsigned> label(vertexCount);
  for (unsigned i = 0; i < vertexCount; ++i) label[i] = i;
  for (unsigned i = vertexCount; i > 1; --i) std::swap(label[i - 1], label[random.below(i)]);
  for (size_t i = tris.size(); i > 1; --i) std::swap(tris[i - 1], tris[random.below(i)]);
  for (auto& t : tris) {
    std::rotate(t.begin(), t.begin() + random.below(3), t.end());
    for (auto& corner : t) corner = label[corner];
  }
  return tris;
}

// Flips up to `flips` random edges (a, b) between triangles (a, b, c) and (b, a, d)
// into (c, d): the mesh stays closed, manifold and oriented, but its vertex degrees
// spread out. A flip is skipped when c and d are already joined or a vertex would
// drop below degree 3.
inline TriangleList flipped(TriangleList tris, int flips, uint64_t seed) {
  TestRandom random(seed);
  std::map<std::pair<unsigned, unsigned>, size_t> owner;  // directed edge -> triangle
  std::map<unsigned, int> degree;
  for (size_t t = 0; t < tris.size(); ++t) {
    for (int k = 0; k < 3; ++k) {
      owner[{tris[t][k], tris[t][(k + 1) % 3]}] = t;
      ++degree[tris[t][k]];
    }
  }
  for (int i = 0; i < flips; ++i) {
    const size_t t1 = random.below(static_cast<uint32_t>(tris.size()));
    const int k = static_cast<int>(random.below(3));
    const unsigned a = tris[t1][k], b = tris[t1][(k + 1) % 3], c = tris[t1][(k + 2) % 3];
    const size_t t2 = owner.at({b, a});
    unsigned d = 0;
    for (unsigned x : tris[t2])
      if (x != a && x != b) d = x;
    if (c == d || owner.count({c, d}) || owner.count({d, c}) || degree[a] <= 3 || degree[b] <= 3) continue;
    for (size_t t : {t1, t2})
      for (int j = 0; j < 3; ++j) owner.erase({tris[t][j], tris[t][(j + 1) % 3]});
    tris[t1] = {c, a, d};
    tris[t2] = {d, b, c};
    for (size_t t : {t1, t2})
      for (int j = 0; j < 3; ++j) owner[{tris[t][j], tris[t][(j + 1) % 3]}] = t;
    --degree[a], --degree[b], ++degree[c], ++degree[d];
  }
  return tris;
}

// A closed genus-0 mesh on which the walk nests k splits: a cone of triangles around
// vertex 1 over the ring 0, 2, 3, ..., k+3, closed by a fan around vertex 0 in which
// every triangle but (2, 3, 0) carries a vertex of degree 3. From corner 0 the walk
// spirals the cone, then alternates C and S along the fan, each S opening its right
// branch before the previous one ends: symbols C^(k+1) R (C S)^k E^(k+1), 4k + 4
// triangles.
inline TriangleList nestedSplits(unsigned k) {
  TriangleList tris{{0, 1, 2}};
  for (unsigned j = 2; j <= k + 2; ++j) tris.push_back({j + 1, j, 1});
  tris.push_back({0, k + 3, 1});
  tris.push_back({2, 3, 0});
  for (unsigned j = 3; j <= k + 2; ++j) {
    const unsigned ear = 2 * k + 6 - j;
    tris.push_back({ear, j + 1, 0});
    tris.push_back({j, ear, 0});
    tris.push_back({j + 1, ear, j});
  }
  return tris;
}

}  // namespace meshcodec::testing
