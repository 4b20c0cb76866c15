// The generated meshes are the ground truth of many other tests: check that each
// is closed, manifold and consistently oriented, with the Euler characteristic of
// its genus.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "support/MeshGenerators.hpp"

namespace meshcodec::testing {
namespace {

TEST(Generators, ClosedOrientedManifoldOfStatedGenus) {
  for (const auto& [name, mesh, genus] : closedMeshZoo()) {
    SCOPED_TRACE(name);
    std::map<std::pair<unsigned, unsigned>, int> directed;
    std::set<unsigned> used;
    for (const auto& t : mesh.getTriangles()) {
      for (int k = 0; k < 3; ++k) {
        ++directed[{t[k], t[(k + 1) % 3]}];
        used.insert(t[k]);
      }
    }
    for (const auto& [edge, count] : directed) {
      EXPECT_EQ(count, 1);
      EXPECT_EQ(directed.count({edge.second, edge.first}), 1u);
    }
    const long long v = mesh.getVertices().rows();
    EXPECT_EQ(static_cast<long long>(used.size()), v);
    const long long f = mesh.getTriangles().size();
    const long long e = directed.size() / 2;
    EXPECT_EQ(v - e + f, 2 - 2 * genus);
  }
}

}  // namespace
}  // namespace meshcodec::testing
