#pragma once
// Builds a DynamicMesh from a directory of OBJ frame files: the input of animated
// encode and reindex. The frames are the entries whose names match a regular
// expression, in byte-wise order of their paths; frame 0 gives the connectivity and
// the vertex count, and every frame gives one set of positions.

#include <string>
#include <string_view>
#include <vector>

#include "mesh/DynamicMesh.hpp"
#include "mesh/ObjText.hpp"

namespace meshcodec {

class DynamicMeshObjLoader {
 public:
  // Lists the frames at once: UnreadableInput naming the directory when it cannot be
  // listed, BadArgument for a regular expression that does not compile. Every frame
  // is read with the coordinates accepted.
  DynamicMeshObjLoader(std::string directory, std::string regexMask,
                       Coordinates accepted = Coordinates::Any);

  // Full paths of the directory entries (of any type) whose whole name matches the
  // ECMAScript expression, sorted byte-wise: f10.obj comes before f2.obj.
  std::vector<std::string> getFramesFiles() const;
  // The frames listed at construction, which Load() reads.
  const std::vector<std::string>& frames() const { return frameFiles; }

  // One mesh holding every frame. Frame 0 is read as a single OBJ mesh (its faces are
  // checked against its vertex count); later frames contribute their vertex lines
  // only. UnreadableInput when no name matches, when a frame is not a regular file
  // (a FIFO, device or directory; every frame is checked before any is read) or
  // cannot be read, MalformedObj for a frame that holds a NUL byte (not text), and (file and line)
  // for a bad line or a frame whose vertex count differs from frame 0's, OutOfDomain (file and line) for a coordinate not accepted.
  std::vector<DynamicMesh> Load() const;

  // Reads the vertex lines of one later frame into x, y, z, which hold the vertex
  // count of frame 0; fileName only names the frame in errors.
  void loadVertices(const ObjInput& input, const std::string& fileName, Eigen::VectorXd& x,
                    Eigen::VectorXd& y, Eigen::VectorXd& z) const;

 private:
  std::vector<std::string> frameFiles;
  std::string directory;
  std::string regexMask;
  Coordinates accepted;
};

}  // namespace meshcodec
