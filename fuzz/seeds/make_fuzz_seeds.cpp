// Writes the seed corpus of the fuzz harnesses: genuine inputs of each entry point,
// made by the codec itself from small generated meshes, so that the fuzzers start
// from deep inside the formats instead of from their framing checks.
//
//   make_fuzz_seeds <directory>
//
// fills <directory>/<entry point>/ (the names of DecodeEntryPoints.hpp). The meshes
// have dozens of vertices: every execution of a whole-file decode factorises a
// Laplacian of that size, and small seeds keep the fuzzers fast.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Codecs.hpp"
#include "app/GeometryMethod.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "entropy/ArithCoder.hpp"
#include "support/CommandRunner.hpp"
#include "support/DecodeEntryPoints.hpp"
#include "support/MeshGenerators.hpp"

namespace fs = std::filesystem;
using namespace meshcodec;
using namespace meshcodec::testing;

namespace {

void writeSeed(const fs::path& dir, const std::string& name, const std::string& bytes) {
  std::ofstream(dir / name, std::ios::binary) << bytes;
}

std::string arithBlock(const std::vector<int>& values, bool withSign) {
  std::stringstream s = binaryStream({});
  ArithCoder::encode(values, s, withSign);
  return std::string(1, withSign ? '\1' : '\0') + s.str();
}

// cols smooth functions of the positions, standing in for PCA coefficients.
Eigen::MatrixXd coefficientColumns(const Eigen::MatrixXd& P, int cols) {
  Eigen::MatrixXd data(P.rows(), cols);
  for (Eigen::Index i = 0; i < P.rows(); ++i) {
    for (int c = 0; c < cols; ++c) data(i, c) = std::sin((c + 1) * P(i, 0) + P(i, 1)) + c * P(i, 2);
  }
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_fuzz_seeds <directory>\n";
    return 2;
  }
  const fs::path root = fs::absolute(argv[1]);
  for (const char* sub :
       {kArithBlockInputs, kConnectivityInputs, kStaticDecodeInputs, kObjReaderInputs, kGeometryInputs,
        kAnimatedDecodeInputs, kAnimatedGeometryInputs}) {
    fs::create_directories(root / sub);
  }

  const std::vector<std::string> names = {"tetrahedron", "octahedron", "sphere_3x5", "torus_4x5",
                                           "plate_genus2"};
  const std::vector<Mesh> meshes = smallMeshes();

  // The encoder writes map.txt into the working directory.
  const std::string work = makeTempDir("fuzz-seeds");
  ScopedCurrentDir inWork(work);
  for (size_t i = 0; i < meshes.size(); ++i) {
    const std::string obj = work + "/" + names[i] + ".obj";
    writeObj(meshes[i], obj);
    writeSeed(root / kObjReaderInputs, names[i] + ".obj", readFile(obj));

    std::stringstream connectivity = binaryStream({});
    EdgeBreaker::encode(meshes[i].getTriangles(), connectivity);
    writeSeed(root / kConnectivityInputs, names[i], connectivity.str());
    writeSeed(root / kArithBlockInputs, names[i] + "_symbols", std::string(1, '\0') + connectivity.str());

    for (int method = 0; method < 4; ++method) {
      const std::string compressed = work + "/" + names[i] + ".bin";
      encode(obj, compressed, method == 2 ? 0.05f : 0.01f, method);
      const std::string file = readFile(compressed);
      const std::string name = names[i] + "_method" + std::to_string(method);
      writeSeed(root / kStaticDecodeInputs, name, std::string(1, static_cast<char>(method)) + file);

      // The geometry sub-stream follows the 12-byte header and the two connectivity blocks.
      std::stringstream s = binaryStream(file);
      s.seekg(12);
      ArithCoder::decode(s, false);
      ArithCoder::decode(s, false);
      const auto geometryStart = static_cast<size_t>(s.tellg());
      writeSeed(root / kGeometryInputs, name,
                std::string{static_cast<char>(method), static_cast<char>(i)} + file.substr(0, 4) +
                    file.substr(geometryStart));
    }
  }

