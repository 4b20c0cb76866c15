#include "mesh/MeshObjLoader.hpp"

#include <climits>
#include <utility>

#include "common/CodecError.hpp"
#include "mesh/ObjText.hpp"

namespace meshcodec {

namespace {

std::string atLine(long long lineNumber, const std::string& reason) {
  return "line " + std::to_string(lineNumber) + ": " + reason;
}

// Indices count from 1 (negative ones are refused as the line is parsed); 0 and
// indices past the last vertex name no vertex.
std::string badIndexReason(int corner, unsigned long index, unsigned long vertexCount) {
  const std::string which = "face corner " + std::to_string(corner + 1);
  if (index == 0) return which + " is index 0; indices count from 1";
  return which + " names vertex " + std::to_string(index) + ", but the file has " +
         std::to_string(vertexCount) + " vertex lines";
}

}  // namespace

MeshObjLoader::MeshObjLoader(std::string fileName, Coordinates accepted)
    : fileName(std::move(fileName)), accepted(accepted) {}

Mesh MeshObjLoader::Load() const {
  ObjInput input;
  readObjFile(fileName, input);
  return parse(input);
}

Mesh MeshObjLoader::parse(std::string_view text) const {
  int faces = 0, vertices = 0;
  getModelSize(text, faces, vertices);
  return parse(text, {}, false, faces, vertices);
}

Mesh MeshObjLoader::parse(const ObjInput& input) const {
  return parse(input.text, input.skipped, input.skippedLoneCarriageReturn, lineCount(input.faceLines),
               lineCount(input.vertexLines));
}

Mesh MeshObjLoader::parse(std::string_view text, const std::vector<SkippedLines>& skipped,
                          bool skippedLoneCarriageReturn, int faces, int vertices) const {
  // A file of lone carriage return line ends is one line, which cannot be both a
  // vertex line and a face line, so it always stops here.
  if (vertices == 0 || faces == 0) {
    throw MalformedObj(std::string(vertices == 0 ? "the file has no vertex lines"
                                                 : "the file has no face lines") +
                           loneCarriageReturnNote(text, skippedLoneCarriageReturn),
                       fileName);
  }
  Mesh mesh(vertices, faces);
  // Vertices first, over the whole text, then faces: a file with faults of both
  // kinds reports its first bad vertex line, as separate passes would.
  loadVertices(text, skipped, mesh);
  loadTriangles(text, skipped, mesh);
  return mesh;
}

void MeshObjLoader::getModelSize(std::string_view text, int& faces, int& vertices) const {
  long long faceLines = 0, vertexLines = 0;
  forEachObjLine(text, [&](std::string_view line, long long) {
    if (isVertexLine(line)) ++vertexLines;
    if (isFaceLine(line)) ++faceLines;
  });
  faces = lineCount(faceLines);
  vertices = lineCount(vertexLines);
}

int MeshObjLoader::lineCount(long long lines) const {
  if (lines > INT_MAX) {
    throw MalformedObj("more than " + std::to_string(INT_MAX) + " vertex or face lines", fileName);
  }
  return static_cast<int>(lines);
}

void MeshObjLoader::loadVertices(std::string_view text, const std::vector<SkippedLines>& skipped,
                                 Mesh& mesh) const {
  VertexMatrix& vertices = mesh.getVertices();
  Eigen::Index row = 0;
  const bool tabs = mayHoldTabs(text);
  forEachObjLine(text, skipped, [&](std::string_view line, long long lineNumber) {
    if (!isVertexLine(line) || row >= vertices.rows()) return;
    double xyz[3];
    const LineFault fault = parseVertexLine(line, xyz, tabs);
    if (fault.kind != TextFault::None) {
      throw MalformedObj(atLine(lineNumber, describeLineFault(fault, false)), fileName);
    }
    if (accepted == Coordinates::Finite && !allFinite(xyz)) {
      throw OutOfDomain(atLine(lineNumber, describeNonFinite(xyz)), fileName);
    }
    vertices(row, 0) = xyz[0];
    vertices(row, 1) = xyz[1];
    vertices(row, 2) = xyz[2];
    ++row;
  });
}

void MeshObjLoader::loadTriangles(std::string_view text, const std::vector<SkippedLines>& skipped,
                                  Mesh& mesh) const {
  TriangleList triangles(mesh.getTriangles().size(), {0u, 0u, 0u});
  const unsigned long vertexCount = static_cast<unsigned long>(mesh.getVertices().rows());
  size_t next = 0;
  const bool tabs = mayHoldTabs(text);
  // Every face line is read, not only the first run of them: faces after a group or
  // material line belong to the mesh as much as the others.
  forEachObjLine(text, skipped, [&](std::string_view line, long long lineNumber) {
    if (!isFaceLine(line) || next >= triangles.size()) return;
    unsigned long corners[3];
    const LineFault fault = parseFaceLine(line, corners, tabs);
    if (fault.kind != TextFault::None) {
      throw MalformedObj(atLine(lineNumber, describeLineFault(fault, true)), fileName);
    }
    for (int k = 0; k < 3; ++k) {
      if (corners[k] < 1 || corners[k] > vertexCount) {
        throw MalformedObj(atLine(lineNumber, badIndexReason(k, corners[k], vertexCount)),
                           fileName);
      }
      triangles[next][k] = static_cast<unsigned int>(corners[k] - 1);
    }
    ++next;
  });
  mesh.setTriangles(std::move(triangles));
}

}  // namespace meshcodec
