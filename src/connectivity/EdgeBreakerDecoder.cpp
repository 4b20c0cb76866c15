// The decompressing direction of EdgeBreaker: rebuilding triangles from the symbols
// and handle pairs, gluing handles and zipping free edges.
//
// Codes kept in the table's O while decoding: -3 not set yet, -1 a free edge on the
// border of the region decoded so far, -2 an edge waiting to be zipped, 0 or more the
// opposite corner. Every value stored is one of these codes or a corner below
// 3 * (symbols + 1), checked for the handle list before the walk, so following an
// entry of 0 or more never leaves the tables.

#include <string>
#include <utility>

#include "common/CodecError.hpp"
#include "connectivity/Clers.hpp"
#include "connectivity/EdgeBreaker.hpp"

namespace meshcodec {

namespace {

using CT = CornerTable;

// Budget of fan-walk steps for one rebuild: 64 per corner plus a fixed allowance of
// 2^26 (a fraction of a second of walking). Meshes met in practice take about 2 steps per
// corner, but the walks are not linear in the worst case: a stream built to make zip
// after zip circle the same large fan costs time quadratic in its length, and the
// budget turns that into an error instead of a hang.
constexpr long long fanStepsPerCorner = 64;
constexpr long long fanStepsAllowance = 1LL << 26;

}  // namespace

// A walk visits each corner at most once unless the stream is corrupt, so the corner
// count bounds every single walk, and a cycle ends in an error instead of a hang.
inline void EdgeBreaker::stepAlongFan(long long& walkSteps, int corner) {
  if (--walkSteps < 0) {
    throw CorruptStream("connectivity: the fan around corner " + std::to_string(corner) +
                        " never closes");
  }
  if (--fanSteps < 0) {
    const long long corners = static_cast<long long>(table.O.size());
    throw CorruptStream("connectivity: rebuilding " + std::to_string(corners / 3) +
                        " triangles takes more than " +
                        std::to_string(fanStepsPerCorner * corners + fanStepsAllowance) +
                        " steps around fans: the stream is corrupt or its mesh pathological");
  }
}

CornerTable EdgeBreaker::decompress(const std::vector<int>& clersIn,
                                    const std::vector<int>& handlesIn) {
  rebuild(clersIn, handlesIn);
  return table;
}

void EdgeBreaker::rebuild(std::vector<int> clersIn, std::vector<int> handlesIn) {
  clers = std::move(clersIn);
  handles = std::move(handlesIn);
  checkLists();

  const size_t symbols = clers.size();
  const size_t corners = 3 * (symbols + 1);
  table = CornerTable();
  table.O.assign(corners, -3);
  table.O[1] = -1;  // the two free sides of triangle 0; corner 0 is the first gate
  table.O[2] = -1;
  M.assign(corners, -1);
  M[0] = 0;
  M[1] = 1;
  M[2] = 2;
  T = 0;
  N = 2;
  counter = 0;
  fanSteps = fanStepsPerCorner * static_cast<long long>(corners) + fanStepsAllowance;
  std::vector<int>& O = table.O;
  for (size_t i = 0; i < handles.size(); i += 2) {
    O[handles[i]] = handles[i + 1];
    O[handles[i + 1]] = handles[i];
  }

  decompressR(0);
  checkResult();

  table.triangles.resize(symbols + 1);
  for (size_t t = 0; t <= symbols; ++t) {
    table.triangles[t] = {static_cast<unsigned>(M[3 * t]), static_cast<unsigned>(M[3 * t + 1]),
                          static_cast<unsigned>(M[3 * t + 2])};
  }
  table.maxVertex = static_cast<unsigned>(N);  // checkResult: every M lies in 0 .. N
}

void EdgeBreaker::checkLists() const {
  if (clers.size() + 1 > CornerTable::maxTriangles) {
    throw CorruptStream("connectivity: " + std::to_string(clers.size()) +
                        " symbols are more than corner numbers can address");
  }
  for (size_t i = 0; i < clers.size(); ++i) {
    if (clers[i] < 0 || clers[i] >= CLERS::count) {
      throw CorruptStream("connectivity: symbol " + std::to_string(clers[i]) + " at position " +
                          std::to_string(i) + " is not one of C, R, L, E, S (0 to 4)");
    }
  }
  if (handles.size() % 2 != 0) {
    throw CorruptStream("connectivity: handle list of odd length " +
                        std::to_string(handles.size()));
  }
  const long long corners = 3 * (static_cast<long long>(clers.size()) + 1);
  for (size_t i = 0; i < handles.size(); ++i) {
    if (handles[i] < 0 || handles[i] >= corners) {
      throw CorruptStream("connectivity: handle corner " + std::to_string(handles[i]) +
                          " out of range (" + std::to_string(clers.size() + 1) + " triangles)");
    }
  }
}

// Each pass attaches triangle T at gate c and reads its symbol. An S decodes the
// right branch first from the same gate, then resumes at the S triangle's left
// corner unless a handle has glued it already; the stack of open S gates stands in
// for recursion on S.
void EdgeBreaker::decompressR(int c) {
  std::vector<int>& O = table.O;
  const int symbols = static_cast<int>(clers.size());
  std::vector<int> openS;
  for (;;) {
    if (T == symbols) {
      throw CorruptStream("connectivity: the walk needs more than the " +
                          std::to_string(symbols) + " symbols in the stream");
    }
    ++T;
    const int tip = 3 * T;
    O[c] = tip;
    O[tip] = c;
    M[tip + 1] = M[CT::p(c)];
    M[tip + 2] = M[CT::n(c)];
    c = tip + 1;
    switch (clers[T - 1]) {
      case CLERS::C:
        O[CT::n(c)] = -1;
        M[tip] = ++N;
        break;
      case CLERS::R:
        O[c] = -2;
        checkHandle(c);
        c = CT::n(c);
        break;
      case CLERS::L:
        O[CT::n(c)] = -2;
        if (!checkHandle(CT::n(c))) zip(CT::n(c));
        break;
      case CLERS::E:
        O[c] = -2;
        O[CT::n(c)] = -2;
        checkHandle(c);
        if (!checkHandle(CT::n(c))) zip(CT::n(c));
        for (;;) {
          if (openS.empty()) return;
          c = CT::n(openS.back());
          openS.pop_back();
          if (O[c] < 0) break;
        }
        break;
      default:  // CLERS::S; checkLists has excluded every other value
        openS.push_back(c);
        break;
    }
  }
}

bool EdgeBreaker::checkHandle(int c) {
  if (static_cast<size_t>(counter) >= handles.size() || c != handles[counter + 1]) return false;
  std::vector<int>& O = table.O;
  const int h0 = handles[counter];
  O[c] = h0;
  O[h0] = c;
  long long budget = static_cast<long long>(O.size());
  int a = CT::p(c);
  while (O[a] >= 0 && a != h0) {
    stepAlongFan(budget, c);
    a = CT::p(O[a]);
  }
  if (O[a] == -2) zip(a);
  // A zip started on a waiting edge overwrites only negative entries, so O[c] still
  // holds a corner; the test keeps that an invariant of this code, not of the stream.
  if (O[c] < 0) throw CorruptStream("connectivity: handle corner " + std::to_string(c) + " came unglued");
  budget = static_cast<long long>(O.size());
  a = CT::p(O[c]);
  while (O[a] >= 0 && a != c) {
    stepAlongFan(budget, c);
    a = CT::p(O[a]);
  }
  if (O[a] == -2) zip(a);
  counter += 2;
  return true;
}

// A loop stands in for zip's tail call on the next waiting edge.
void EdgeBreaker::zip(int c) {
  std::vector<int>& O = table.O;
  const long long corners = static_cast<long long>(O.size());
  for (;;) {
    long long budget = corners;
    int b = CT::n(c);
    while (O[b] >= 0 && O[b] != c) {
      stepAlongFan(budget, c);
      b = CT::n(O[b]);
    }
    if (O[b] != -1) return;
    O[c] = b;
    O[b] = c;
    const int vertex = M[CT::n(b)];
    int a = CT::n(c);
    M[CT::n(a)] = vertex;
    budget = corners;
    while (O[a] >= 0 && a != b) {
      stepAlongFan(budget, c);
      a = CT::n(O[a]);
      M[CT::n(a)] = vertex;
    }
    budget = corners;
    c = CT::p(c);
    while (O[c] >= 0 && c != b) {
      stepAlongFan(budget, c);
      c = CT::p(O[c]);
    }
    if (O[c] != -2) return;
  }
}

void EdgeBreaker::checkResult() const {
  const std::vector<int>& O = table.O;
  if (T != static_cast<int>(clers.size())) {
    throw CorruptStream("connectivity: the walk ended after " + std::to_string(T) + " of " +
                        std::to_string(clers.size()) + " symbols");
  }
  if (static_cast<size_t>(counter) != handles.size()) {
    throw CorruptStream("connectivity: the walk used " + std::to_string(counter / 2) + " of " +
                        std::to_string(handles.size() / 2) + " handle pairs");
  }
  std::vector<bool> used(static_cast<size_t>(N) + 1, false);
  for (size_t c = 0; c < M.size(); ++c) {
    if (M[c] < 0) {
      throw CorruptStream("connectivity: corner " + std::to_string(c) + " never received a vertex");
    }
    used[static_cast<size_t>(M[c])] = true;  // M holds only copies of 0 .. N or -1
    const int opposite = O[c];
    if (opposite < 0 || O[static_cast<size_t>(opposite)] != static_cast<int>(c)) {
      throw CorruptStream("connectivity: the edge opposite corner " + std::to_string(c) +
                          " is left open: the stream does not describe a closed surface");
    }
  }
  for (size_t vertex = 0; vertex < used.size(); ++vertex) {
    if (!used[vertex]) {
      throw CorruptStream("connectivity: vertex " + std::to_string(vertex) +
                          " ends up on no triangle");
    }
  }
}

}  // namespace meshcodec
