#pragma once
// What an input of arbitrary bytes means to each decode entry point. The libFuzzer
// harnesses and the regression test over tests/data/bad/ both go through these
// functions, so a kept crash input replays exactly as the fuzzer ran it.
//
// Each function returns normally when the bytes decode, throws CodecError when they
// are rejected, and lets anything else escape: a fault of the decoder.

#include <algorithm>
#include <cmath>
#include <cstdint>
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
#include "mesh/DynamicMeshObjSaver.hpp"
#include "mesh/MeshObjLoader.hpp"
#include "support/LittleEndian.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec::testing {

// The subdirectories of tests/data/bad/, one per entry point.
inline constexpr const char* kArithBlockInputs = "arith_block";
inline constexpr const char* kConnectivityInputs = "connectivity";
inline constexpr const char* kStaticDecodeInputs = "static_decode";
inline constexpr const char* kObjReaderInputs = "obj_reader";
inline constexpr const char* kGeometryInputs = "geometry_decode";
inline constexpr const char* kAnimatedDecodeInputs = "animated_decode";
inline constexpr const char* kAnimatedGeometryInputs = "animated_geometry_decode";

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

// Writes the bytes to scratchDir/input.bin for the pipelines, which read a path.
inline std::string writeScratchFile(const std::string& scratchDir, std::string_view bytes) {
  const std::string path = scratchDir + "/input.bin";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

// Byte 0 chooses the method (its value mod 4), the rest is a compressed mesh file.
// The file and the decoded OBJ file live in scratchDir. A decoded OBJ file must read
// back, with finite positions: anything else is a silent failure of a solve or a
// dequantization, not a rejection.
inline void decodeStaticFileInput(std::string_view bytes, const std::string& scratchDir) {
  if (bytes.empty()) return;
  const int method = static_cast<unsigned char>(bytes[0]) % 4;
  const std::string in = writeScratchFile(scratchDir, bytes.substr(1));
  const std::string out = scratchDir + "/decoded.obj";
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

inline int vertexCountOf(const TriangleList& tris) {
  unsigned maxVertex = 0;
  for (const auto& t : tris) maxVertex = std::max({maxVertex, t[0], t[1], t[2]});
  return static_cast<int>(maxVertex) + 1;
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
  const float q = floatAt(bytes, 2);
  if (!(std::isfinite(q) && q > 0)) return;
  const int n = vertexCountOf(tris);
  std::stringstream s = binaryStream(bytes.substr(6));
  const Eigen::MatrixXd positions = staticMethod(method)->decode(tris, s, q, n, 3);
  if (!positions.allFinite()) throw std::logic_error("decoded positions are not finite");
}

// Byte 0 chooses the method (mod 7: 0 to 5, or 6, which reads no geometry sub-stream),
// the rest is a compressed animation file, decoded as -dd does into frame files in
// scratchDir; with a decoder, every frame must read back with finite positions.
// A few bytes of mean block can legitimately ask for thousands of frames, each a file
// of V vertex lines, so inputs whose header asks for more than kMaxFuzzFrames frames,
// or whose first mesh (the one written out) asks for more than kMaxFuzzFrameVertices
// positions over all frames, are skipped to keep executions fast.
inline constexpr std::int64_t kMaxFuzzFrames = 64;
inline constexpr std::int64_t kMaxFuzzFrameVertices = 1 << 14;

inline void decodeAnimatedFileInput(std::string_view bytes, const std::string& scratchDir) {
  if (bytes.empty()) return;
  const int method = static_cast<unsigned char>(bytes[0]) % 7;
  const std::string_view file = bytes.substr(1);
  const std::int32_t frames = file.size() >= 8 ? int32At(file, 4) : 0;
  const std::int32_t vertices = file.size() >= 24 ? int32At(file, 20) : 0;
  if (frames > kMaxFuzzFrames || std::int64_t{frames} * std::max(vertices, 1) > kMaxFuzzFrameVertices) return;

  const std::string prefix = scratchDir + "/frame_";
  decodeDynamic(writeScratchFile(scratchDir, file), prefix, method);
  const GeometryMethod* coder = animatedMethod(method);
  if (!coder || !coder->hasDecoder()) return;  // the frames hold face lines only
  const DynamicMeshObjSaver names(prefix, ".obj");
  for (int frame = 0; frame < frames; ++frame) {
    Mesh mesh(0, 0);
    try {
      mesh = MeshObjLoader(names.frameFileName(frame)).Load();
    } catch (const CodecError& e) {
      throw std::logic_error("decoded frame " + std::to_string(frame) + " does not read back: " + e.what());
    }
    if (!mesh.getVertices().allFinite()) {
      throw std::logic_error("decoded positions of frame " + std::to_string(frame) + " are not finite");
    }
  }
}

// Byte 0 chooses the animated method (mod 6), byte 1 one of the small meshes, byte 2
// the number of coefficient columns (mod 8), bytes 3 to 6 the coefficient step as in
// a file header, the rest is the geometry sub-stream, as in decodeGeometryInput.
inline void decodeAnimatedGeometryInput(std::string_view bytes) {
  if (bytes.size() < 7) return;
  const int method = static_cast<unsigned char>(bytes[0]) % 6;
  const auto& lists = decodedSmallMeshTriangles();
  const TriangleList& tris = lists[static_cast<unsigned char>(bytes[1]) % lists.size()];
  const int cols = static_cast<unsigned char>(bytes[2]) % 8;
  const float q = floatAt(bytes, 3);
  if (!(std::isfinite(q) && q > 0)) return;
  const int n = vertexCountOf(tris);
  std::stringstream s = binaryStream(bytes.substr(7));
  const Eigen::MatrixXd coefficients = animatedMethod(method)->decode(tris, s, q, n, cols);
  if (coefficients.rows() != n || coefficients.cols() != cols) {
    throw std::logic_error("decoded coefficients are " + std::to_string(coefficients.rows()) + " x " +
                           std::to_string(coefficients.cols()));
  }
  if (!coefficients.allFinite()) throw std::logic_error("decoded coefficients are not finite");
}

// The whole input is the text of an OBJ file.
inline void readObjInput(std::string_view bytes) { MeshObjLoader("fuzz.obj").parse(bytes); }

}  // namespace meshcodec::testing
