// The whole animated decode, -dd from file to frame files: byte 0 chooses the method
// 0 to 5 or one without geometry, the rest is the compressed animation. Headers asking
// for many frames are skipped (see decodeAnimatedFileInput).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ScratchDir.hpp"
#include "support/DecodeEntryPoints.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScratchDir scratch;
  try {
    meshcodec::testing::decodeAnimatedFileInput({reinterpret_cast<const char*>(data), size}, scratch.path);
  } catch (const meshcodec::CodecError&) {
  }
  return 0;
}
