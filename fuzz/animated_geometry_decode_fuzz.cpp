// The geometry sub-stream of each animated method over a genuine small mesh: byte 0
// chooses the method 0 to 5, byte 1 the mesh, byte 2 the column count 0 to 7, bytes
// 3 to 6 the coefficient step.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/DecodeEntryPoints.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    meshcodec::testing::decodeAnimatedGeometryInput({reinterpret_cast<const char*>(data), size});
  } catch (const meshcodec::CodecError&) {
  }
  return 0;
}