  // Animated geometry sub-streams of 0 to 7 columns, coded as the animated pipeline
  // codes coefficients, with the mesh itself as reference shape and half its vertices,
  // up to the pipeline's 20, as anchors.
  for (size_t i = 0; i < meshes.size(); ++i) {
    Mesh mesh = meshes[i];
    std::stringstream connectivity = binaryStream({});
    mesh.reindex(EdgeBreaker::encode(mesh.getTriangles(), connectivity));
    const int n = static_cast<int>(mesh.getVertices().rows());
    const AnchorList anchors = drawAnchors(n, std::min(20, n / 2));
    const float q = 0.001f;
    for (int method = 0; method <= 5; ++method) {
      for (int cols = 0; cols < 8; ++cols) {
        const GeometryMethod* coder = animatedMethod(method);
        Eigen::MatrixXd data = coefficientColumns(mesh.getVertices(), cols);
        Eigen::MatrixXd shape = mesh.getVertices();
        std::stringstream s = binaryStream({});
        coder->encode(mesh.getTriangles(), data, coder->needsReference ? &shape : nullptr, s, q, n, anchors);
        std::string header = {static_cast<char>(method), static_cast<char>(i), static_cast<char>(cols)};
        header += floatBytes(q);
        writeSeed(root / kAnimatedGeometryInputs,
                  names[i] + "_method" + std::to_string(method) + "_cols" + std::to_string(cols), header + s.str());
      }
    }
  }

  // Whole animation files of 2 and 5 frames with 0 and more bases, each method with a
  // decoder and one without geometry (7 on encoding, 6 in the seed's method byte).
  const std::vector<std::pair<std::string, Mesh>> animated = {{"torus_4x5", gridTorus(4, 5)},
                                                               {"sphere_3x6", uvSphere(3, 6)}};
  for (const auto& [name, rest] : animated) {
    writeObj(rest, work + "/" + name + ".obj");
    for (int frames : {2, 5}) {
      const std::string dir = work + "/" + name + "_" + std::to_string(frames);
      writeAnimation(rest, frames, dir);
      for (int bases : {0, 1, 4}) {
        for (int method = 0; method <= 6; ++method) {
          const std::string compressed = work + "/animation.bin";
          encodeDynamic(dir, "mesh_[0-9]+\\.obj", compressed, bases, 0.01f, 0.001f, method == 6 ? 7 : method,
                        work + "/" + name + ".obj");
          const std::string seed = name + "_frames" + std::to_string(frames) + "_bases" + std::to_string(bases) +
                                   "_method" + std::to_string(method);
          const std::string file = readFile(compressed);
          writeSeed(root / kAnimatedDecodeInputs, seed, std::string(1, static_cast<char>(method)) + file);
          // The encoder writes one mesh record; the decoder reads as many as the header
          // counts, so a file of the same record twice reaches its loop.
          if (frames == 2 && bases == 1) {
            std::string twice = file + file.substr(16);  // the record follows the 16-byte header
            twice[0] = 2;                                 // the low byte of the mesh count
            writeSeed(root / kAnimatedDecodeInputs, seed + "_twice", std::string(1, static_cast<char>(method)) + twice);
          }
        }
      }
    }
  }

  writeSeed(root / kArithBlockInputs, "empty", arithBlock({}, false));
  writeSeed(root / kArithBlockInputs, "small", arithBlock({0, 1, 2, 3, 4}, false));
  writeSeed(root / kArithBlockInputs, "signed", arithBlock({100, -100, 0, 7, -1, 2147483647, -2147483647}, true));
  writeSeed(root / kArithBlockInputs, "zeros", arithBlock(std::vector<int>(300, 0), true));

  writeSeed(root / kObjReaderInputs, "forms.obj",
            "# comment\nv 0 0 0\r\nv 1.5e3 -0x1p-2 inf\nv 1 2 3 4\nvn 0 0 1\nvt 0.5 0.5\n"
            "g part\nf 1/1/1 2/2/2 3/3/3\nf 1//1 2//2 3//3 1\n\nf 1 2 3\r\n");
  std::cout << "seeds in " << root.string() << "\n";
  return 0;
}
