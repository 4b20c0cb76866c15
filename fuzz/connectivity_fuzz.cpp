// The connectivity sub-stream: the symbol block and the handle block.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/DecodeEntryPoints.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    meshcodec::testing::decodeConnectivityInput({reinterpret_cast<const char*>(data), size});
  } catch (const meshcodec::CodecError&) {
  }
  return 0;
}
