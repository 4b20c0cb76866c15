#pragma once
// Closed, manifold, consistently oriented test meshes of known genus and size,
// generated so that tests and benchmarks need no mesh files.

#include <cstdint>
#include <string>
#include <vector>

#include "mesh/Mesh.hpp"

namespace meshcodec::testing {

// The small meshes whose codes and orders the tests check exactly.
Mesh tetrahedron();
Mesh octahedron();

// Latitude-longitude sphere of radius 1: rings >= 1 inner rings of segments >= 3
// vertices plus two poles; genus 0, V = rings * segments + 2.
Mesh uvSphere(int rings, int segments);

// Torus on a nu x nv grid (nu, nv >= 3): vertex (i, j) is index nv * (i mod nu) +
// (j mod nv), triangles (a, b, c) and (a, c, d) per cell; genus 1, V = nu * nv.
Mesh gridTorus(int nu, int nv, double majorRadius = 1.0, double minorRadius = 0.4);

// Surface of a thickened plate with `genus` square holes in a row; each plate cell is
// split into k x k quads, so the size grows with k^2. genus >= 0, k >= 1.
Mesh holedPlate(int genus, int k);

// Moves every vertex by a deterministic pseudo-random offset in [-amplitude, amplitude]^3.
void addNoise(Mesh& mesh, double amplitude, uint32_t seed = 12345);

// A named mesh for table-driven tests.
struct NamedMesh {
  std::string name;
  Mesh mesh;
  int genus;
};

// Closed meshes of genus 0 to 5 and several sizes, small enough for unit tests.
std::vector<NamedMesh> closedMeshZoo();

// Writes a mesh in the OBJ subset the codec reads (v and f lines, 17 significant digits).
void writeObj(const Mesh& mesh, const std::string& path);

// Frame f of an animation of `rest` breathing and twisting about the z axis: smooth
// trajectories that a few PCA bases carry.
Mesh animationFrame(const Mesh& rest, int f);

// Writes frames 0 .. frames - 1 of animationFrame into dir as mesh_00000.obj, ...
void writeAnimation(const Mesh& rest, int frames, const std::string& dir);

}  // namespace meshcodec::testing
