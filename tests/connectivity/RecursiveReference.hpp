#pragma once
// Straightforward recursive transcriptions of the walk, the rebuild and the edge-map
// pairing, kept as references for the coder's explicit-stack versions. They recurse
// once per S and once per zipped edge, so they are only run on small and medium
// meshes.

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "connectivity/Clers.hpp"
#include "connectivity/CornerTable.hpp"

namespace meshcodec::testing {

// Opposite corners by the edge map with std::hash<Edge>, one step per directed edge.
inline std::vector<int> referenceOpposites(const TriangleList& tris) {
  std::vector<int> O(3 * tris.size(), -1);
  std::unordered_map<Edge, unsigned> map;
  auto process = [&](Edge e, unsigned corner) {
    if (map.count(e)) {
      const unsigned c2 = map[e];
      O[corner] = static_cast<int>(c2);
      O[c2] = static_cast<int>(corner);
    } else {
      map.insert({Edge(e.b, e.a), corner});
    }
  };
  for (size_t t = 0; t < tris.size(); ++t) {
    const auto [a, b, c] = tris[t];
    const unsigned base = static_cast<unsigned>(3 * t);
    process(Edge(a, b), base + 2);
    process(Edge(b, c), base);
    process(Edge(c, a), base + 1);
  }
  return O;
}

struct RecursiveEncoder {
  explicit RecursiveEncoder(const CornerTable& ct) : table(ct) {}

  void compress(int c) {
    visited.assign(3 * table.triSize(), false);
    M.assign(table.vmax() + 1, 0);
    U.assign(table.triSize(), 0);
    T = 0;
    counter = 0;
    for (int corner : {c, CornerTable::n(c), CornerTable::p(c)}) {
      M[table.v(corner)] = counter++;
      visited[table.v(corner)] = true;
    }
    U[T] = 1;
    compressR(table.o(c));
  }

  void compressR(int c) {
    for (;;) {
      U[table.t(c)] = 1;
      T += 1;
      if (U[table.t(table.r(c))] > 1) {
        handles.push_back(U[table.t(table.r(c))]);
        handles.push_back(3 * T + 1);
      }
      if (U[table.t(table.l(c))] > 1) {
        handles.push_back(U[table.t(table.l(c))]);
        handles.push_back(3 * T + 2);
      }
      if (!visited[table.v(c)]) {
        M[table.v(c)] = counter++;
        visited[table.v(c)] = true;
        clers.push_back(CLERS::C);
        c = table.r(c);
      } else if (U[table.t(table.r(c))] > 0) {
        if (U[table.t(table.l(c))] > 0) {
          clers.push_back(CLERS::E);
          return;
        }
        clers.push_back(CLERS::R);
        c = table.l(c);
      } else if (U[table.t(table.l(c))] > 0) {
        clers.push_back(CLERS::L);
        c = table.r(c);
      } else {
        clers.push_back(CLERS::S);
        U[table.t(c)] = 3 * T + 2;
        compressR(table.r(c));
        c = table.l(c);
        if (U[table.t(c)] > 0) return;
      }
    }
  }

  const CornerTable& table;
  std::vector<int> M, clers, handles, U;
  std::vector<bool> visited;
  int T = 0, counter = 0;
};

struct RecursiveDecoder {
  TriangleList decompress(const std::vector<int>& clersIn, const std::vector<int>& handlesIn) {
    clers = clersIn;
    handles = handlesIn;
    const size_t s = clers.size();
    O.assign(3 * (s + 1), -3);
    O[1] = O[2] = -1;
    M.assign(3 * (s + 1), -1);
    M[0] = 0, M[1] = 1, M[2] = 2;
    T = 0, N = 2, counter = 0;
    for (size_t i = 0; i < handles.size(); i += 2) {
      O[handles[i]] = handles[i + 1];
      O[handles[i + 1]] = handles[i];
    }
    decompressR(0);
    TriangleList tris(s + 1);
    for (size_t t = 0; t <= s; ++t) {
      tris[t] = {unsigned(M[3 * t]), unsigned(M[3 * t + 1]), unsigned(M[3 * t + 2])};
    }
    return tris;
  }

  static int n(int c) { return CornerTable::n(c); }
  static int p(int c) { return CornerTable::p(c); }

  void decompressR(int c) {
    for (;;) {
      T += 1;
      O[c] = 3 * T;
      O[3 * T] = c;
      M[3 * T + 1] = M[p(c)];
      M[3 * T + 2] = M[n(c)];
      c = n(O[c]);
      switch (clers[T - 1]) {
        case CLERS::C:
          O[n(c)] = -1;
          N += 1;
          M[3 * T] = N;
          break;
        case CLERS::R:
          O[c] = -2;
          checkHandle(c);
          c = n(c);
          break;
        case CLERS::L:
          O[n(c)] = -2;
          if (!checkHandle(n(c))) zip(n(c));
          break;
        case CLERS::E:
          O[c] = -2;
          O[n(c)] = -2;
          checkHandle(c);
          if (!checkHandle(n(c))) zip(n(c));
          return;
        case CLERS::S:
          decompressR(c);
          c = n(c);
          if (O[c] >= 0) return;
          break;
      }
    }
  }

  bool checkHandle(int c) {
    if (counter >= int(handles.size()) || c != handles[counter + 1]) return false;
    const int h0 = handles[counter];
    O[c] = h0;
    O[h0] = c;
    int a = p(c);
    while (O[a] >= 0 && a != h0) a = p(O[a]);
    if (O[a] == -2) zip(a);
    a = p(O[c]);
    while (O[a] >= 0 && a != c) a = p(O[a]);
    if (O[a] == -2) zip(a);
    counter += 2;
    return true;
  }

  void zip(int c) {
    int b = n(c);
    while (O[b] >= 0 && O[b] != c) b = n(O[b]);
    if (O[b] != -1) return;
    O[c] = b;
    O[b] = c;
    int a = n(c);
    M[n(a)] = M[n(b)];
    while (O[a] >= 0 && a != b) {
      a = n(O[a]);
      M[n(a)] = M[n(b)];
    }
    c = p(c);
    while (O[c] >= 0 && c != b) c = p(O[c]);
    if (O[c] == -2) zip(c);
  }

  std::vector<int> O, M, clers, handles;
  int T = 0, N = 0, counter = 0;
};

}  // namespace meshcodec::testing
