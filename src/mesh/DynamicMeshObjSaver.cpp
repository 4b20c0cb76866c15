#include "mesh/DynamicMeshObjSaver.hpp"

#include <algorithm>
#include <charconv>
#include <iomanip>
#include <iostream>
#include <new>
#include <stdexcept>
#include <sstream>
#include <utility>
#include <vector>

#include "common/CodecError.hpp"
#include "common/CommitGroup.hpp"
#include "common/OutputFile.hpp"
#include "common/OutputTarget.hpp"
#include "mesh/ObjText.hpp"

namespace meshcodec {

namespace {

constexpr size_t kMaxLine = 4 + 3 * kMaxFormattedDouble;

// Formats count lines into a block of memory and hands it to the stream a block at
// a time: one stream call per line would cost more than the formatting itself.
// formatLine(out, i) writes line i at out and returns its end.
template <typename FormatLine>
void writeLines(std::ostream& os, Eigen::Index count, FormatLine formatLine) {
  char buffer[1 << 16];
  size_t used = 0;
  for (Eigen::Index i = 0; i < count; ++i) {
    if (used + kMaxLine > sizeof buffer) {
      os.write(buffer, static_cast<std::streamsize>(used));
      used = 0;
    }
    used = static_cast<size_t>(formatLine(buffer + used, i) - buffer);
  }
  os.write(buffer, static_cast<std::streamsize>(used));
}

}  // namespace

DynamicMeshObjSaver::DynamicMeshObjSaver(std::string prefix, std::string suffix)
    : prefix(std::move(prefix)), suffix(std::move(suffix)) {}

std::string DynamicMeshObjSaver::frameFileName(int frame) const {
  std::ostringstream name;
  name << prefix << std::setw(5) << std::setfill('0') << frame << suffix;
  return name.str();
}

std::vector<std::string> DynamicMeshObjSaver::frameFileNames(int frames) const {
  std::vector<std::string> names;
  for (int f = 0; f < frames; ++f) names.push_back(frameFileName(f));
  return names;
}

void DynamicMeshObjSaver::Save(const DynamicMesh& mesh) const {
  // The matrix may have been replaced after construction, so its rows and not the
  // mesh's frame count say how many frames there are.
  Save(OutputTarget::checkTargets(frameFileNames(static_cast<int>(mesh.getVertices().rows() / 3))), mesh);
}

void DynamicMeshObjSaver::Save(std::vector<OutputTarget> frameFiles, const DynamicMesh& mesh) const {
  const AnimationMatrix& v = mesh.getVertices();
  const Eigen::Index frames = v.rows() / 3;
  if (static_cast<std::size_t>(frames) != frameFiles.size()) {
    throw Misuse(std::to_string(frameFiles.size()) + " frame files for " + std::to_string(frames) + " frames", prefix);
  }
  // Rows f, F + f and 2F + f are contiguous in the row-major matrix.
  Save(std::move(frameFiles), v.cols(), mesh.getTriangles(), [&](int f) {
    return FramePositions{v.row(f).data(), v.row(frames + f).data(), v.row(2 * frames + f).data()};
  });
}

void DynamicMeshObjSaver::Save(int frames, Eigen::Index vertexCount, const TriangleList& triangles,
                               const std::function<FramePositions(int frame)>& positionsOf) const {
  Save(OutputTarget::checkTargets(frameFileNames(frames)), vertexCount, triangles, positionsOf);
}

void DynamicMeshObjSaver::Save(std::vector<OutputTarget> frameFiles, Eigen::Index vertexCount,
                               const TriangleList& triangles,
                               const std::function<FramePositions(int frame)>& positionsOf) const {
  std::string name = prefix;  // the frame being written, for an allocation failure
  try {
    // Grown as frames are written rather than reserved for the count a file states.
    CommitGroup frameSet;
    for (std::size_t f = 0; f < frameFiles.size(); ++f) {
      name = frameFiles[f].given;
      OutputFile& file = frameSet.add(std::move(frameFiles[f]));
      saveVertices(file.stream(), vertexCount, positionsOf(static_cast<int>(f)));
      saveTriangles(file.stream(), triangles);
      file.close();  // frees the file's buffer
    }
    name = prefix;
    frameSet.commit();
  } catch (const CodecError&) {
    throw;  // a frame file itself failed: an error of the command, not a note
  } catch (const std::bad_alloc&) {
    throw OutOfMemory(name);
  } catch (const std::length_error&) {
    throw OutOfMemory(name);
  } catch (const std::exception& e) {
    std::cout << e.what() << std::endl;
  }
}

void DynamicMeshObjSaver::saveVertices(std::ostream& os, Eigen::Index vertexCount,
                                       const FramePositions& positions) const {
  const double* xs = positions.x;
  const double* ys = positions.y;
  const double* zs = positions.z;
  writeLines(os, vertexCount, [&](char* out, Eigen::Index j) {
    *out++ = 'v';
    *out++ = ' ';
    out = formatDouble(out, xs[j]);
    *out++ = ' ';
    out = formatDouble(out, ys[j]);
    *out++ = ' ';
    out = formatDouble(out, zs[j]);
    *out++ = '\n';
    return out;
  });
}

void DynamicMeshObjSaver::saveTriangles(std::ostream& os, const TriangleList& triangles) const {
  writeLines(os, static_cast<Eigen::Index>(triangles.size()), [&](char* out, Eigen::Index t) {
    *out++ = 'f';
    for (unsigned int corner : triangles[static_cast<size_t>(t)]) {
      *out++ = ' ';
      // The 32-bit addition wraps for the largest corner value, as the format defines.
      out = std::to_chars(out, out + 10, static_cast<unsigned int>(corner + 1u)).ptr;
    }
    *out++ = '\n';
    return out;
  });
}

}  // namespace meshcodec
