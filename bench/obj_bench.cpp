// Throughput of the OBJ reader and writer on a mesh of about a million vertices, in
// the file form the codec writes (6 significant digits) and in a long-digit form.
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "mesh/MeshObjLoader.hpp"
#include "mesh/MeshObjSaver.hpp"
#include "support/CommandRunner.hpp"
#include "support/MeshGenerators.hpp"

using namespace meshcodec;

namespace {

template <typename Work>
double seconds(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* what, const std::string& path, double time) {
  const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  std::printf("%-36s %8.1f MB %8.3f s %8.1f MB/s\n", what, megabytes, time, megabytes / time);
}

}  // namespace

int main() {
  const std::string dir = testing::makeTempDir("objbench");
  Mesh mesh = testing::uvSphere(1000, 1000);
  testing::addNoise(mesh, 1e-3);
  std::printf("%lld vertices, %zu triangles\n", static_cast<long long>(mesh.getVertices().rows()),
              mesh.getTriangles().size());

  const std::string saved = dir + "/saved.obj", precise = dir + "/precise.obj";
  report("write (MeshObjSaver)", saved, seconds([&] { MeshObjSaver(saved).Save(mesh); }));
  report("read 6 digits (MeshObjLoader)", saved, seconds([&] { MeshObjLoader(saved).Load(); }));
  testing::writeObj(mesh, precise);
  report("read 17 digits (MeshObjLoader)", precise,
         seconds([&] { MeshObjLoader(precise).Load(); }));
  std::filesystem::remove_all(dir);
  return 0;
}
