#include <gtest/gtest.h>

#include <climits>

#include "common/CodecError.hpp"
#include "geometry/DiffusionLaplace.hpp"
#include "geometry/DiffusionOrder.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

NeighborTable tableOf(const TriangleList& tris, size_t n) {
  NeighborTable table(n);
  buildNeighborsTable(tris, table);
  return table;
}

NeighborTable tableOf(const Mesh& mesh) {
  return tableOf(mesh.getTriangles(), static_cast<size_t>(mesh.getVertices().rows()));
}

// The walk scored literally: every unvisited neighbour in list order through sigma
// and sigma2, the comparisons exactly as the order is defined.
std::vector<int> literalOrder(const NeighborTable& table) {
  std::vector<int> order;
  std::vector<int> unvisited(table.size(), 1);
  for (size_t v = 0; v < table.size(); ++v) {
    if (unvisited[v] != 1) continue;
    int cur = static_cast<int>(v);
    order.push_back(cur);
    for (;;) {
      unvisited[cur] = 0;
      int best = -1, bestSigma = INT_MAX, bestSigma2 = INT_MAX;
      for (int u : table[cur]) {
        if (unvisited[u] != 1) continue;
        const int s = sigma(table, u, unvisited);
        if (s > bestSigma) continue;
        const int s2 = sigma2(table, u, unvisited);
        if (s < bestSigma || s2 < bestSigma2) {
          best = u;
          bestSigma = s;
          bestSigma2 = s2;
        }
      }
      if (best < 0) break;
      order.push_back(best);
      cur = best;
    }
  }
  return order;
}

TEST(DiffusionOrder, SmallSolids) {
  struct Case {
    const char* name;
    Mesh mesh;
    std::vector<int> order;
  };
  const Case cases[] = {
      {"tetrahedron", testing::tetrahedron(), {0, 2, 3, 1}},
      {"octahedron", testing::octahedron(), {0, 4, 2, 1, 5, 3}},
  };
  for (const auto& c : cases) {
    std::vector<int> order;
    computeDiffusionOrder(tableOf(c.mesh), order);
    EXPECT_EQ(order, c.order) << c.name;

    const int n = static_cast<int>(c.mesh.getVertices().rows());
    const DiffusionLaplace coder(c.mesh.getTriangles(), n, AnchorList{});
    EXPECT_EQ(coder.getOrder(), c.order) << c.name;
    EXPECT_EQ(coder.getNeighbors(), tableOf(c.mesh)) << c.name;
  }
}

TEST(DiffusionOrder, TetrahedronScoresFromVertexZero) {
  const NeighborTable table = tableOf(testing::tetrahedron());
  std::vector<int> unvisited{0, 1, 1, 1};
  for (int u : {1, 2, 3}) {
    EXPECT_EQ(sigma(table, u, unvisited), 2) << u;
    EXPECT_EQ(sigma2(table, u, unvisited), 4) << u;
  }
  EXPECT_EQ(sigma(table, 0, unvisited), 3);
  EXPECT_EQ(sigma(table, 0, std::vector<int>{1, 0, 0, 0}), 0);
  EXPECT_THROW(sigma(table, 4, unvisited), Misuse);
  EXPECT_THROW(sigma2(table, 0, std::vector<int>{1, 1}), Misuse);
}

TEST(DiffusionOrder, EqualsTheLiteralWalkOnClosedMeshes) {
  for (const auto& m : testing::closedMeshZoo()) {
    const NeighborTable table = tableOf(m.mesh);
    std::vector<int> order;
    computeDiffusionOrder(table, order);
    EXPECT_EQ(order, literalOrder(table)) << m.name;
  }
}

TEST(DiffusionOrder, EqualsTheLiteralWalkAroundHighDegreeVertices) {
  // A bipyramid: two poles adjacent to every rim vertex.
  const unsigned rim = 1500, top = rim, bottom = rim + 1;
  TriangleList tris;
  for (unsigned i = 0; i < rim; ++i) {
    const unsigned j = (i + 1) % rim;
    tris.push_back({i, j, top});
    tris.push_back({j, i, bottom});
  }
  const NeighborTable table = tableOf(tris, rim + 2);
  std::vector<int> order;
  computeDiffusionOrder(table, order);
  EXPECT_EQ(order, literalOrder(table));
}

TEST(DiffusionOrder, IsolatedVerticesAndRepeatedEntries) {
  // Vertex 2 has no triangle; (3, 3, 4) lists 3 in its own list twice.
  const TriangleList tris{{1u, 0u, 4u}, {0u, 1u, 4u}, {3u, 3u, 4u}};
  const NeighborTable table = tableOf(tris, 6);
  std::vector<int> order;
  computeDiffusionOrder(table, order);
  EXPECT_EQ(order, literalOrder(table));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 4, 3, 2, 5}));
  EXPECT_EQ(sigma(table, 3, std::vector<int>(6, 1)), 3);
}

TEST(DiffusionOrder, SingleWalkAppendsAndMarks) {
  const NeighborTable table = tableOf(testing::octahedron());
  std::vector<int> unvisited(6, 1);
  unvisited[4] = 0;  // already taken by an earlier walk
  std::vector<int> order{9};
  Warnsdorff(5, table, unvisited, order);
  EXPECT_EQ(order, (std::vector<int>{9, 5, 2, 1, 3, 0}));
  EXPECT_EQ(unvisited, std::vector<int>(6, 0));

  std::vector<int> marks(6, 1);
  EXPECT_THROW(Warnsdorff(6, table, marks, order), Misuse);
  std::vector<int> tooFew(5, 1);
  EXPECT_THROW(Warnsdorff(0, table, tooFew, order), Misuse);
}

}  // namespace
}  // namespace meshcodec
