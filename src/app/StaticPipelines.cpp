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
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/Codecs.hpp"
#include "app/CompressedInput.hpp"
#include "app/GeometryMethod.hpp"
#include "app/PipelineSupport.hpp"
#include "common/CodecError.hpp"
#include "common/CommitGroup.hpp"
#include "common/OutputFile.hpp"
#include "common/OutputTarget.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "geometry/Quantizer.hpp"
#include "mesh/Mesh.hpp"
#include "mesh/MeshObjLoader.hpp"
#include "mesh/MeshObjSaver.hpp"
#include "mesh/ObjText.hpp"

namespace meshcodec {

namespace {

constexpr std::size_t kHeaderBytes = 12;

void requireInt32Counts(const Mesh& mesh) {
  if (mesh.getTriangles().size() > static_cast<size_t>(INT32_MAX) || mesh.getVertices().rows() > INT32_MAX) {
    throw OutOfDomain("more than 2^31 - 1 triangles or vertices");
  }
}

// The stored step is the float product of the argument and the average edge length;
// say which factor keeps it from being a positive finite number.
void requireStep(float q, float quantization, float averageEdgeLength) {
  if (std::isfinite(q) && q > 0) return;
  if (averageEdgeLength == 0) {
    throw OutOfDomain("the average edge length is zero, so there is no quantization step");
  }
  if (!std::isfinite(averageEdgeLength)) {
    throw OutOfDomain("the average edge length overflows a float");
  }
  std::ostringstream reason;
  reason << "quantization " << quantization << " times the average edge length " << averageEdgeLength
         << " is not a positive float";
  throw BadArgument(reason.str());
}

}  // namespace

void encode(std::string in, std::string out, float quantization, int method) {
  if (!(std::isfinite(quantization) && quantization > 0)) {
    throw BadArgument("quantization " + formatNumber(quantization) + " is not a positive number");
  }
  // Both outputs are resolved and checked before the mesh is read and coded, and
  // written where they were resolved to.
  const std::vector<OutputTarget> targets = OutputTarget::checkTargets({out, "map.txt"});
  OutputTarget::checkNotInputs(targets, {in});
  try {
    Mesh mesh = MeshObjLoader(in, Coordinates::Finite).Load();
    requireInt32Counts(mesh);
    const int triangleCount = static_cast<int>(mesh.getTriangles().size());
    // The step is stored as the float product, and both sides quantize with it.
    const float averageEdgeLength = mesh.avgEL();
    const float q = quantization * averageEdgeLength;

    std::stringstream s = makeCodeStream();
    writeFloat(s, q);
    writeInt32(s, triangleCount);
    writeInt32(s, static_cast<std::int32_t>(mesh.getVertices().rows()));
    const VertexOrder order = EdgeBreaker::encode(mesh.getTriangles(), s);
    requireEveryVertexUsed(order, mesh.getVertices().rows());
    requireDecodableConnectivity(s, kHeaderBytes, triangleCount);
    requireStep(q, quantization, averageEdgeLength);
    const std::int64_t connectivityEnd = s.tellp();

    // Both files are written before either replaces its target, and the positions
    // are printed once both are in place.
    CommitGroup outputs;
    OutputFile& map = outputs.add(targets[1]);
    for (int entry : order) map.stream() << entry << "\n";

    mesh.reindex(order);
    // One anchor per full thousand vertices, and at least one: without an anchor the
    // Laplacian system is singular and no method can decode the positions.
    const int vertexCount = static_cast<int>(mesh.getVertices().rows());
    const AnchorList anchors = mesh.computeAnchors3(std::max(1, vertexCount / 1000));
    if (const GeometryMethod* coder = staticMethod(method)) {
      try {
        coder->encode(mesh.getTriangles(), mesh.getVertices(), nullptr, s, q, vertexCount, anchors);
      } catch (const StepTooSmall& e) {
        throw e.naming("quantization", quantization);
      }
    }
    OutputFile& file = outputs.add(targets[0]);
    const std::string bytes = s.str();
    file.stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    outputs.commit();
    std::cout << connectivityEnd << "\t" << static_cast<std::int64_t>(bytes.size()) << "\n";
  } catch (...) {
    rethrowNamingFile(in);
  }
}

void decode(std::string in, std::string out, int method) {
  std::vector<OutputTarget> targets = OutputTarget::checkTargets({out});
  OutputTarget::checkNotInputs(targets, {in});
  Mesh mesh(0, 0);
  // What a refusal adds depends on the header bytes and on how far decoding got.
  std::uint8_t header[kHeaderBytes];
  std::size_t headerBytes = 0;
  bool geometryReached = false;
  try {
    CompressedInput input(in);
    headerBytes = input.read(header, kHeaderBytes);
    if (headerBytes < kHeaderBytes) {
      throw CorruptStream("the file has " + std::to_string(headerBytes) + " bytes, fewer than its 12-byte header");
    }
    const float q = floatAt(header, 0);
    const std::int32_t triangleCount = int32At(header, 4);
    const std::int32_t vertexCount = int32At(header, 8);
    if (!(std::isfinite(q) && q > 0)) {
      throw CorruptStream("header: quantization step " + formatNumber(q) + " is not a positive number");
    }
    requirePlausibleCounts(triangleCount, vertexCount, "header");

    std::iostream& s = input.stream();
    TriangleList tris = EdgeBreaker::decode(triangleCount, s);
    requireDecodedCounts(tris, triangleCount, vertexCount);
    geometryReached = true;
    // A method without a geometry coder reads no geometry sub-stream, whatever follows,
    // and leaves the vertex matrix empty: the OBJ file holds face lines only.
    VertexMatrix vertices;
    if (const GeometryMethod* coder = staticMethod(method)) {
      vertices = coder->decode(tris, s, q, vertexCount, 3);
      input.requireConsumed(method);
    }
    mesh.setTriangles(std::move(tris));
    mesh.setVertices(vertices);
  } catch (const CorruptStream& refusal) {
    refuseCompressedFile(refusal, CompressedKind::StaticMesh, header, headerBytes, geometryReached, in);
  } catch (...) {
    rethrowNamingFile(in);
  }
  MeshObjSaver(std::move(targets[0])).Save(mesh);
}

void reindex(std::string in, std::string out) {
  std::vector<OutputTarget> targets = OutputTarget::checkTargets({out});
  OutputTarget::checkNotInputs(targets, {in});
  Mesh mesh(0, 0);
  try {
    mesh = MeshObjLoader(in).Load();
    requireInt32Counts(mesh);
    std::stringstream s = makeCodeStream();
    const VertexOrder order = EdgeBreaker::encode(mesh.getTriangles(), s);
    requireEveryVertexUsed(order, mesh.getVertices().rows());
    mesh.reindex(order);
    mesh.setTriangles(EdgeBreaker::decode(static_cast<int>(mesh.getTriangles().size()), s));
  } catch (...) {
    rethrowNamingFile(in);
  }
  MeshObjSaver(std::move(targets[0])).Save(mesh);
}

}  // namespace meshcodec
