#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/CodecError.hpp"
#include "mesh/DynamicMeshObjLoader.hpp"
#include "mesh/DynamicMeshObjSaver.hpp"
#include "support/CommandRunner.hpp"

namespace meshcodec {
namespace {

namespace fs = std::filesystem;

// Two vertices, one degenerate triangle; frame f is at x = f + 0.5.
DynamicMesh twoVertices(int frames) {
  DynamicMesh mesh(2, frames, 0);
  for (int f = 0; f < frames; ++f) {
    Eigen::VectorXd x(2), y(2), z(2);
    x << f + 0.5, -0.0;
    y << 1.5e6, 2.0 / 3.0;
    z << 1.2e-5, -7;
    mesh.setFrameVertices(f, x, y, z);
  }
  mesh.setTriangles({{0u, 1u, 4294967295u}});
  return mesh;
}

TEST(DynamicMeshObjSaver, OneFilePerFrameNamedByPaddedNumber) {
  const std::string dir = testing::makeTempDir("frames-save");
  fs::create_directory(dir + "/out");
  DynamicMesh mesh(2, 1, 0);
  // The frame count comes from the rows of the matrix, not from the constructor.
  mesh.setVertices(twoVertices(3).getVertices());
  mesh.setTriangles(twoVertices(1).getTriangles());
  DynamicMeshObjSaver(dir + "/out/f", ".obj").Save(mesh);
  for (int f = 0; f < 3; ++f) {
    const std::string path = dir + "/out/f0000" + std::to_string(f) + ".obj";
    EXPECT_EQ(testing::readFile(path),
              "v " + std::to_string(f) + ".5 1.5e+06 1.2e-05\nv -0 0.666667 -7\nf 1 2 0\n")
        << path;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/out"), fs::directory_iterator()), 3);

  EXPECT_EQ(DynamicMeshObjSaver("out/walk_", ".obj").frameFileName(7), "out/walk_00007.obj");
  EXPECT_EQ(DynamicMeshObjSaver("p", ".obj").frameFileName(123456), "p123456.obj");

  DynamicMeshObjSaver(dir + "/empty", ".obj").Save(DynamicMesh(5, 0, 1));
  EXPECT_FALSE(fs::exists(dir + "/empty00000.obj"));
  fs::remove_all(dir);
}

TEST(DynamicMeshObjSaver, UnwritableFrameIsAnError) {
  const std::string dir = testing::makeTempDir("frames-fail");
  try {
    DynamicMeshObjSaver(dir + "/no/such/f", ".obj").Save(twoVertices(2));
    ADD_FAILURE() << "no error";
  } catch (const IoFailure& e) {
    EXPECT_EQ(e.file(), dir + "/no/such/f00000.obj");
  }
  // 100,001 frames after a 246-character prefix: the name of frame 100,000 has 256
  // characters. It is refused before any frame is written or replaced.
  const std::string prefix = dir + "/" + std::string(246, 'p');
  std::ofstream(prefix + "00000.obj") << "earlier";
  try {
    DynamicMeshObjSaver(prefix, ".obj").Save(100001, 0, {}, [](int) -> FramePositions { throw std::logic_error("computed"); });
    ADD_FAILURE() << "no error";
  } catch (const IoFailure& e) {
    EXPECT_EQ(e.file(), prefix + "100000.obj");
    EXPECT_NE(std::string(e.what()).find("File name too long"), std::string::npos) << e.what();
  }
  EXPECT_EQ(testing::readFile(prefix + "00000.obj"), "earlier");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

TEST(DynamicMeshObjSaver, SavedFramesLoadBack) {
  const std::string dir = testing::makeTempDir("frames-roundtrip");
  DynamicMesh mesh(3, 12, 0);  // 12 frames: numbers 00010, 00011 sort after 00009
  for (int f = 0; f < 12; ++f) {
    Eigen::VectorXd x(3), y(3), z(3);
    x << f, 0.25, -f;
    y << 1, f * 0.5, 2;
    z << -0.125, 3, f + 1;
    mesh.setFrameVertices(f, x, y, z);
  }
  mesh.setTriangles({{0u, 1u, 2u}, {2u, 1u, 0u}});
  DynamicMeshObjSaver(dir + "/frame_", ".obj").Save(mesh);
  const std::vector<DynamicMesh> loaded = DynamicMeshObjLoader(dir, "frame_[0-9]{5}\\.obj").Load();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].getVertices(), mesh.getVertices());
  EXPECT_EQ(loaded[0].getTriangles(), mesh.getTriangles());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace meshcodec
