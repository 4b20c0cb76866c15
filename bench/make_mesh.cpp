// Writes a generated closed mesh as an OBJ file, for the example run and the
// benchmarks: make_mesh <sphere|torus|plate> <approximate vertex count> <out.obj> [noise]
// The optional noise is a fraction of the average edge length added to every
// coordinate, for surfaces that are not smooth.
#include <cmath>
#include <cstdio>
#include <string>

#include "support/MeshGenerators.hpp"

using namespace meshcodec;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: make_mesh <sphere|torus|plate> <vertices> <out.obj> [noise]\n");
    return 2;
  }
  const std::string kind = argv[1];
  const double target = std::stod(argv[2]);
  const double noise = argc > 4 ? std::stod(argv[4]) : 0.0;
  Mesh mesh(0, 0);
  if (kind == "sphere") {
    const int rings = std::max(1, static_cast<int>(std::sqrt(target / 2)));
    mesh = testing::uvSphere(rings, std::max(3, static_cast<int>(target / rings)));
  } else if (kind == "torus") {
    const int nu = std::max(3, static_cast<int>(std::sqrt(target * 2)));
    mesh = testing::gridTorus(nu, std::max(3, static_cast<int>(target / nu)));
  } else if (kind == "plate") {
    // Genus 3; about 31 k^2 vertices.
    mesh = testing::holedPlate(3, std::max(1, static_cast<int>(std::sqrt(target / 31))));
  } else {
    std::fprintf(stderr, "make_mesh: unknown kind '%s'\n", kind.c_str());
    return 2;
  }
  if (noise > 0) testing::addNoise(mesh, noise * mesh.avgEL());
  testing::writeObj(mesh, argv[3]);
  std::printf("%s: %ld vertices, %zu triangles\n", argv[3], static_cast<long>(mesh.getVertices().rows()),
              mesh.getTriangles().size());
  return 0;
}
