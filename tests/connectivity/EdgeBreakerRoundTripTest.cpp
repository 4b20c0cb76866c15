// Whole-mesh properties of the coder: every closed mesh comes back as itself in the
// walk's numbering, the explicit-stack walks give exactly what the recursive
// definitions give, and deep nesting and multi-million-triangle meshes work.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <sstream>

#include "connectivity/Clers.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "support/MeshGenerators.hpp"
#include "RecursiveReference.hpp"
#include "TriangleSets.hpp"

namespace meshcodec::testing {
namespace {

struct NamedList {
  std::string name;
  TriangleList tris;
};

// Closed meshes of genus 0 to 8 and many sizes, plus variants that start the walk
// elsewhere and spread the vertex degrees.
std::vector<NamedList> closedLists() {
  std::vector<NamedList> lists;
  for (const auto& [name, mesh, genus] : closedMeshZoo()) lists.push_back({name, mesh.getTriangles()});
  for (int genus = 0; genus <= 8; ++genus)
    for (int k : {2, 3, 5})
      lists.push_back({"plate g" + std::to_string(genus) + " k" + std::to_string(k), holedPlate(genus, k).getTriangles()});
  for (int segments : {3, 4, 7, 50})
    lists.push_back({"sphere 1x" + std::to_string(segments), uvSphere(1, segments).getTriangles()});
  lists.push_back({"torus 3x3", gridTorus(3, 3).getTriangles()});
  lists.push_back({"torus 3x200", gridTorus(3, 200).getTriangles()});
  lists.push_back({"pillow", {{0, 1, 2}, {0, 2, 1}}});
  lists.push_back({"nested splits 300", nestedSplits(300)});
  for (uint64_t seed = 0; seed < 6; ++seed) {
    const std::string tag = " seed " + std::to_string(seed);
    lists.push_back({"shuffled torus" + tag, shuffled(gridTorus(9, 13).getTriangles(), seed)});
    lists.push_back({"shuffled plate g3" + tag, shuffled(holedPlate(3, 2).getTriangles(), seed)});
    lists.push_back({"flipped sphere" + tag, shuffled(flipped(uvSphere(12, 17).getTriangles(), 3000, seed), seed)});
    lists.push_back({"flipped plate g5" + tag, shuffled(flipped(holedPlate(5, 2).getTriangles(), 2000, seed), seed)});
    lists.push_back({"flipped nested" + tag, shuffled(flipped(nestedSplits(60), 400, seed), seed)});
  }
  return lists;
}

// Encodes through a stream, decodes, and checks the result against the input
// renumbered by the returned order.
void expectRoundTrip(const TriangleList& tris) {
  std::stringstream stream;
  const VertexOrder order = EdgeBreaker::encode(tris, stream);
  std::vector<int> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  std::vector<int> identity(order.size());
  std::iota(identity.begin(), identity.end(), 0);
  ASSERT_EQ(sorted, identity) << "the order is not a permutation";

  const TriangleList decoded = EdgeBreaker::decode(0, stream);
  ASSERT_EQ(decoded.size(), tris.size());
  EXPECT_EQ(canonical(decoded), canonical(renumbered(tris, order)));
  EXPECT_EQ(stream.peek(), std::char_traits<char>::eof());  // both blocks read, nothing more
}

TEST(EdgeBreakerRoundTrip, EveryClosedMeshComesBackInWalkOrder) {
  for (const auto& [name, tris] : closedLists()) {
    SCOPED_TRACE(name);
    expectRoundTrip(tris);
  }
}

TEST(EdgeBreakerRoundTrip, ExplicitStacksMatchTheRecursiveDefinitions) {
  for (const auto& [name, tris] : closedLists()) {
    SCOPED_TRACE(name);
    const CornerTable table(tris);
    EdgeBreaker encoder(table);
    encoder.compress(0);
    RecursiveEncoder reference(table);
    reference.compress(0);
    EXPECT_EQ(encoder.getClers(), reference.clers);
    EXPECT_EQ(encoder.getHandles(), reference.handles);
    EXPECT_EQ(encoder.getOrder(), reference.M);
    EXPECT_EQ(encoder.getClers().size() + 1, tris.size());

    EdgeBreaker decoder;
    const CornerTable rebuilt = decoder.decompress(reference.clers, reference.handles);
    RecursiveDecoder referenceDecoder;
    EXPECT_EQ(rebuilt.tris(), referenceDecoder.decompress(reference.clers, reference.handles));
  }
}

TEST(EdgeBreakerRoundTrip, HalfAMillionNestedSplits) {
  // 2,000,004 triangles whose walk keeps 500,000 S branches open at once: far
  // beyond what recursion on the call stack survives.
  const unsigned k = 500000;
  const TriangleList tris = nestedSplits(k);
  EdgeBreaker encoder{CornerTable(tris)};
  encoder.compress(0);
  std::vector<int> expected(k + 1, CLERS::C);
  expected.push_back(CLERS::R);
  for (unsigned i = 0; i < k; ++i) {
    expected.push_back(CLERS::C);
    expected.push_back(CLERS::S);
  }
  expected.insert(expected.end(), k + 1, CLERS::E);
  EXPECT_TRUE(encoder.getClers() == expected);
  EXPECT_TRUE(encoder.getHandles().empty());
  expectRoundTrip(tris);
}

TEST(EdgeBreakerRoundTrip, TwoMillionTriangleMeshes) {
  expectRoundTrip(gridTorus(1000, 1000).getTriangles());
  expectRoundTrip(uvSphere(1000, 1000).getTriangles());
}

}  // namespace
}  // namespace meshcodec::testing
