// The three commands on single meshes. Each only sequences the mesh model, the
// connectivity coder and the geometry coder of the method over one code stream, and
// checks what the coders cannot: the command's arguments, the header of a compressed
// file against what its sub-streams decode to, and bytes left over at its end.
//
// Compressed mesh file: step (float), triangle count, vertex count (32-bit ints,
// little-endian), the connectivity sub-stream, then the geometry sub-stream of the
// method (none for a method outside 0 to 3). Nothing records the method.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "app/Codecs.hpp"
#include "common/CodecError.hpp"
#include "common/OutputFile.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "entropy/BlockFormat.hpp"
#include "geometry/DiffusionLaplace.hpp"
#include "geometry/Laplace.hpp"
#include "geometry/NewLaplace.hpp"
#include "geometry/NewLaplaceQR.hpp"
#include "mesh/Mesh.hpp"
#include "mesh/MeshObjLoader.hpp"
#include "mesh/MeshObjSaver.hpp"

namespace meshcodec {

namespace {

constexpr std::int64_t kHeaderBytes = 12;

void putField(std::ostream& s, std::uint32_t bits) {
  std::uint8_t bytes[4];
  putLE32(bytes, bits);
  s.write(reinterpret_cast<const char*>(bytes), 4);
}

std::uint32_t floatBits(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

float bitsFloat(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

// The whole compressed file in memory: it is small next to the mesh it decodes to,
// and its size bounds every count read from it.
std::string readCompressedFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UnreadableInput("cannot open the compressed file", path);
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw UnreadableInput("cannot read the compressed file", path);
  return content.str();
}

// The connectivity coder numbers only the vertices that triangles use, so a mesh
// with vertex lines beyond the highest used index cannot be carried.
void requireEveryVertexUsed(const VertexOrder& order, Eigen::Index vertexCount) {
  if (static_cast<Eigen::Index>(order.size()) < vertexCount) {
    throw OutOfDomain("vertex " + std::to_string(order.size() + 1) + " (counted from 1) of " +
                      std::to_string(vertexCount) + " is used by no triangle");
  }
}

// The connectivity decoder bounds its work per corner so that a forged file cannot
// keep it busy for hours; a valid but extremely irregular mesh could exceed that
// bound. Decoding the sub-stream once here turns that rare case into a refusal
// instead of a file that cannot be read back.
void requireDecodableConnectivity(std::iostream& s, int triangleCount) {
  s.seekg(kHeaderBytes);
  try {
    EdgeBreaker::decode(triangleCount, s);
  } catch (const CorruptStream& e) {
    throw OutOfDomain(std::string("the connectivity would not decode: ") + e.what());
  }
}

void requireInt32Counts(const Mesh& mesh) {
  if (mesh.getTriangles().size() > static_cast<size_t>(INT32_MAX) || mesh.getVertices().rows() > INT32_MAX) {
    throw OutOfDomain("more than 2^31 - 1 triangles or vertices");
  }
}

void encodeGeometry(int method, Mesh& mesh, std::iostream& s, float q, const AnchorList& anchorList) {
  const TriangleList& tris = mesh.getTriangles();
  VertexMatrix& v = mesh.getVertices();
  const int n = static_cast<int>(v.rows());
  AnchorList anchors = anchorList;
  switch (method) {
    case 0: NewLaplace::encode(tris, v, s, q, n, anchors, false); break;
    case 1: Laplace::encode(tris, v, s, q, n, anchors, false); break;
    case 2: DiffusionLaplace::encode(tris, DiffusionLaplace::RowMajorMatrix(v), s, q, n, anchors); break;
    case 3: NewLaplaceQR::encode(tris, v, s, q, n, anchors, false); break;
    default: break;  // no geometry sub-stream
  }
}

VertexMatrix decodeGeometry(int method, const TriangleList& tris, std::iostream& s, float q, int n) {
  switch (method) {
    case 0: return NewLaplace::decode(tris, s, q, n, 3);
    case 1: return Laplace::decode(tris, s, q, n, 3);
    case 2: return DiffusionLaplace::decode(tris, s, q, n, 3);
    case 3: return NewLaplaceQR::decode(tris, s, q, n, 3);
    default: return VertexMatrix();  // no geometry sub-stream: face lines only
  }
}

}  // namespace

void encode(std::string in, std::string out, float quantization, int method) {
  if (!(std::isfinite(quantization) && quantization > 0)) {
    throw BadArgument("quantization " + std::to_string(quantization) + " is not a positive number");
  }
  try {
    Mesh mesh = MeshObjLoader(in).Load();
    requireInt32Counts(mesh);
    // The step is stored as the float product, and both sides quantize with it.
    const float q = quantization * mesh.avgEL();

    std::stringstream s(std::ios::in | std::ios::out | std::ios::binary);
    putField(s, floatBits(q));
    putField(s, static_cast<std::uint32_t>(mesh.getTriangles().size()));
    putField(s, static_cast<std::uint32_t>(mesh.getVertices().rows()));
    const VertexOrder order = EdgeBreaker::encode(mesh.getTriangles(), s);
    requireEveryVertexUsed(order, mesh.getVertices().rows());
    requireDecodableConnectivity(s, static_cast<int>(mesh.getTriangles().size()));
    if (!(std::isfinite(q) && q > 0)) {
      throw OutOfDomain("the average edge length is zero, so there is no quantization step");
    }
    std::cout << static_cast<std::int64_t>(s.tellp()) << "\t";

    OutputFile map("map.txt");
    for (int entry : order) map.stream() << entry << "\n";

    mesh.reindex(order);
    // One anchor per full thousand vertices, and at least one: without an anchor the
    // Laplacian system is singular and no method can decode the positions.
    const int vertexCount = static_cast<int>(mesh.getVertices().rows());
    const AnchorList anchors = mesh.computeAnchors3(std::max(1, vertexCount / 1000));
    encodeGeometry(method, mesh, s, q, anchors);
    std::cout << static_cast<std::int64_t>(s.tellp()) << "\n";

    OutputFile file(out);
    const std::string bytes = s.str();
    file.stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.commit();
    map.commit();
  } catch (CodecError& e) {
    e.setFileIfUnset(in);
    throw;
  }
}

void decode(std::string in, std::string out, int method) {
  Mesh mesh(0, 0);
  try {
    const std::string bytes = readCompressedFile(in);
    if (static_cast<std::int64_t>(bytes.size()) < kHeaderBytes) {
      throw CorruptStream("the file has " + std::to_string(bytes.size()) +
                          " bytes, fewer than its 12-byte header");
    }
    const auto* head = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const float q = bitsFloat(getLE32(head));
    const std::int32_t triangleCount = asInt32(getLE32(head + 4));
    const std::int32_t vertexCount = asInt32(getLE32(head + 8));
    if (!(std::isfinite(q) && q > 0)) {
      throw CorruptStream("header: quantization step " + std::to_string(q) + " is not a positive number");
    }
    if (triangleCount <= 0 || vertexCount <= 0) {
      throw CorruptStream("header: " + std::to_string(triangleCount) + " triangles and " +
                          std::to_string(vertexCount) + " vertices");
    }
    // A closed manifold mesh has V = T / 2 + 2 - 2 genus vertices at the most.
    if (vertexCount > triangleCount / 2 + 2) {
      throw CorruptStream("header: " + std::to_string(vertexCount) + " vertices cannot close " +
                          std::to_string(triangleCount) + " triangles");
    }

    std::stringstream s(bytes, std::ios::in | std::ios::out | std::ios::binary);
    s.seekg(kHeaderBytes);
    TriangleList tris = EdgeBreaker::decode(triangleCount, s);
    unsigned maxVertex = 0;
    for (const auto& t : tris) maxVertex = std::max({maxVertex, t[0], t[1], t[2]});
    if (tris.size() != static_cast<size_t>(triangleCount) ||
        static_cast<std::int64_t>(maxVertex) + 1 != vertexCount) {
      throw CorruptStream("connectivity decodes to " + std::to_string(tris.size()) + " triangles over " +
                          std::to_string(std::int64_t{maxVertex} + 1) + " vertices; the header states " +
                          std::to_string(triangleCount) + " and " + std::to_string(vertexCount));
    }
    VertexMatrix vertices = decodeGeometry(method, tris, s, q, vertexCount);
    const std::int64_t used = s.tellg();
    if (used != static_cast<std::int64_t>(bytes.size())) {
      throw CorruptStream(std::to_string(static_cast<std::int64_t>(bytes.size()) - used) +
                          " bytes follow the last sub-stream of method " + std::to_string(method));
    }
    mesh.setTriangles(std::move(tris));
    mesh.setVertices(vertices);
  } catch (CodecError& e) {
    e.setFileIfUnset(in);
    throw;
  }
  MeshObjSaver(out).Save(mesh);
}

void reindex(std::string in, std::string out) {
  Mesh mesh(0, 0);
  try {
    mesh = MeshObjLoader(in).Load();
    requireInt32Counts(mesh);
    std::stringstream s(std::ios::in | std::ios::out | std::ios::binary);
    const VertexOrder order = EdgeBreaker::encode(mesh.getTriangles(), s);
    requireEveryVertexUsed(order, mesh.getVertices().rows());
    mesh.reindex(order);
    mesh.setTriangles(EdgeBreaker::decode(static_cast<int>(mesh.getTriangles().size()), s));
  } catch (CodecError& e) {
    e.setFileIfUnset(in);
    throw;
  }
  MeshObjSaver(out).Save(mesh);
}

}  // namespace meshcodec
