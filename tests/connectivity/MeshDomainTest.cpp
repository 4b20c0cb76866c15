// Meshes the connectivity coder cannot carry are refused before the walk, naming
// the first offending vertex, edge or triangle; closed meshes pass unchanged.
#include <gtest/gtest.h>

#include <sstream>

#include "common/CodecError.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "connectivity/MeshDomain.hpp"
#include "support/MeshGenerators.hpp"
#include "RecursiveReference.hpp"
#include "TriangleSets.hpp"

namespace meshcodec::testing {
namespace {

TriangleList tetra() { return tetrahedron().getTriangles(); }

TriangleList mapped(TriangleList tris, unsigned from, unsigned to) {
  for (auto& t : tris)
    for (auto& corner : t)
      if (corner == from) corner = to;
  return tris;
}

TriangleList joined(TriangleList a, const TriangleList& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A sphere whose two poles are merged into vertex 0: every edge is fine and the mesh
// is one piece, but vertex 0 carries two separate fans.
TriangleList pinchedSphere() {
  const Mesh sphere = uvSphere(3, 8);
  return mapped(sphere.getTriangles(), static_cast<unsigned>(sphere.getVertices().rows() - 1), 0);
}

struct DomainCase {
  const char* name;
  TriangleList tris;
  const char* reason;
};

TEST(MeshDomain, RefusesMeshesOutsideTheFormatNamingTheCulprit) {
  TriangleList flippedFirst = tetra();
  std::swap(flippedFirst[0][1], flippedFirst[0][2]);
  TriangleList open = tetra();
  open.pop_back();
  TriangleList repeated = tetra();
  repeated[2] = {1, 3, 3};
  const DomainCase cases[] = {
      {"empty", {}, "connectivity: empty triangle list"},
      {"repeated vertex", repeated, "connectivity: triangle 2 (1, 3, 3) repeats vertex 3"},
      {"unused index", mapped(tetra(), 3, 4), "connectivity: vertex 3 is used by no triangle (largest index 4)"},
      {"huge index", mapped(tetra(), 3, 4000000000u), "connectivity: vertex 3 is used by no triangle"},
      {"border", open, "connectivity: border edge (2, 0): only triangle 0 (0, 1, 2) uses it"},
      {"flipped triangle", flippedFirst,
       "connectivity: edge (2, 1) runs the same way in triangles 0 and 2 (inconsistent orientation)"},
      {"edge of four triangles", joined(tetra(), mapped(mapped(tetra(), 3, 5), 2, 4)), "is shared by 4 triangles"},
      {"two pieces", joined(tetra(), renumbered(tetra(), {4, 5, 6, 7})),
       "connectivity: triangle 4 (4, 5, 6) is not connected to triangle 0: the mesh has more than one component"},
      {"pinched vertex", pinchedSphere(),
       "connectivity: vertex 0 is not manifold: its triangles form more than one fan"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    std::stringstream stream;
    try {
      EdgeBreaker::encode(k.tris, stream);
      ADD_FAILURE() << "accepted";
    } catch (const OutOfDomain& e) {
      EXPECT_NE(std::string(e.what()).find(k.reason), std::string::npos) << e.what();
    }
    EXPECT_TRUE(stream.str().empty());  // refused before anything is written
  }
}

TEST(MeshDomain, AcceptsEveryClosedMeshOfTheZoo) {
  for (const auto& [name, mesh, genus] : closedMeshZoo()) {
    SCOPED_TRACE(name);
    EXPECT_NO_THROW(checkMeshDomain(CornerTable(mesh.getTriangles())));
  }
  EXPECT_NO_THROW(checkMeshDomain(CornerTable(TriangleList{{0, 1, 2}, {0, 2, 1}})));  // two-sided pillow
}

// Why pinches are refused: walked anyway, the decoder cannot rebuild the mesh.
TEST(MeshDomain, PinchedVertexWouldNotSurviveTheWalk) {
  const TriangleList tris = pinchedSphere();
  const CornerTable table(tris);
  RecursiveEncoder walk(table);
  walk.compress(0);
  bool rebuilt = false;
  try {
    EdgeBreaker decoder;
    rebuilt = canonical(decoder.decompress(walk.clers, walk.handles).tris()) ==
              canonical(renumbered(tris, walk.M));
  } catch (const CorruptStream&) {
  }
  EXPECT_FALSE(rebuilt);
}

}  // namespace
}  // namespace meshcodec::testing
