#include "mesh/DynamicMeshObjLoader.hpp"

#include <algorithm>
#include <climits>
#include <filesystem>
// GCC 12 under the sanitizers reports std::function members inside <regex> as maybe
// uninitialized; the code is the standard library's own.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#else
#include <regex>
#endif
#include <system_error>
#include <utility>

#include "common/CodecError.hpp"
#include "mesh/Mesh.hpp"
#include "mesh/MeshObjLoader.hpp"
#include "mesh/ObjText.hpp"

namespace meshcodec {

namespace {

std::regex compileMask(const std::string& regexMask) {
  try {
    return std::regex(regexMask, std::regex::ECMAScript);
  } catch (const std::regex_error&) {
    // The library's text differs between libraries and may name a parenthesis that is
    // not there, as for the shell pattern *.obj; what a user needs is the form wanted.
    throw BadArgument("invalid regular expression '" + regexMask +
                      "': frame names are matched by a regular expression, such as '.*\\.obj' for the names "
                      "that end in .obj");
  }
}

}  // namespace

DynamicMeshObjLoader::DynamicMeshObjLoader(std::string directory, std::string regexMask,
                                           Coordinates accepted)
    : directory(std::move(directory)), regexMask(std::move(regexMask)), accepted(accepted) {
  frameFiles = getFramesFiles();
}

std::vector<std::string> DynamicMeshObjLoader::getFramesFiles() const {
  namespace fs = std::filesystem;
  const std::regex mask = compileMask(regexMask);
  std::vector<std::string> files;
  std::error_code error;
  fs::directory_iterator entry(directory, error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const fs::path& path = entry->path();
    bool matches = false;
    try {
      matches = std::regex_match(path.filename().string(), mask);
    } catch (const std::regex_error& e) {
      throw BadArgument("regular expression '" + regexMask + "' cannot be matched: " + e.what());
    }
    if (matches) files.push_back(path.string());
  }
  if (error) {
    throw UnreadableInput("cannot list the frame directory: " + error.message(), directory);
  }
  // std::string compares its characters as unsigned bytes.
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<DynamicMesh> DynamicMeshObjLoader::Load() const {
  if (frameFiles.empty()) {
    throw UnreadableInput("no frame file in " + directory + " matches " + regexMask, directory);
  }
  // DynamicMesh indexes its rows with int sums up to 3F.
  if (frameFiles.size() > static_cast<size_t>(INT_MAX / 3)) {
    throw UnreadableInput(std::to_string(frameFiles.size()) + " frame files are too many",
                          directory);
  }
  const int frameCount = static_cast<int>(frameFiles.size());
  // A FIFO would block the reader until something writes to it, a device would be
  // read as if it were a frame, and a directory fails only at its turn: each is
  // refused before any frame is read.
  for (const std::string& frame : frameFiles) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(frame, error);
    if (error) throw UnreadableInput("cannot open the frame: " + error.message(), frame);
    if (!std::filesystem::is_regular_file(status)) {
      throw UnreadableInput("the frame is not a regular file", frame);
    }
  }

  // One buffer serves every frame: after the largest frame no file needs a new one.
  ObjInput input;
  readObjFile(frameFiles[0], input);
  Eigen::VectorXd x, y, z;
  std::vector<DynamicMesh> result;
  {
    const Mesh first = MeshObjLoader(frameFiles[0], accepted).parse(input);
    const VertexMatrix& positions = first.getVertices();
    result.emplace_back(static_cast<int>(positions.rows()), frameCount, 0);
    result[0].setTriangles(first.getTriangles());
    x = positions.col(0);
    y = positions.col(1);
    z = positions.col(2);
  }
  DynamicMesh& mesh = result[0];
  mesh.setFrameVertices(0, x, y, z);
  for (int f = 1; f < frameCount; ++f) {
    readObjFile(frameFiles[f], input);
    loadVertices(input, frameFiles[f], x, y, z);
    mesh.setFrameVertices(f, x, y, z);
  }
  return result;
}

void DynamicMeshObjLoader::loadVertices(const ObjInput& input, const std::string& fileName,
                                        Eigen::VectorXd& x, Eigen::VectorXd& y,
                                        Eigen::VectorXd& z) const {
  const Eigen::Index vertexCount = x.size();
  // Every vertex line counts, wherever it stands, as in frame 0. The reader counted
  // them; lines past the expected count, and the face lines after the last vertex
  // line read, are not visited.
  const long long lines = input.vertexLines;
  long long read = 0;
  const std::string_view text = input.text;
  const bool tabs = mayHoldTabs(text);
  forEachObjLine(text, input.skipped, [&](std::string_view line, long long lineNumber) {
    if (!isVertexLine(line)) return true;
    double xyz[3];
    const LineFault fault = parseVertexLine(line, xyz, tabs);
    if (fault.kind != TextFault::None) {
      throw MalformedObj("line " + std::to_string(lineNumber) + ": " + describeLineFault(fault, false), fileName);
    }
    if (accepted == Coordinates::Finite && !allFinite(xyz)) {
      throw OutOfDomain("line " + std::to_string(lineNumber) + ": " + describeNonFinite(xyz), fileName);
    }
    x[read] = xyz[0];
    y[read] = xyz[1];
    z[read] = xyz[2];
    return ++read < vertexCount;
  });
  if (lines != vertexCount) {
    throw MalformedObj("frame has " + std::to_string(lines) + " vertex lines, but frame 0 has " +
                           std::to_string(vertexCount) +
                           loneCarriageReturnNote(text, input.skippedLoneCarriageReturn),
                       fileName);
  }
}

}  // namespace meshcodec
