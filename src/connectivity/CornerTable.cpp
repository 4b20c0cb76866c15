#include "connectivity/CornerTable.hpp"

#include <algorithm>
#include <string>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace {

// Directed edge k of a triangle (k = 0: a->b, 1: b->c, 2: c->a) is paired through
// the corner that does not lie on it.
constexpr int cornerOffOfEdge[3] = {2, 0, 1};

}  // namespace

CornerTable::CornerTable(const TriangleList& tris) {
  if (tris.size() > maxTriangles) {
    throw OutOfDomain("connectivity: " + std::to_string(tris.size()) +
                      " triangles are more than corner numbers can address (at most " +
                      std::to_string(maxTriangles) + ")");
  }
  triangles = tris;
  O.assign(3 * tris.size(), -1);
  for (const auto& tri : triangles) {
    maxVertex = std::max({maxVertex, tri[0], tri[1], tri[2]});
  }
  if (triangles.empty()) return;
  // Bucketing by vertex needs one counter per index; indices beyond 3T cannot come
  // from a mesh the coder accepts, and the map keeps memory bounded by T for them.
  if (maxVertex < O.size()) {
    pairThroughVertexBuckets();
  } else {
    pairThroughEdgeMap();
  }
}

void CornerTable::processEdge(std::unordered_map<Edge, unsigned>& map, const Edge& e,
                              unsigned corner) {
  if (corner >= O.size()) {
    throw Misuse("connectivity: corner " + std::to_string(corner) + " out of range (" +
                 std::to_string(triangles.size()) + " triangles)");
  }
  const auto found = map.find(e);
  if (found != map.end()) {
    const unsigned c2 = found->second;
    O[corner] = static_cast<int>(c2);
    O[c2] = static_cast<int>(corner);
  } else {
    map.emplace(Edge(e.b, e.a), corner);
  }
}

void CornerTable::pairThroughEdgeMap() {
  std::unordered_map<Edge, unsigned> map;
  map.reserve(O.size());
  for (size_t t = 0; t < triangles.size(); ++t) {
    const auto& tri = triangles[t];
    const unsigned base = static_cast<unsigned>(3 * t);
    for (int k = 0; k < 3; ++k) {
      processEdge(map, Edge(tri[k], tri[(k + 1) % 3]), base + cornerOffOfEdge[k]);
    }
  }
}

// Same pairing as the edge map, without hashing. Under processEdge the first
// occurrence of an undirected edge stores the only key that edge ever gets, so the
// outcome per edge depends only on its occurrences in processing order: each later
// one running against the first links with the first's corner. Sorting the directed
// edges by (lower vertex, higher vertex, processing index) lines those occurrences up.
void CornerTable::pairThroughVertexBuckets() {
  const size_t halfEdges = O.size();
  const size_t buckets = static_cast<size_t>(maxVertex) + 1;
  // Directed edge h is edge h % 3 of triangle h / 3, so h is its processing index.
  auto corner = [](size_t h) { return static_cast<int>(h - h % 3 + cornerOffOfEdge[h % 3]); };

  // Counting sort by lower vertex; bucketEnd[x] ends up one past bucket x.
  std::vector<unsigned> bucketEnd(buckets + 1, 0);
  for (const auto& tri : triangles) {
    ++bucketEnd[std::min(tri[0], tri[1]) + 1];
    ++bucketEnd[std::min(tri[1], tri[2]) + 1];
    ++bucketEnd[std::min(tri[2], tri[0]) + 1];
  }
  for (size_t x = 1; x <= buckets; ++x) bucketEnd[x] += bucketEnd[x - 1];
  // Key: the higher vertex, then the processing index (below 2^31), then one bit set
  // when the edge falls from the higher vertex. Sorting a bucket groups each edge with
  // its occurrences in processing order, and the direction needs no second look-up.
  std::vector<uint64_t> keys(halfEdges);
  uint64_t h = 0;
  for (const auto& tri : triangles) {
    for (int k = 0; k < 3; ++k, ++h) {
      const unsigned from = tri[k], to = tri[k == 2 ? 0 : k + 1];
      const uint64_t higher = std::max(from, to);
      keys[bucketEnd[std::min(from, to)]++] = higher << 32 | h << 1 | (from > to);
    }
  }

  size_t begin = 0;
  for (size_t x = 0; x < buckets; ++x) {
    const size_t end = bucketEnd[x];
    uint64_t* first = keys.data() + begin;
    uint64_t* last = keys.data() + end;
    if (end - begin <= 16) {
      for (uint64_t* i = first + 1; i < last; ++i) {  // buckets hold a vertex's few edges
        const uint64_t key = *i;
        uint64_t* j = i;
        for (; j > first && *(j - 1) > key; --j) *j = *(j - 1);
        *j = key;
      }
    } else {
      std::sort(first, last);
    }
    // Each run of equal higher vertices is one undirected edge, first occurrence first.
    // A loop edge (x, x) is its own reverse, so every later occurrence finds the key.
    for (uint64_t* group = first; group < last;) {
      const uint64_t higher = *group >> 32;
      const bool loop = higher == x;
      const int c1 = corner(static_cast<uint32_t>(*group) >> 1);
      const uint64_t firstFalls = *group & 1;
      uint64_t* other = group + 1;
      for (; other < last && *other >> 32 == higher; ++other) {
        if ((*other & 1) != firstFalls || loop) {
          const int c = corner(static_cast<uint32_t>(*other) >> 1);
          O[static_cast<size_t>(c)] = c1;
          O[static_cast<size_t>(c1)] = c;
        }
      }
      group = other;
    }
    begin = end;
  }
}

}  // namespace meshcodec
