#pragma once
// What an input of arbitrary bytes means to each decode entry point. The libFuzzer
// harnesses and the regression test over tests/data/bad/ both go through these
// functions, so a kept crash input replays exactly as the fuzzer ran it.
//
// Each function returns normally when the bytes decode, throws CodecError when they
// are rejected, and lets anything else escape: a fault of the decoder.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/Codecs.hpp"
#include "app/GeometryMethod.hpp"
#include "common/CodecError.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "entropy/ArithCoder.hpp"
#include "mesh/MeshObjLoader.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec::testing {

// The subdirectories of tests/data/bad/, one per entry point.
inline constexpr const char* kArithBlockInputs = "arith_block";
inline constexpr const char* kConnectivityInputs = "connectivity";
inline constexpr const char* kStaticDecodeInputs = "static_decode";
inline constexpr const char* kObjReaderInputs = "obj_reader";
inline constexpr const char* kGeometryInputs = "geometry_decode";

inline std::stringstream binaryStream(std::string_view bytes) {
  return std::stringstream(std::string(bytes), std::ios::in | std::ios::out | std::ios::binary);
}

// Byte 0 chooses the sign flag (its lowest bit), the rest is one arithmetic block.
inline void decodeArithBlockInput(std::string_view bytes) {
  if (bytes.empty()) return;
  std::stringstream s = binaryStream(bytes.substr(1));
  ArithCoder::decode(s, (bytes[0] & 1) != 0);
}

// The whole input is a connectivity sub-stream.
inline void decodeConnectivityInput(std::string_view bytes) {
  std::stringstream s = binaryStream(bytes);
  EdgeBreaker::decode(0, s);
}

// Byte 0 chooses the method (its value mod 4), the rest is a compressed mesh file.
// The file and the decoded OBJ file live in scratchDir. A decoded OBJ file must read
// back, with finite positions: anything else is a silent failure of a solve or a
// dequantization, not a rejection.
inline void decodeStaticFileInput(std::string_view bytes, const std::string& scratchDir) {
  if (bytes.empty()) return;
  const int method = static_cast<unsigned char>(bytes[0]) % 4;
  const std::string in = scratchDir + "/input.bin";
  const std::string out = scratchDir + "/decoded.obj";
  std::FILE* f = std::fopen(in.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + in);
  std::fwrite(bytes.data() + 1, 1, bytes.size() - 1, f);
  std::fclose(f);
  decode(in, out, method);
  Mesh mesh(0, 0);
  try {
    mesh = MeshObjLoader(out).Load();
  } catch (const CodecError& e) {
    throw std::logic_error(std::string("the decoded OBJ file does not read back: ") + e.what());
  }
  if (!mesh.getVertices().allFinite()) throw std::logic_error("decoded positions are not finite");
}

// The meshes of the seed corpus, a few dozen vertices at most, so that every
// execution of a geometry decoder stays fast.
inline std::vector<Mesh> smallMeshes() {
  std::vector<Mesh> meshes = {tetrahedron(), octahedron(), uvSphere(3, 5), gridTorus(4, 5), holedPlate(2, 1)};
  addNoise(meshes[2], 0.01);
  return meshes;
}

// The triangles of each small mesh as the connectivity decoder hands them to the
// geometry decoders: in walk order and in the encoder's vertex numbering.
inline const std::vector<TriangleList>& decodedSmallMeshTriangles() {
  static const std::vector<TriangleList> lists = [] {
    std::vector<TriangleList> out;
    for (const Mesh& mesh : smallMeshes()) {
      std::stringstream s = binaryStream({});
      EdgeBreaker::encode(mesh.getTriangles(), s);
      out.push_back(EdgeBreaker::decode(0, s));
    }
    return out;
  }();
  return lists;
}

// Byte 0 chooses the method (mod 4), byte 1 one of the small meshes (mod their
// count), bytes 2 to 5 are the step as in a file header, the rest is the geometry
// sub-stream. The connectivity is genuine, so every input reaches the decoder of
// the method; steps that the pipeline refuses in the header are skipped.
inline void decodeGeometryInput(std::string_view bytes) {
  if (bytes.size() < 6) return;
  const int method = static_cast<unsigned char>(bytes[0]) % 4;
  const auto& lists = decodedSmallMeshTriangles();
  const TriangleList& tris = lists[static_cast<unsigned char>(bytes[1]) % lists.size()];
  float q;
  std::memcpy(&q, bytes.data() + 2, 4);  // little-endian, as on every machine we build for
  if (!(std::isfinite(q) && q > 0)) return;
  unsigned maxVertex = 0;
  for (const auto& t : tris) maxVertex = std::max({maxVertex, t[0], t[1], t[2]});
  const int n = static_cast<int>(maxVertex) + 1;
  std::stringstream s = binaryStream(bytes.substr(6));
  const Eigen::MatrixXd positions = staticMethod(method)->decode(tris, s, q, n, 3);
  if (!positions.allFinite()) throw std::logic_error("decoded positions are not finite");
}

// The whole input is the text of an OBJ file.
inline void readObjInput(std::string_view bytes) { MeshObjLoader("fuzz.obj").parse(bytes); }

}  // namespace meshcodec::testing
