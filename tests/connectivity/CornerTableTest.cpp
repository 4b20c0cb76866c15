// Opposite-corner pairing: the reference cases, the edge map step itself, and the
// bucketed pairing against the edge map on closed and broken meshes alike.
#include <gtest/gtest.h>

#include <functional>
#include <unordered_map>

#include "common/CodecError.hpp"
#include "connectivity/CornerTable.hpp"
#include "support/MeshGenerators.hpp"
#include "RecursiveReference.hpp"
#include "TriangleSets.hpp"

namespace meshcodec::testing {
namespace {

std::vector<int> opposites(const CornerTable& table) {
  std::vector<int> O;
  for (int c = 0; c < 3 * table.triSize(); ++c) O.push_back(table.o(c));
  return O;
}

struct PairingCase {
  const char* name;
  TriangleList tris;
  std::vector<int> O;
  unsigned maxVertex;
};

TEST(CornerTable, ReferencePairings) {
  const PairingCase cases[] = {
      {"empty", {}, {}, 0},
      {"single triangle", {{0, 1, 2}}, {-1, -1, -1}, 2},
      {"tetrahedron", {{0, 1, 2}, {0, 3, 1}, {1, 3, 2}, {2, 3, 0}}, {7, 10, 4, 8, 2, 9, 11, 0, 3, 5, 1, 6}, 3},
      {"edge twice the same way", {{0, 1, 2}, {0, 1, 3}}, {-1, -1, -1, -1, -1, -1}, 3},
      // The third triangle runs along the stored key but finds nothing to link to.
      {"third triangle on an edge", {{0, 1, 2}, {1, 0, 3}, {0, 1, 4}}, {-1, -1, 5, -1, -1, 2, -1, -1, -1}, 4},
      // The third runs against the first: the first now points to it, the second
      // still to the first.
      {"third against the first", {{0, 1, 2}, {1, 0, 3}, {1, 0, 4}}, {-1, -1, 8, -1, -1, 2, -1, -1, 2}, 4},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const CornerTable table(k.tris);
    EXPECT_EQ(opposites(table), k.O);
    EXPECT_EQ(table.vmax(), k.maxVertex);
    EXPECT_EQ(table.triSize(), static_cast<int>(k.tris.size()));
    EXPECT_EQ(table.tris(), k.tris);
  }
  const CornerTable empty;
  EXPECT_EQ(empty.triSize(), 0);
  EXPECT_EQ(empty.vmax(), 0u);
}

TEST(CornerTable, EdgeIsDirectedAndItsHashKeepsLow16BitsOfA) {
  EXPECT_FALSE(Edge(3, 5) == Edge(5, 3));
  EXPECT_TRUE(Edge(3, 5) == Edge(3, 5));
  const std::hash<Edge> hash;
  EXPECT_EQ(hash(Edge(1, 2)), 65538u);
  // a keeps only its low 16 bits, which overlap b's high bits.
  EXPECT_EQ(hash(Edge(0x12345, 0x10001)), 0x23450001u);
  EXPECT_EQ(hash(Edge(0x10000, 7)), 7u);
}

TEST(CornerTable, CornerArithmeticIncludingNegativeCorners) {
  const CornerTable table(tetrahedron().getTriangles());
  EXPECT_EQ(CornerTable::n(0), 1);
  EXPECT_EQ(CornerTable::n(2), 0);
  EXPECT_EQ(CornerTable::p(3), 5);
  EXPECT_EQ(CornerTable::p(4), 3);
  EXPECT_EQ(CornerTable::t(11), 3);
  EXPECT_EQ(CornerTable::t(-1), 0);
  EXPECT_EQ(CornerTable::t(-2), 0);
  EXPECT_EQ(CornerTable::n(-1), 0);
  EXPECT_EQ(CornerTable::p(-1), -2);
  EXPECT_EQ(CornerTable::n(-2), -1);
  EXPECT_EQ(table.v(4), 3u);
  EXPECT_EQ(table.r(0), table.o(1));
  EXPECT_EQ(table.l(0), table.o(2));
  EXPECT_EQ(table.r(0), 10);
  EXPECT_EQ(table.l(0), 4);
}

TEST(CornerTable, ProcessEdgeLinksOnHitAndStoresTheReverseOnMiss) {
  // Three separate triangles leave every entry at -1 to start from.
  CornerTable table(TriangleList{{0, 1, 2}, {3, 4, 5}, {6, 7, 8}});
  std::unordered_map<Edge, unsigned> map;
  table.processEdge(map, Edge(10, 11), 2);
  ASSERT_EQ(map.count(Edge(11, 10)), 1u);
  EXPECT_EQ(map.count(Edge(10, 11)), 0u);
  EXPECT_EQ(table.o(2), -1);
  table.processEdge(map, Edge(10, 11), 4);  // same direction: the key is kept
  EXPECT_EQ(map.at(Edge(11, 10)), 2u);
  EXPECT_EQ(table.o(4), -1);
  table.processEdge(map, Edge(11, 10), 7);
  EXPECT_EQ(table.o(7), 2);
  EXPECT_EQ(table.o(2), 7);
  table.processEdge(map, Edge(11, 10), 5);  // a later link wins on the first corner
  EXPECT_EQ(table.o(5), 2);
  EXPECT_EQ(table.o(2), 5);
  EXPECT_EQ(table.o(7), 2);
  EXPECT_THROW(table.processEdge(map, Edge(1, 2), 9), Misuse);
}

// The bucketed pairing must give the edge map's table on any list; indices of 3T and
// above make the table fall back to the edge map itself.
TEST(CornerTable, BucketedPairingEqualsTheEdgeMap) {
  std::vector<std::pair<std::string, TriangleList>> lists;
  for (const auto& [name, mesh, genus] : closedMeshZoo()) lists.emplace_back(name, mesh.getTriangles());
  lists.emplace_back("shuffled torus", shuffled(gridTorus(17, 9).getTriangles(), 3));
  for (uint64_t seed = 0; seed < 40; ++seed) {
    // Random soups over few vertices: borders, repeated and overloaded edges,
    // loops onto one vertex, buckets above the insertion-sort size.
    TestRandom random(seed);
    const uint32_t vertices = 3 + random.below(seed < 20 ? 6 : 60);
    TriangleList soup(1 + random.below(400));
    for (auto& t : soup)
      for (auto& corner : t) corner = random.below(vertices);
    lists.emplace_back("soup " + std::to_string(seed), soup);
  }
  for (const auto& [name, tris] : lists) {
    SCOPED_TRACE(name);
    const std::vector<int> expected = referenceOpposites(tris);
    EXPECT_EQ(opposites(CornerTable(tris)), expected);
    TriangleList far = tris;
    const unsigned offset = 3 * static_cast<unsigned>(tris.size()) + 65536;
    for (auto& t : far)
      for (auto& corner : t) corner += offset;
    const CornerTable farTable(far);
    EXPECT_EQ(opposites(farTable), expected);
  }
}

}  // namespace
}  // namespace meshcodec::testing
