#include "support/MeshGenerators.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <utility>

namespace meshcodec::testing {

namespace {

Mesh build(const std::vector<Eigen::Vector3d>& points, const TriangleList& tris) {
  Mesh mesh(static_cast<int>(points.size()), static_cast<int>(tris.size()));
  for (size_t i = 0; i < points.size(); ++i) mesh.getVertices().row(i) = points[i].transpose();
  mesh.setTriangles(tris);
  return mesh;
}

}  // namespace

Mesh tetrahedron() {
  return build({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
               {{0, 1, 2}, {0, 3, 1}, {1, 3, 2}, {2, 3, 0}});
}

Mesh octahedron() {
  return build({{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}},
               {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}});
}

Mesh uvSphere(int rings, int segments) {
  std::vector<Eigen::Vector3d> points;
  points.emplace_back(0, 0, 1);
  for (int r = 1; r <= rings; ++r) {
    const double theta = M_PI * r / (rings + 1);
    for (int s = 0; s < segments; ++s) {
      const double phi = 2 * M_PI * s / segments;
      points.emplace_back(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                          std::cos(theta));
    }
  }
  points.emplace_back(0, 0, -1);
  const unsigned south = static_cast<unsigned>(points.size() - 1);
  auto at = [segments](int r, int s) { return static_cast<unsigned>(1 + (r - 1) * segments + s % segments); };
  TriangleList tris;
  for (int s = 0; s < segments; ++s) tris.push_back({0u, at(1, s), at(1, s + 1)});
  for (int r = 1; r < rings; ++r) {
    for (int s = 0; s < segments; ++s) {
      tris.push_back({at(r, s), at(r + 1, s), at(r + 1, s + 1)});
      tris.push_back({at(r, s), at(r + 1, s + 1), at(r, s + 1)});
    }
  }
  for (int s = 0; s < segments; ++s) tris.push_back({south, at(rings, s + 1), at(rings, s)});
  return build(points, tris);
}

Mesh gridTorus(int nu, int nv, double majorRadius, double minorRadius) {
  std::vector<Eigen::Vector3d> points;
  for (int i = 0; i < nu; ++i) {
    const double u = 2 * M_PI * i / nu;
    for (int j = 0; j < nv; ++j) {
      const double v = 2 * M_PI * j / nv;
      const double w = majorRadius + minorRadius * std::cos(v);
      points.emplace_back(w * std::cos(u), w * std::sin(u), minorRadius * std::sin(v));
    }
  }
  auto at = [nu, nv](int i, int j) { return static_cast<unsigned>(nv * (i % nu) + (j % nv)); };
  TriangleList tris;
  for (int i = 0; i < nu; ++i) {
    for (int j = 0; j < nv; ++j) {
      const unsigned a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
      tris.push_back({a, b, c});
      tris.push_back({a, c, d});
    }
  }
  return build(points, tris);
}

Mesh holedPlate(int genus, int k) {
  // Plate of (2 genus + 1) x 3 cells; the holes are cells (2h + 1, 1). Its surface is
  // a top and a bottom sheet over the solid cells and walls along every border
  // between solid and empty, each quad split into two triangles facing outward.
  const int cellsX = 2 * genus + 1, cellsY = 3;
  const int nx = cellsX * k, ny = cellsY * k;  // sub-cells
  auto solid = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= nx || y >= ny) return false;
    const int cx = x / k, cy = y / k;
    return !(cy == 1 && cx % 2 == 1);
  };
  std::map<std::pair<int, int>, unsigned> ids[2];  // grid point -> vertex, per layer
  std::vector<Eigen::Vector3d> points;
  struct Corner {
    int layer, x, y;
  };
  auto vertex = [&](Corner c) {
    auto [it, inserted] = ids[c.layer].emplace(std::make_pair(c.x, c.y), static_cast<unsigned>(points.size()));
    if (inserted) {
      // A gentle bulge keeps the surface from being piecewise flat.
      const double px = double(c.x) / k, py = double(c.y) / k;
      const double bulge = 0.15 * std::sin(M_PI * px / cellsX) * std::sin(M_PI * py / cellsY);
      points.emplace_back(px, py, c.layer == 0 ? 0.5 + bulge : -0.5 - bulge);
    }
    return it->second;
  };
  TriangleList tris;
  // Two triangles, counter-clockwise seen from outside. The corners are numbered in a
  // fixed order (last first, the numbering the tests' bounds were measured with), not
  // left to the compiler's order of evaluating arguments.
  auto quad = [&](Corner a, Corner b, Corner c, Corner d) {
    const unsigned vd = vertex(d), vc = vertex(c), vb = vertex(b), va = vertex(a);
    tris.push_back({va, vb, vc});
    tris.push_back({va, vc, vd});
  };
  for (int y = 0; y < ny; ++y) {
    for (int x = 0; x < nx; ++x) {
      if (!solid(x, y)) continue;
      quad({0, x, y}, {0, x + 1, y}, {0, x + 1, y + 1}, {0, x, y + 1});
      quad({1, x, y}, {1, x, y + 1}, {1, x + 1, y + 1}, {1, x + 1, y});
      if (!solid(x, y - 1)) quad({1, x, y}, {1, x + 1, y}, {0, x + 1, y}, {0, x, y});
      if (!solid(x, y + 1)) quad({1, x + 1, y + 1}, {1, x, y + 1}, {0, x, y + 1}, {0, x + 1, y + 1});
      if (!solid(x - 1, y)) quad({1, x, y + 1}, {1, x, y}, {0, x, y}, {0, x, y + 1});
      if (!solid(x + 1, y)) quad({1, x + 1, y}, {1, x + 1, y + 1}, {0, x + 1, y + 1}, {0, x + 1, y});
    }
  }
  return build(points, tris);
}

