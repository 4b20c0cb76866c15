#include <gtest/gtest.h>

#include <filesystem>

#include "common/CodecError.hpp"
#include "mesh/MeshObjSaver.hpp"
#include "support/CommandRunner.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

Mesh oneVertex(double x, double y, double z, TriangleList triangles = {}) {
  Mesh mesh(1, 0);
  mesh.getVertices() << x, y, z;
  mesh.setTriangles(triangles);
  return mesh;
}

size_t entriesIn(const std::string& dir) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir),
                                           std::filesystem::directory_iterator()));
}

TEST(MeshObjSaver, WritesExactLines) {
  const struct {
    const char* name;
    Mesh mesh;
    std::string file;
  } cases[] = {
      {"negative zero and exponent", oneVertex(0.1, -0.0, 1.5e6), "v 0.1 -0 1.5e+06\n"},
      {"small and large", oneVertex(1.2e-5, 1e20, 2.5, {{0u, 0u, 0u}}),
       "v 1.2e-05 1e+20 2.5\nf 1 1 1\n"},
      {"six digits", oneVertex(2.0 / 3.0, 100, -7), "v 0.666667 100 -7\n"},
      {"empty mesh", Mesh(0, 0), ""},
      {"largest corner wraps", oneVertex(1, 2, 3, {{4294967295u, 0u, 1u}}), "v 1 2 3\nf 0 1 2\n"},
  };
  const std::string dir = testing::makeTempDir("objsave");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/out.obj";
    MeshObjSaver(path).Save(c.mesh);
    EXPECT_EQ(testing::readFile(path), c.file);
    EXPECT_EQ(entriesIn(dir), 1u);  // no temporary left beside it
  }
  std::filesystem::remove_all(dir);
}

TEST(MeshObjSaver, UncreatableOutputIsAnError) {
  const std::string dir = testing::makeTempDir("objfail");
  const std::string path = dir + "/no/such/dir/out.obj";
  try {
    MeshObjSaver(path).Save(testing::tetrahedron());
    ADD_FAILURE() << "no error";
  } catch (const IoFailure& e) {
    EXPECT_EQ(e.file(), path);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace meshcodec
