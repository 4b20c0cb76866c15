// The compressing direction of EdgeBreaker: the walk over the corner table.

#include <string>

#include "common/CodecError.hpp"
#include "connectivity/Clers.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "connectivity/MeshDomain.hpp"

namespace meshcodec {

using CT = CornerTable;

void EdgeBreaker::compress(int c) {
  // Off the domain the walk would follow -1 entries and index outside its tables.
  checkMeshDomain(table);
  const int triangleCount = table.triSize();
  if (c < 0 || c >= 3 * triangleCount) {
    throw Misuse("connectivity: start corner " + std::to_string(c) + " out of range (" +
                 std::to_string(triangleCount) + " triangles)");
  }
  // The domain check has made sure that every index up to vmax() is used, so
  // vmax() < 3T and the vertex flags fit.
  visited.assign(3 * static_cast<size_t>(triangleCount), false);
  M.assign(static_cast<size_t>(table.vmax()) + 1, 0);
  U.assign(static_cast<size_t>(triangleCount), 0);
  clers.clear();
  clers.reserve(static_cast<size_t>(triangleCount) - 1);
  handles.clear();
  T = 0;
  counter = 0;
  for (const int corner : {c, CT::n(c), CT::p(c)}) {
    M[table.v(corner)] = counter++;
    visited[table.v(corner)] = true;
  }
  U[CT::t(c)] = 1;  // triangle 0 of the walk
  compressR(table.o(c));
}

// Each pass of the loop enters one triangle. An S opens a branch: the walk goes right
// first, and when that branch ends (E) it resumes left of the innermost open S,
// unless that side was already reached, which ends the S's own branch too. The
// stack of open S corners stands in for recursion on S.
void EdgeBreaker::compressR(int c) {
  std::vector<int> openS;
  for (;;) {
    U[CT::t(c)] = 1;
    ++T;
    const int rightMark = U[CT::t(table.r(c))];
    const int leftMark = U[CT::t(table.l(c))];
    // A mark above 1 is an S triangle whose left side the walk meets again from
    // elsewhere: record the pair so that the decoder glues the two corners.
    if (rightMark > 1) {
      handles.push_back(rightMark);
      handles.push_back(3 * T + 1);
    }
    if (leftMark > 1) {
      handles.push_back(leftMark);
      handles.push_back(3 * T + 2);
    }
    const unsigned tip = table.v(c);
    if (!visited[tip]) {
      M[tip] = counter++;
      visited[tip] = true;
      clers.push_back(CLERS::C);
      c = table.r(c);
    } else if (rightMark > 0 && leftMark > 0) {
      clers.push_back(CLERS::E);
      for (;;) {
        if (openS.empty()) return;
        c = table.l(openS.back());
        openS.pop_back();
        if (U[CT::t(c)] == 0) break;
      }
    } else if (rightMark > 0) {
      clers.push_back(CLERS::R);
      c = table.l(c);
    } else if (leftMark > 0) {
      clers.push_back(CLERS::L);
      c = table.r(c);
    } else {
      clers.push_back(CLERS::S);
      U[CT::t(c)] = 3 * T + 2;
      openS.push_back(c);
      c = table.r(c);
    }
  }
}

}  // namespace meshcodec
