#pragma once
// Writes a DynamicMesh as one OBJ file per frame: the output of animated decode and
// reindex. Frame f goes to prefix + f padded with zeros to five digits + suffix, and
// holds that frame's vertex lines (6 significant digits) and every face line. The
// frames are all or nothing: none replaces an earlier file until every one is written.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "common/OutputTarget.hpp"
#include "mesh/DynamicMesh.hpp"

namespace meshcodec {

// The coordinates of every vertex in one frame.
struct FramePositions {
  const double* x;
  const double* y;
  const double* z;
};

class DynamicMeshObjSaver {
 public:
  DynamicMeshObjSaver(std::string prefix, std::string suffix);

  // Writes frames 0 .. rows/3 - 1 of the animation matrix.
  void Save(const DynamicMesh& mesh) const;
  // The same into the frame files that the command's checks resolved the names of
  // those frames to (OutputTarget::checkTargets), one per frame.
  void Save(std::vector<OutputTarget> frameFiles, const DynamicMesh& mesh) const;

  // Writes frames 0 .. frames - 1 in order, frame f with the vertexCount positions
  // that positionsOf(f) returns (valid until the next call), so that a frame can be
  // computed just before it is written. Each file goes to a temporary file first;
  // the files replace their targets only once all are written, and a stop signal
  // waits until all have. Two frame names of one file (through links) throw
  // BadArgument before anything is written. A frame file that cannot be created or
  // written throws IoFailure, and no frame file is replaced; any other standard
  // exception on the way is printed on standard output and ends Save, also without
  // replacing any file.
  void Save(int frames, Eigen::Index vertexCount, const TriangleList& triangles,
            const std::function<FramePositions(int frame)>& positionsOf) const;
  // The same into the frame files resolved by the command's checks, one per frame.
  void Save(std::vector<OutputTarget> frameFiles, Eigen::Index vertexCount, const TriangleList& triangles,
            const std::function<FramePositions(int frame)>& positionsOf) const;

  // prefix, frame as at least five digits with leading zeros, suffix.
  std::string frameFileName(int frame) const;
  // The names of frames 0 .. frames - 1.
  std::vector<std::string> frameFileNames(int frames) const;
  // "v x y z" per vertex.
  void saveVertices(std::ostream& os, Eigen::Index vertexCount, const FramePositions& positions) const;
  // "f a b c" per triangle, each corner plus 1 in 32-bit unsigned arithmetic.
  void saveTriangles(std::ostream& os, const TriangleList& triangles) const;

 private:
  std::string prefix;
  std::string suffix;
};

}  // namespace meshcodec
