// The exact symbols, handle pairs, vertex orders and decoded triangle lists of the
// small reference meshes.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "common/CodecError.hpp"
#include "connectivity/Clers.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "support/MeshGenerators.hpp"
#include "TriangleSets.hpp"

namespace meshcodec::testing {
namespace {

using namespace CLERS;

struct WalkCase {
  const char* name;
  TriangleList tris;
  std::vector<int> clers;
  VertexOrder order;
  TriangleList decoded;
};

TEST(EdgeBreakerExamples, SmallMeshesWalkAndDecodeExactly) {
  const WalkCase cases[] = {
      {"tetrahedron", tetrahedron().getTriangles(), {C, R, E}, {0, 1, 2, 3},
       {{0, 1, 2}, {3, 2, 1}, {0, 3, 1}, {2, 3, 0}}},
      {"octahedron", octahedron().getTriangles(), {C, C, R, C, R, R, E}, {0, 3, 1, 5, 2, 4},
       {{0, 1, 2}, {3, 2, 1}, {4, 3, 1}, {0, 4, 1}, {5, 4, 0}, {2, 5, 0}, {3, 5, 2}, {4, 5, 3}}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    EdgeBreaker encoder{CornerTable(k.tris)};
    encoder.compress(0);
    EXPECT_EQ(encoder.getClers(), k.clers);
    EXPECT_TRUE(encoder.getHandles().empty());
    EXPECT_EQ(encoder.getOrder(), k.order);

    EXPECT_THROW(EdgeBreaker{CornerTable(k.tris)}.compress(3 * static_cast<int>(k.tris.size())), Misuse);

    EdgeBreaker decoder;
    const CornerTable rebuilt = decoder.decompress(k.clers, {});
    EXPECT_EQ(rebuilt.tris(), k.decoded);
    EXPECT_EQ(rebuilt.vmax(), k.order.size() - 1);
    EXPECT_EQ(canonical(k.decoded), canonical(renumbered(k.tris, k.order)));
  }
}

TEST(EdgeBreakerExamples, Torus4x5HasFiveSplitsAndTwoHandlePairs) {
  const TriangleList tris = gridTorus(4, 5).getTriangles();
  EdgeBreaker encoder{CornerTable(tris)};
  encoder.compress(0);
  const std::vector<int>& clers = encoder.getClers();
  ASSERT_EQ(clers.size(), 39u);
  EXPECT_EQ(std::count(clers.begin(), clers.end(), S), 5);
  EXPECT_EQ(std::count(clers.begin(), clers.end(), E), 4);
  EXPECT_EQ(encoder.getHandles(), (std::vector<int>{86, 106, 50, 115}));

  EdgeBreaker decoder;
  const CornerTable rebuilt = decoder.decompress(clers, encoder.getHandles());
  EXPECT_EQ(rebuilt.triSize(), 40);
  EXPECT_EQ(rebuilt.vmax(), 19u);
  EXPECT_EQ(canonical(rebuilt.tris()), canonical(renumbered(tris, encoder.getOrder())));
}

TEST(EdgeBreakerExamples, SubStreamCarriesSymbolCountAndDecodesInSequence) {
  const TriangleList tris = gridTorus(4, 5).getTriangles();
  std::stringstream stream;
  stream.write("prefix", 6);  // sub-streams are appended where the stream stands
  const VertexOrder order = EdgeBreaker::encode(tris, stream);
  stream << "tail";
  const std::string bytes = stream.str();
  ASSERT_GT(bytes.size(), 6u + 16u);
  EXPECT_EQ(bytes.substr(6, 4), std::string("\x27\0\0\0", 4));  // 39 symbols

  stream.seekg(6);
  const TriangleList decoded = EdgeBreaker::decode(-1, stream);  // the count is not read
  EXPECT_EQ(canonical(decoded), canonical(renumbered(tris, order)));
  std::string tail(4, ' ');
  stream.read(&tail[0], 4);
  EXPECT_EQ(tail, "tail");
}

}  // namespace
}  // namespace meshcodec::testing
