// The geometry sub-stream of each method over a genuine small mesh: byte 0 chooses
// the method, byte 1 the mesh, bytes 2 to 5 the step. Reaches the solvers far more
// often than whole files, whose header and connectivity must first agree.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/DecodeEntryPoints.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    meshcodec::testing::decodeGeometryInput({reinterpret_cast<const char*>(data), size});
  } catch (const meshcodec::CodecError&) {
  }
  return 0;
}
