#include "mesh/MeshObjSaver.hpp"

#include <charconv>
#include <iostream>
#include <new>
#include <stdexcept>
#include <utility>

#include "common/CodecError.hpp"
#include "common/OutputFile.hpp"
#include "mesh/ObjText.hpp"

namespace meshcodec {

namespace {

// Lines are formatted into a block of memory and handed to the stream a block at a
// time: one stream call per line would cost more than the formatting itself.
class LineBlock {
 public:
  explicit LineBlock(std::ostream& os) : os(os) {}

  // Room for one more line of at most kMaxLine characters.
  char* reserveLine() {
    if (used + kMaxLine > sizeof buffer) flush();
    return buffer + used;
  }
  void commitLine(char* end) { used = static_cast<size_t>(end - buffer); }
  void flush() {
    os.write(buffer, static_cast<std::streamsize>(used));
    used = 0;
  }

  static constexpr size_t kMaxLine = 4 + 3 * kMaxFormattedDouble;

 private:
  std::ostream& os;
  char buffer[1 << 16];
  size_t used = 0;
};

char* put(char* out, char c) {
  *out = c;
  return out + 1;
}

char* putIndex(char* out, unsigned int corner) {
  // The 32-bit addition wraps for the largest corner value, as the format defines.
  return std::to_chars(out, out + 10, static_cast<unsigned int>(corner + 1u)).ptr;
}

}  // namespace

MeshObjSaver::MeshObjSaver(std::string fileName) : fileName(std::move(fileName)) {}

MeshObjSaver::MeshObjSaver(OutputTarget target) : fileName(target.given), resolved(std::move(target)) {}

void MeshObjSaver::Save(const Mesh& mesh) const {
  try {
    OutputFile file = resolved ? OutputFile(*resolved) : OutputFile(fileName);
    saveVertices(file.stream(), mesh);
    saveTriangles(file.stream(), mesh);
    file.commit();
  } catch (const CodecError&) {
    throw;  // the output file itself failed: an error of the command, not a note
  } catch (const std::bad_alloc&) {
    throw OutOfMemory(fileName);
  } catch (const std::length_error&) {
    throw OutOfMemory(fileName);
  } catch (const std::exception& e) {
    std::cout << e.what() << std::endl;
  }
}

void MeshObjSaver::saveVertices(std::ostream& os, const Mesh& mesh) const {
  const VertexMatrix& v = mesh.getVertices();
  LineBlock block(os);
  for (Eigen::Index i = 0; i < v.rows(); ++i) {
    char* out = block.reserveLine();
    out = put(out, 'v');
    for (int c = 0; c < 3; ++c) out = formatDouble(put(out, ' '), v(i, c));
    block.commitLine(put(out, '\n'));
  }
  block.flush();
}

void MeshObjSaver::saveTriangles(std::ostream& os, const Mesh& mesh) const {
  LineBlock block(os);
  for (const auto& t : mesh.getTriangles()) {
    char* out = block.reserveLine();
    out = put(out, 'f');
    for (int c = 0; c < 3; ++c) out = putIndex(put(out, ' '), t[c]);
    block.commitLine(put(out, '\n'));
  }
  block.flush();
}

}  // namespace meshcodec
