#pragma once
// Writes a DynamicMesh as one OBJ file per frame: the output of animated decode and
// reindex. Frame f goes to prefix + f padded with zeros to five digits + suffix, and
// holds that frame's vertex lines (6 significant digits) and every face line.

#include <ostream>
#include <string>

#include "mesh/DynamicMesh.hpp"

namespace meshcodec {

class DynamicMeshObjSaver {
 public:
  DynamicMeshObjSaver(std::string prefix, std::string suffix);

  // Writes frames 0 .. rows/3 - 1 of the animation matrix in order, each file whole
  // or not at all. A frame file that cannot be created or written throws IoFailure
  // and no later frame is written; any other standard exception on the way is
  // printed on standard output and ends Save.
  void Save(const DynamicMesh& mesh) const;

  // prefix, frame as at least five digits with leading zeros, suffix.
  std::string frameFileName(int frame) const;
  // "v x y z" per vertex for one frame, the frame count taken as rows / 3.
  void saveVertices(std::ostream& os, const DynamicMesh& mesh, int frame) const;
  // "f a b c" per triangle, each corner plus 1 in 32-bit unsigned arithmetic.
  void saveTriangles(std::ostream& os, const DynamicMesh& mesh) const;

 private:
  std::string prefix;
  std::string suffix;
};

}  // namespace meshcodec
