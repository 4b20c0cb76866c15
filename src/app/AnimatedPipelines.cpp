// The three commands on animations. Each sequences the frame reader and writer, the
// connectivity coder, the trajectory PCA and the geometry coder of the method over
// one code stream, and checks what those cannot: the arguments, the reference mesh
// against the animation, and a compressed file's header against its sub-streams.
//
// Compressed animation file: mesh count (unsigned), frame count F, basis count k and
// coefficient step q, then per mesh its triangle and vertex counts, the connectivity
// sub-stream, the PCA sub-stream and the geometry sub-stream of the method (none for
// a method outside 0 to 6; methods 3 to 5 begin theirs with the coded reference
// shape). All fields are 32-bit little-endian; nothing records the method.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/Codecs.hpp"
#include "app/CompressedInput.hpp"
#include "app/GeometryMethod.hpp"
#include "app/PipelineSupport.hpp"
#include "common/CodecError.hpp"
#include "common/OutputFile.hpp"
#include "common/OutputTarget.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "geometry/Quantizer.hpp"
#include "mesh/DynamicMesh.hpp"
#include "mesh/DynamicMeshObjLoader.hpp"
#include "mesh/DynamicMeshObjSaver.hpp"
#include "mesh/Mesh.hpp"
#include "mesh/MeshObjLoader.hpp"
#include "mesh/ObjText.hpp"
#include "pca/PCA.hpp"

