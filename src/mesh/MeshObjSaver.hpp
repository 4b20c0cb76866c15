#pragma once
// Writes a Mesh as an OBJ file: the output of static decode and reindex. Only vertex
// lines (6 significant digits, as a stream writes a double by default) and face
// lines (indices counted from 1) are written, so coordinates are rounded on saving.

#include <optional>
#include <ostream>
#include <string>

#include "common/OutputTarget.hpp"
#include "mesh/Mesh.hpp"

namespace meshcodec {

class MeshObjSaver {
 public:
  // The file is resolved when it is saved.
  explicit MeshObjSaver(std::string fileName);
  // The file that the command's checks resolved its output name to.
  explicit MeshObjSaver(OutputTarget target);

  // Writes the whole file or leaves an earlier file of that name untouched. An
  // output file that cannot be created or written throws IoFailure; any other
  // standard exception on the way is printed on standard output and ends Save.
  void Save(const Mesh& mesh) const;

  // "v x y z" per row of the vertex matrix, in row order.
  void saveVertices(std::ostream& os, const Mesh& mesh) const;
  // "f a b c" per triangle, each corner plus 1 in 32-bit unsigned arithmetic.
  void saveTriangles(std::ostream& os, const Mesh& mesh) const;

 private:
  std::string fileName;
  std::optional<OutputTarget> resolved;
};

}  // namespace meshcodec