void addNoise(Mesh& mesh, double amplitude, uint32_t seed) {
  uint64_t state = seed * 2654435761u + 1;
  auto uniform = [&state]() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return double(state >> 11) / double(1ull << 53) * 2.0 - 1.0;
  };
  auto& v = mesh.getVertices();
  for (Eigen::Index i = 0; i < v.rows(); ++i)
    for (int c = 0; c < 3; ++c) v(i, c) += amplitude * uniform();
}

std::vector<NamedMesh> closedMeshZoo() {
  std::vector<NamedMesh> zoo;
  zoo.push_back({"tetrahedron", tetrahedron(), 0});
  zoo.push_back({"octahedron", octahedron(), 0});
  zoo.push_back({"sphere_3x5", uvSphere(3, 5), 0});
  zoo.push_back({"sphere_20x31", uvSphere(20, 31), 0});
  zoo.push_back({"sphere_60x80", uvSphere(60, 80), 0});
  zoo.push_back({"torus_4x5", gridTorus(4, 5), 1});
  zoo.push_back({"torus_17x9", gridTorus(17, 9), 1});
  zoo.push_back({"torus_80x40", gridTorus(80, 40), 1});
  for (int g = 0; g <= 5; ++g) {
    zoo.push_back({"plate_genus" + std::to_string(g) + "_k1", holedPlate(g, 1), g});
    zoo.push_back({"plate_genus" + std::to_string(g) + "_k4", holedPlate(g, 4), g});
  }
  return zoo;
}

void writeObj(const Mesh& mesh, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) throw std::runtime_error("cannot write " + path);
  const auto& v = mesh.getVertices();
  for (Eigen::Index i = 0; i < v.rows(); ++i) std::fprintf(f, "v %.17g %.17g %.17g\n", v(i, 0), v(i, 1), v(i, 2));
  for (const auto& t : mesh.getTriangles()) std::fprintf(f, "f %u %u %u\n", t[0] + 1, t[1] + 1, t[2] + 1);
  std::fclose(f);
}

Mesh animationFrame(const Mesh& rest, int f) {
  Mesh frame = rest;
  auto& v = frame.getVertices();
  const double t = 0.3 * f;
  for (Eigen::Index i = 0; i < v.rows(); ++i) {
    const double angle = 0.2 * std::sin(t) * v(i, 2);
    const double x = v(i, 0), y = v(i, 1);
    v(i, 0) = (1 + 0.1 * std::sin(t)) * (x * std::cos(angle) - y * std::sin(angle));
    v(i, 1) = x * std::sin(angle) + y * std::cos(angle);
    v(i, 2) *= 1 + 0.2 * std::cos(t);
  }
  return frame;
}

void writeAnimation(const Mesh& rest, int frames, const std::string& dir) {
  std::filesystem::create_directories(dir);
  for (int f = 0; f < frames; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "/mesh_%05d.obj", f);
    writeObj(animationFrame(rest, f), dir + name);
  }
}

}  // namespace meshcodec::testing
