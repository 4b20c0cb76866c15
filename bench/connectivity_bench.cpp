// Connectivity coding speed and memory: encodes and decodes generated closed meshes
// of about 10^5 and 2 * 10^6 triangles and prints one table row per mesh and
// direction. Memory is the process's peak resident size during the call (the peak
// is reset before each call where the kernel allows it), given in MB and per triangle,
// both in total (input and output included) and above what was resident before.

#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "connectivity/EdgeBreaker.hpp"
#include "connectivity/TriangleSets.hpp"  // nested splits, flips and shuffles of the tests
#include "support/MeshGenerators.hpp"

using namespace meshcodec;

namespace {

// A field of /proc/self/status in kB, or -1 when it is not there.
long statusKb(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, key.size() + 1, key + ":") == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

// Writing 5 to clear_refs resets VmHWM to the current resident size.
bool resetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

long peakKb(bool wasReset) {
  if (wasReset && statusKb("VmHWM") > 0) return statusKb("VmHWM");
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // kB on Linux; the whole run's peak
}

struct Measure {
  double seconds;
  long peakKb;
  long baseKb;
};

Measure measure(const std::function<void()>& work) {
  malloc_trim(0);  // hand freed pages back, so that the call cannot reuse them unseen
  const long base = statusKb("VmRSS");
  const bool reset = resetPeak();
  const auto start = std::chrono::steady_clock::now();
  work();
  const auto stop = std::chrono::steady_clock::now();
  return {std::chrono::duration<double>(stop - start).count(), peakKb(reset), base};
}

void printRow(const std::string& mesh, const char* direction, size_t triangles, const Measure& m,
              size_t streamBytes) {
  const double perTriangle = 1024.0 / static_cast<double>(triangles);
  std::printf("%-22s %-7s %10zu %9.3f %9.1f %10.1f %10.1f %9.2f\n", mesh.c_str(), direction, triangles,
              m.seconds, m.peakKb / 1024.0, m.peakKb * perTriangle, (m.peakKb - m.baseKb) * perTriangle,
              8.0 * static_cast<double>(streamBytes) / static_cast<double>(triangles));
}

void run(const std::string& name, TriangleList tris) {
  std::stringstream stream;
  const size_t triangles = tris.size();
  const Measure encode = measure([&] { EdgeBreaker::encode(tris, stream); });
  const size_t bytes = stream.str().size();
  printRow(name, "encode", triangles, encode, bytes);
  tris = TriangleList();  // only the stream is resident while decoding

  TriangleList decoded;
  const Measure decode = measure([&] { decoded = EdgeBreaker::decode(0, stream); });
  printRow(name, "decode", triangles, decode, bytes);
  if (decoded.size() != triangles) std::printf("  decoded %zu triangles!\n", decoded.size());
}

}  // namespace

int main() {
  // A fixed mmap threshold keeps large vectors out of the heap: freeing them returns
  // their pages at once, so each measured call starts from what is really live.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  std::printf("%-22s %-7s %10s %9s %9s %10s %10s %9s\n", "mesh", "step", "triangles", "seconds",
              "peak MB", "peak B/tri", "added B/tri", "bits/tri");
  // Each list is built in its own statement, so that the generated mesh with its
  // positions is gone before the measuring starts.
  const std::vector<std::pair<std::string, std::function<TriangleList()>>> meshes = {
      {"sphere 250x200", [] { return testing::uvSphere(250, 200).getTriangles(); }},
      {"torus 250x200", [] { return testing::gridTorus(250, 200).getTriangles(); }},
      {"plate genus 5 k30", [] { return testing::holedPlate(5, 30).getTriangles(); }},
      // Irregular: random edge flips spread the degrees, shuffling moves the start.
      {"flipped sphere 250x200",
       [] { return testing::shuffled(testing::flipped(testing::uvSphere(250, 200).getTriangles(), 200000, 1), 1); }},
      {"sphere 1000x1000", [] { return testing::uvSphere(1000, 1000).getTriangles(); }},
      {"torus 1000x1000", [] { return testing::gridTorus(1000, 1000).getTriangles(); }},
      {"plate genus 5 k130", [] { return testing::holedPlate(5, 130).getTriangles(); }},
      {"nested splits 500000", [] { return testing::nestedSplits(500000); }},
  };
  for (const auto& [name, make] : meshes) {
    TriangleList tris = make();
    run(name, std::move(tris));
  }
  return 0;
}
