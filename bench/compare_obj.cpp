// Compares two OBJ files vertex by vertex: compare_obj <reference.obj> <decoded.obj>
// prints the RMS and the largest vertex distance relative to the bounding-box
// diagonal of the reference, and whether the face lists are equal.
#include <cstdio>

#include "mesh/MeshObjLoader.hpp"
#include "support/ErrorMetrics.hpp"

using namespace meshcodec;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: compare_obj <reference.obj> <decoded.obj>\n");
    return 2;
  }
  const Mesh reference = MeshObjLoader(argv[1]).Load();
  const Mesh decoded = MeshObjLoader(argv[2]).Load();
  if (reference.getVertices().rows() != decoded.getVertices().rows()) {
    std::fprintf(stderr, "compare_obj: %ld and %ld vertices\n", static_cast<long>(reference.getVertices().rows()),
                 static_cast<long>(decoded.getVertices().rows()));
    return 1;
  }
  std::printf("rms error %.3g, max error %.3g (relative to the bounding-box diagonal), faces %s\n",
              testing::rmsRelativeError(reference.getVertices(), decoded.getVertices()),
              testing::maxRelativeError(reference.getVertices(), decoded.getVertices()),
              reference.getTriangles() == decoded.getTriangles() ? "equal" : "differ");
  return 0;
}