namespace meshcodec {

namespace {

constexpr std::size_t kHeaderBytes = 16;
constexpr std::size_t kRecordHeaderBytes = 8;
// Every animation is coded with this many anchor vertices.
constexpr int kAnimationAnchors = 20;

// The reference shape of methods 3 to 6: the animation's vertices in its numbering.
Mesh loadReference(const std::string& path, long long vertexCount, const VertexOrder& order) {
  try {
    Mesh reference = MeshObjLoader(path, Coordinates::Finite).Load();
    if (reference.getVertices().rows() != vertexCount) {
      throw OutOfDomain("the reference mesh has " + std::to_string(reference.getVertices().rows()) +
                        " vertices, the animation " + std::to_string(vertexCount));
    }
    reference.reindex(order);
    return reference;
  } catch (...) {
    rethrowNamingFile(path);
  }
}

void requireCodableAnimation(const DynamicMesh& mesh) {
  if (mesh.getTriangles().size() > static_cast<size_t>(INT32_MAX) || mesh.getVertices().cols() > INT32_MAX) {
    throw OutOfDomain("more than 2^31 - 1 triangles or vertices");
  }
  if (mesh.getVertices().cols() < kAnimationAnchors) {
    throw OutOfDomain("an animation needs at least " + std::to_string(kAnimationAnchors) + " vertices, this one has " +
                      std::to_string(mesh.getVertices().cols()));
  }
}

}  // namespace

void encodeDynamic(std::string directory, std::string regexMask, std::string out, int bases, float precision,
                   float coefQuant, int method, std::string reference) {
  if (!(std::isfinite(coefQuant) && coefQuant > 0)) {
    throw BadArgument("coefficient quantization " + formatNumber(coefQuant) + " is not a positive number");
  }
  const std::vector<OutputTarget> targets = OutputTarget::checkTargets({out});
  try {
    // Listing the frames is cheap: an output that is one of them, or the reference
    // mesh that the method reads, is refused before any is read.
    const DynamicMeshObjLoader loader(directory, regexMask, Coordinates::Finite);
    std::vector<std::string> inputs = loader.frames();
    if (const GeometryMethod* coder = animatedMethod(method); coder != nullptr && coder->needsReference) {
      inputs.push_back(reference);
    }
    OutputTarget::checkNotInputs(targets, inputs);
    std::vector<DynamicMesh> meshes = loader.Load();
    std::stringstream s = makeCodeStream();
    writeUint32(s, static_cast<std::uint32_t>(meshes.size()));
    writeInt32(s, static_cast<std::int32_t>(meshes.at(0).getVertices().rows() / 3));
    writeInt32(s, bases);
    writeFloat(s, coefQuant);
    for (DynamicMesh& mesh : meshes) {
      requireCodableAnimation(mesh);
      const int triangleCount = static_cast<int>(mesh.getTriangles().size());
      const int vertexCount = static_cast<int>(mesh.getVertices().cols());
      writeInt32(s, triangleCount);
      writeInt32(s, vertexCount);
      const std::int64_t connectivityStart = s.tellp();
      const VertexOrder order = EdgeBreaker::encode(mesh.getTriangles(), s);
      requireEveryVertexUsed(order, vertexCount);
      requireDecodableConnectivity(s, connectivityStart, triangleCount);
      mesh.reindex(order);
      CoefficientMatrix coefficients = PCA::encode(mesh, s, bases, precision);
      const AnchorList anchors = mesh.computeAnchors3(kAnimationAnchors);
      if (const GeometryMethod* coder = animatedMethod(method)) {
        Mesh shape(0, 0);
        if (coder->needsReference) shape = loadReference(reference, vertexCount, order);
        try {
          coder->encode(mesh.getTriangles(), coefficients, coder->needsReference ? &shape.getVertices() : nullptr,
                        s, coefQuant, vertexCount, anchors);
        } catch (const StepTooSmall& e) {
          throw e.naming("coefficient quantization", coefQuant);
        }
      }
    }
    OutputFile file(targets[0]);
    const std::string bytes = s.str();
    file.stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.commit();
    std::cout << static_cast<std::int64_t>(bytes.size()) << "\n";
  } catch (...) {
    rethrowNamingFile(directory);
  }
}

void decodeDynamic(std::string in, std::string prefix, int method) {
  // The frames' directory is resolved now, through the first frame's name, and held:
  // the count is not known yet, and every frame is resolved in it once it is.
  const DynamicMeshObjSaver saver(prefix, ".obj");
  OutputTarget::Cache frameDirectory;
  OutputTarget::checkTargets({saver.frameFileName(0)}, &frameDirectory);
  std::vector<OutputTarget> frameFiles;
  // Only the first mesh is written; the others are decoded to check the file. Its
  // frames are computed one at a time as they are written, so that memory grows with
  // the frame count only by the PCA sub-stream and what the saver keeps per frame
  // until every frame is renamed into place.
  TriangleList triangles;
  std::optional<PCA> pca;
  CoefficientMatrix coefficients;
  std::int32_t frames = 0;
  // What a refusal adds depends on the header bytes and on how far decoding got.
  std::uint8_t header[kHeaderBytes];
  std::size_t headerBytes = 0;
  bool geometryReached = false;
  try {
    CompressedInput input(in);
    headerBytes = input.read(header, kHeaderBytes);
    if (headerBytes < kHeaderBytes) {
      throw CorruptStream("the file has " + std::to_string(headerBytes) + " bytes, fewer than its 16-byte header");
    }
    const std::uint32_t meshCount = uint32At(header, 0);
    frames = int32At(header, 4);
    const std::int32_t bases = int32At(header, 8);
    const float q = floatAt(header, 12);
    if (const std::string fault = implausibleAnimationHeader(meshCount, frames, bases); !fault.empty()) {
      throw CorruptStream("header: " + fault);
    }
    if (!(std::isfinite(q) && q > 0)) {
      throw CorruptStream("header: coefficient step " + formatNumber(q) + " is not a positive number");
    }
    // Method 6 and numbers without a coder read no geometry sub-stream: the
    // coefficients stay empty and the frames hold face lines only.
    const GeometryMethod* coder = animatedMethod(method);
    const GeometryMethod* decoder = coder && coder->hasDecoder() ? coder : nullptr;
    std::iostream& s = input.stream();
    for (std::uint32_t i = 0; i < meshCount; ++i) {
      std::uint8_t counts[kRecordHeaderBytes];
      if (input.read(counts, kRecordHeaderBytes) < kRecordHeaderBytes) {
        throw CorruptStream("mesh " + std::to_string(i) + ": the file ends before its counts");
      }
      const std::int32_t triangleCount = int32At(counts, 0);
      const std::int32_t vertexCount = int32At(counts, 4);
      requirePlausibleCounts(triangleCount, vertexCount, "mesh " + std::to_string(i));
      TriangleList tris = EdgeBreaker::decode(triangleCount, s);
      requireDecodedCounts(tris, triangleCount, vertexCount);
      PCA meshPca(s, bases, frames);
      // A wrong method number misreads this sub-stream, and so the records after it.
      geometryReached = decoder != nullptr;
      CoefficientMatrix meshCoefficients =
          decoder ? decoder->decode(tris, s, q, vertexCount, bases) : CoefficientMatrix();
      if (i == 0) {
        triangles = std::move(tris);
        pca.emplace(std::move(meshPca));
        coefficients = std::move(meshCoefficients);
      }
    }
    // A method without a decoder reads no geometry sub-stream, whatever follows.
    if (decoder) input.requireConsumed(method);
    // The frame count, which the PCA mean has confirmed, gives the frames' names:
    // none may be the compressed file.
    frameFiles = OutputTarget::checkTargets(saver.frameFileNames(frames), &frameDirectory);
    OutputTarget::checkNotInputs(frameFiles, {in});
  } catch (const CorruptStream& refusal) {
    refuseCompressedFile(refusal, CompressedKind::Animation, header, headerBytes, geometryReached, in);
  } catch (...) {
    rethrowNamingFile(in);
  }
  const Eigen::Index vertexCount = coefficients.rows();
  Eigen::Matrix<double, 3, Eigen::Dynamic, Eigen::RowMajor> frame(3, vertexCount);
  saver.Save(std::move(frameFiles), vertexCount, triangles, [&](int f) {
    pca->getFrame(coefficients, f, frame.row(0).data(), frame.row(1).data(), frame.row(2).data());
    return FramePositions{frame.row(0).data(), frame.row(1).data(), frame.row(2).data()};
  });
}

void reindexDynamic(std::string directory, std::string regexMask, std::string prefix) {
  const DynamicMeshObjSaver saver(prefix, ".obj");
  OutputTarget::Cache frameDirectory;
  OutputTarget::checkTargets({saver.frameFileName(0)}, &frameDirectory);
  std::vector<DynamicMesh> meshes;
  std::vector<OutputTarget> frameFiles;
  try {
    // Each input frame gives an output frame; none may be an input frame.
    const DynamicMeshObjLoader loader(directory, regexMask);
    const std::vector<std::string>& inputs = loader.frames();
    frameFiles = OutputTarget::checkTargets(
        saver.frameFileNames(static_cast<int>(std::min<std::size_t>(inputs.size(), INT_MAX))), &frameDirectory);
    OutputTarget::checkNotInputs(frameFiles, inputs);
    meshes = loader.Load();
    for (DynamicMesh& mesh : meshes) {
      std::stringstream s = makeCodeStream();
      const VertexOrder order = EdgeBreaker::encode(mesh.getTriangles(), s);
      requireEveryVertexUsed(order, mesh.getVertices().cols());
      mesh.reindex(order);
      mesh.setTriangles(EdgeBreaker::decode(static_cast<int>(mesh.getTriangles().size()), s));
    }
  } catch (...) {
    rethrowNamingFile(directory);
  }
  saver.Save(std::move(frameFiles), meshes.front());
}

}  // namespace meshcodec
