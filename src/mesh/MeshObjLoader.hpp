#pragma once
// Builds a Mesh from one OBJ file: the input of static encode and reindex and the
// reference shape of animated encode. The file's vertex and face lines are read into
// memory once and counted as they are read, which sizes the mesh; then the vertex
// lines and the face lines are converted.

#include <string>
#include <string_view>
#include <vector>

#include "mesh/Mesh.hpp"
#include "mesh/ObjText.hpp"

namespace meshcodec {

class MeshObjLoader {
 public:
  explicit MeshObjLoader(std::string fileName, Coordinates accepted = Coordinates::Any);

  // Throws UnreadableInput when the file cannot be opened or read, OutOfMemory when
  // it does not fit in memory, MalformedObj for a file that holds a NUL byte (not
  // text), for a file without vertex lines or without face lines and (with the line
  // number) for a vertex or face line that
  // cannot be converted or a face index outside 1 .. vertex count, and OutOfDomain
  // (with the line number) for a coordinate that is not accepted.
  Mesh Load() const;
  // The same on text already in memory, except that the reading alone looks for NUL
  // bytes; errors still name fileName.
  Mesh parse(std::string_view text) const;
  // The same on what readObjFile kept of a file: any text gives the same mesh or the
  // same error as parse(text) on the whole of it.
  Mesh parse(const ObjInput& input) const;

  // Counts the face lines and the vertex lines of the whole text.
  void getModelSize(std::string_view text, int& faces, int& vertices) const;
  // Vertex line i, in file order, fills row i; the mesh has one row per vertex line.
  // Lines are numbered in errors as forEachObjLine numbers them.
  void loadVertices(std::string_view text, const std::vector<SkippedLines>& skipped, Mesh& mesh) const;
  // Face line j, in file order, fills triangle j, for as many triangles as the mesh
  // has; corners are the written indices minus 1.
  void loadTriangles(std::string_view text, const std::vector<SkippedLines>& skipped, Mesh& mesh) const;

 private:
  Mesh parse(std::string_view text, const std::vector<SkippedLines>& skipped, bool skippedLoneCarriageReturn,
             int faces, int vertices) const;
  // A count of vertex or face lines as the mesh's int; MalformedObj beyond it.
  int lineCount(long long lines) const;

  std::string fileName;
  Coordinates accepted;
};

}  // namespace meshcodec
