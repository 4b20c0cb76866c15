// The whole static decode, file to OBJ file: byte 0 chooses the method 0 to 3, the
// rest is the compressed file. The pipeline reads a path, so the bytes go through a
// scratch directory.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ScratchDir.hpp"
#include "support/DecodeEntryPoints.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScratchDir scratch;
  try {
    meshcodec::testing::decodeStaticFileInput({reinterpret_cast<const char*>(data), size}, scratch.path);
  } catch (const meshcodec::CodecError&) {
  }
  return 0;
}
