// One arithmetic block, either sign flag: byte 0 chooses it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/DecodeEntryPoints.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    meshcodec::testing::decodeArithBlockInput({reinterpret_cast<const char*>(data), size});
  } catch (const meshcodec::CodecError&) {
  }
  return 0;
}
