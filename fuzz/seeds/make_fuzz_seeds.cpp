// Writes the seed corpus of the fuzz harnesses: genuine inputs of each entry point,
// made by the codec itself from small generated meshes, so that the fuzzers start
// from deep inside the formats instead of from their framing checks.
//
//   make_fuzz_seeds <directory>
//
// fills <directory>/<entry point>/ (the names of DecodeEntryPoints.hpp). The meshes
// have dozens of vertices: every execution of a whole-file decode factorises a
// Laplacian of that size, and small seeds keep the fuzzers fast.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Codecs.hpp"
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_fuzz_seeds <directory>\n";
    return 2;
  }
  const fs::path root = fs::absolute(argv[1]);
  for (const char* sub :
       {kArithBlockInputs, kConnectivityInputs, kStaticDecodeInputs, kObjReaderInputs, kGeometryInputs}) {
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
