#pragma once
// The connectivity structure that the EdgeBreaker coder walks. The encoder builds it
// from the input triangles, pairing each corner with the corner opposite it across
// its edge; the decoder fills one in as it rebuilds the triangles and hands them
// back through tris().
//
// Triangle t owns the corners 3t, 3t+1 and 3t+2; corner 3t+i stands at position i of
// triangles[t]. Corners are signed 32-bit ints, so a table holds at most
// maxTriangles triangles.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "mesh/MeshTypes.hpp"

namespace meshcodec {

// A directed edge from a to b; it never equals its reverse.
struct Edge {
  Edge(unsigned a, unsigned b) : a(a), b(b) {}
  bool operator==(const Edge& other) const { return a == other.a && b == other.b; }

  unsigned a;
  unsigned b;
};

}  // namespace meshcodec

namespace std {

template <>
struct hash<meshcodec::Edge> {
  // Only the low 16 bits of a survive and they overlap b's high bits: weak for large
  // indices, but it is the hash the pairing map is defined with. The fast pairing in
  // CornerTable does not hash at all.
  size_t operator()(const meshcodec::Edge& e) const noexcept {
    return static_cast<size_t>(static_cast<uint32_t>(e.a << 16 | e.b));
  }
};

}  // namespace std

namespace meshcodec {

class EdgeBreaker;

class CornerTable {
 public:
  // 3 * maxTriangles corners still fit a signed 32-bit int.
  static constexpr size_t maxTriangles = 715827882;

  CornerTable() = default;
  // Pairs opposite corners as if every directed edge went through processEdge in
  // triangle order, (a, b), (b, c), (c, a) per triangle; see processEdge for what
  // that means off a closed oriented manifold. Throws OutOfDomain for more than
  // maxTriangles triangles.
  explicit CornerTable(const TriangleList& tris);

  // One pairing step: when `map` holds e, its corner and `corner` become each
  // other's opposite; otherwise the reversed edge is stored with `corner` (an
  // existing key is never replaced). So the first triangle on an edge owns it, every
  // later triangle crossing it the other way links with that first corner (the last
  // such link wins on the first corner's side), and triangles running the same way
  // as the first stay unlinked at -1.
  void processEdge(std::unordered_map<Edge, unsigned>& map, const Edge& e, unsigned corner);

  // Corner arithmetic. n, p and t follow signed truncating division, so they are
  // defined for negative corners too (n(-1) is 0, p(-1) is -2, t(-1) is 0); v, o, r
  // and l need a corner below 3 * triSize(), which the coder guarantees.
  unsigned v(int c) const { return triangles[static_cast<size_t>(c / 3)][c % 3]; }
  static int n(int c) { return c % 3 == 2 ? c - 2 : c + 1; }
  static int p(int c) { return c % 3 == 0 ? c + 2 : c - 1; }
  int o(int c) const { return O[static_cast<size_t>(c)]; }
  static int t(int c) { return c / 3; }
  int r(int c) const { return o(n(c)); }
  int l(int c) const { return o(p(c)); }

  int triSize() const { return static_cast<int>(triangles.size()); }
  // The largest vertex index met, 0 for no triangles: an index, not a count.
  unsigned vmax() const { return maxVertex; }
  TriangleList tris() const { return triangles; }
  const TriangleList& getTriangles() const { return triangles; }

 private:
  friend class EdgeBreaker;  // the decoder fills the fields as it rebuilds a mesh

  void pairThroughEdgeMap();
  void pairThroughVertexBuckets();

  TriangleList triangles;
  // Opposite corner of each corner, -1 when none; the decoder also keeps its
  // not-set (-3) and waiting-to-zip (-2) codes here.
  std::vector<int> O;
  unsigned maxVertex = 0;
};

}  // namespace meshcodec
