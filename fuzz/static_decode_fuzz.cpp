// The whole static decode, file to OBJ file: byte 0 chooses the method 0 to 3, the
// rest is the compressed file. The pipeline reads a path, so the bytes go through a
// scratch directory of this process, removed when the fuzzer exits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "support/DecodeEntryPoints.hpp"

namespace {
struct ScratchDir {
  std::string path;
  ScratchDir() {
    char dir[] = "/tmp/meshcodec-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    path = dir;
  }
  ~ScratchDir() { std::filesystem::remove_all(path); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScratchDir scratch;
  try {
    meshcodec::testing::decodeStaticFileInput({reinterpret_cast<const char*>(data), size}, scratch.path);
  } catch (const meshcodec::CodecError&) {
  }
  return 0;
}
