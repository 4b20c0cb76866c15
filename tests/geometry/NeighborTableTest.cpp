#include <gtest/gtest.h>

#include <algorithm>

#include "common/CodecError.hpp"
#include "geometry/NeighborTable.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

struct TableCase {
  const char* name;
  Mesh mesh;
  NeighborTable lists;
  int count;
};

TEST(NeighborTable, ListsAndCountOfTheSmallSolids) {
  const TableCase cases[] = {
      {"tetrahedron", testing::tetrahedron(), {{2, 1, 3}, {3, 0, 2}, {0, 3, 1}, {1, 2, 0}}, 12},
      {"octahedron",
       testing::octahedron(),
       {{4, 3, 2, 5}, {2, 4, 5, 3}, {1, 4, 0, 5}, {0, 4, 1, 5}, {0, 2, 1, 3}, {2, 1, 3, 0}},
       24},
  };
  for (const auto& c : cases) {
    NeighborTable table(c.lists.size());
    EXPECT_EQ(buildNeighborsTable(c.mesh.getTriangles(), table), c.count) << c.name;
    EXPECT_EQ(table, c.lists) << c.name;
  }
}

TEST(NeighborTable, EveryEdgeEntersOnceOnClosedMeshes) {
  for (const auto& m : testing::closedMeshZoo()) {
    const auto& tris = m.mesh.getTriangles();
    NeighborTable table(static_cast<size_t>(m.mesh.getVertices().rows()));
    // Each triangle side is shared by two triangles: 3T/2 edges, two entries each.
    EXPECT_EQ(buildNeighborsTable(tris, table), static_cast<int>(3 * tris.size())) << m.name;
    for (size_t v = 0; v < table.size(); ++v) {
      for (int u : table[v]) {
        EXPECT_EQ(std::count(table[u].begin(), table[u].end(), static_cast<int>(v)), 1)
            << m.name << ": " << v << " - " << u;
      }
    }
  }
}

TEST(NeighborTable, RepeatedCornersBorderSidesAndBadCorners) {
  // (1, 1, 0): side 1->1 lists 1 twice in its own list; side 1->0 enters; 0->1 does not.
  NeighborTable table(2);
  EXPECT_EQ(buildNeighborsTable({{1u, 1u, 0u}}, table), 4);
  EXPECT_EQ(table, (NeighborTable{{1}, {1, 1, 0}}));

  // A lone triangle: only the sides running from a higher to a lower index enter.
  NeighborTable border(3);
  EXPECT_EQ(buildNeighborsTable({{0u, 1u, 2u}}, border), 2);
  EXPECT_EQ(border, (NeighborTable{{2}, {}, {0}}));

  NeighborTable small(3);
  EXPECT_THROW(buildNeighborsTable({{0u, 1u, 3u}}, small), CorruptStream);
}

}  // namespace
}  // namespace meshcodec
