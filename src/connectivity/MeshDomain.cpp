#include "connectivity/MeshDomain.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace {

using CT = CornerTable;

std::string edgeText(unsigned from, unsigned to) {
  return "(" + std::to_string(from) + ", " + std::to_string(to) + ")";
}

std::string triangleText(const CornerTable& table, int t) {
  const auto& tri = table.getTriangles()[static_cast<size_t>(t)];
  return "triangle " + std::to_string(t) + " (" + std::to_string(tri[0]) + ", " +
         std::to_string(tri[1]) + ", " + std::to_string(tri[2]) + ")";
}

// True when c and its opposite point at each other. Construction from triangles only
// ever pairs an edge with a later one running the other way, so a mutual pair is an
// edge used once in each direction; looking the vertices up again would double the
// cost of the check for nothing.
bool paired(const CornerTable& table, int c, int corners) {
  const int opposite = table.o(c);
  return opposite >= 0 && opposite < corners && table.o(opposite) == c;
}

// Explains why the edge opposite corner c is not paired with exactly one triangle
// running the other way. Only runs on failure, so it may scan the whole list.
[[noreturn]] void throwBadEdge(const CornerTable& table, int c) {
  const unsigned from = table.v(CT::n(c)), to = table.v(CT::p(c));
  std::vector<int> along, against;
  const TriangleList& tris = table.getTriangles();
  for (size_t t = 0; t < tris.size(); ++t) {
    for (int k = 0; k < 3; ++k) {
      const unsigned a = tris[t][k], b = tris[t][(k + 1) % 3];
      if (a == from && b == to) along.push_back(static_cast<int>(t));
      if (a == to && b == from) against.push_back(static_cast<int>(t));
    }
  }
  const size_t uses = along.size() + against.size();
  const std::string edge = "connectivity: edge " + edgeText(from, to);
  if (uses == 1) {
    throw OutOfDomain("connectivity: border edge " + edgeText(from, to) + ": only " +
                      triangleText(table, CT::t(c)) + " uses it");
  }
  if (uses > 2) {
    throw OutOfDomain(edge + " is shared by " + std::to_string(uses) + " triangles");
  }
  if (along.size() == 2) {
    throw OutOfDomain(edge + " runs the same way in triangles " + std::to_string(along[0]) +
                      " and " + std::to_string(along[1]) + " (inconsistent orientation)");
  }
  throw OutOfDomain(edge + " of corner " + std::to_string(c) + " is not paired both ways");
}

// Reports the first badly paired edge in corner order, if there is one.
void throwFirstBadEdge(const CornerTable& table, int corners) {
  for (int c = 0; c < corners; ++c) {
    if (!paired(table, c, corners)) throwBadEdge(table, c);
  }
}

}  // namespace

void checkMeshDomain(const CornerTable& table) {
  const TriangleList& tris = table.getTriangles();
  const int triangleCount = table.triSize();
  if (triangleCount == 0) throw OutOfDomain("connectivity: empty triangle list");
  const int corners = 3 * triangleCount;

  // At most 3T distinct indices are used, so the first unused one is at most 3T:
  // flags up to there suffice even when vmax() is far larger.
  const size_t flagged = std::min<size_t>(table.vmax(), static_cast<size_t>(corners)) + 1;
  {
    std::vector<bool> used(flagged, false);
    for (size_t t = 0; t < tris.size(); ++t) {
      const unsigned a = tris[t][0], b = tris[t][1], c = tris[t][2];
      if (a == b || b == c || c == a) {
        throw OutOfDomain("connectivity: " + triangleText(table, static_cast<int>(t)) +
                          " repeats vertex " + std::to_string(a == b || a == c ? a : b));
      }
      for (const unsigned vertex : {a, b, c}) {
        if (vertex < flagged) used[vertex] = true;
      }
    }
    const auto unused = std::find(used.begin(), used.end(), false);
    if (unused != used.end()) {
      throw OutOfDomain("connectivity: vertex " + std::to_string(unused - used.begin()) +
                        " is used by no triangle (largest index " +
                        std::to_string(table.vmax()) + ")");
    }
  }

  // Around v(c), d -> n(o(n(d))) steps to the next corner of the same vertex. Each
  // corner is the n(d) of exactly one step, so checking the pairing at every step
  // checks every edge, and over mutual pairs the step is invertible: each walk comes
  // back to where it started, through one fan. A second fan on a vertex that already
  // has one is a pinch.
  {
    std::vector<bool> cornerSeen(static_cast<size_t>(corners), false);
    std::vector<bool> vertexSeen(static_cast<size_t>(table.vmax()) + 1, false);
    for (int c = 0; c < corners; ++c) {
      if (cornerSeen[c]) continue;
      const unsigned vertex = table.v(c);
      if (vertexSeen[vertex]) {
        throwFirstBadEdge(table, corners);  // a broken edge elsewhere explains more
        throw OutOfDomain("connectivity: vertex " + std::to_string(vertex) +
                          " is not manifold: its triangles form more than one fan");
      }
      vertexSeen[vertex] = true;
      int d = c;
      do {
        cornerSeen[d] = true;
        const int x = CT::n(d);
        if (!paired(table, x, corners)) throwFirstBadEdge(table, corners);
        d = CT::n(table.o(x));
      } while (d != c);
    }
  }

  // Triangles reachable from triangle 0 across edges.
  std::vector<bool> reached(static_cast<size_t>(triangleCount), false);
  std::vector<int> pending;
  pending.reserve(static_cast<size_t>(triangleCount));
  reached[0] = true;
  pending.push_back(0);
  int reachedCount = 1;
  while (!pending.empty()) {
    const int t = pending.back();
    pending.pop_back();
    for (int k = 0; k < 3; ++k) {
      const int neighbour = CT::t(table.o(3 * t + k));
      if (!reached[neighbour]) {
        reached[neighbour] = true;
        ++reachedCount;
        pending.push_back(neighbour);
      }
    }
  }
  if (reachedCount < triangleCount) {
    const auto first = std::find(reached.begin(), reached.end(), false) - reached.begin();
    throw OutOfDomain("connectivity: " + triangleText(table, static_cast<int>(first)) +
                      " is not connected to triangle 0: the mesh has more than one component");
  }
}

}  // namespace meshcodec
