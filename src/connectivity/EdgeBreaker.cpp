// The connectivity sub-stream: two arithmetic blocks, the CLERS symbols and then the
// handle list, both without a sign bin. The symbol count is the first block's count;
// the triangle count is one more.

#include "connectivity/EdgeBreaker.hpp"

#include <cstdint>
#include <iostream>
#include <string>
#include <utility>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"

namespace meshcodec {

void EdgeBreaker::encode(std::iostream& s) {
  ArithCoder coder(s, 2, 12);
  coder.encode(clers, false);
  coder.encode(handles, false);
}

VertexOrder EdgeBreaker::encode(const TriangleList& tris, std::iostream& s) {
  EdgeBreaker coder{CornerTable(tris)};
  coder.compress(0);
  coder.encode(s);
  return std::move(coder.M);
}

TriangleList EdgeBreaker::decode(int triangleCount, std::iostream& s) {
  auto readBlock = [&s](const char* name, const ArithCoder::CountCheck& check) {
    try {
      return ArithCoder::decode(s, false, check);
    } catch (const CorruptStream& e) {
      throw CorruptStream(std::string("connectivity: ") + name + " block: " + e.what());
    }
  };
  ArithCoder::CountCheck symbolCount, handleCount;
  if (triangleCount > 0) {
    const std::string triangles = std::to_string(triangleCount) + " triangles";
    symbolCount = [triangles, triangleCount](std::int32_t count) {
      if (count != triangleCount - 1) {
        throw CorruptStream(std::to_string(count) + " symbols, not the " + std::to_string(triangleCount - 1) +
                            " of " + triangles);
      }
    };
    // Each triangle after the first is entered once and adds at most two pairs.
    const std::int64_t mostHandles = 4 * (std::int64_t{triangleCount} - 1);
    handleCount = [triangles, mostHandles](std::int32_t count) {
      if (count > mostHandles) {
        throw CorruptStream(std::to_string(count) + " handle entries, more than the " +
                            std::to_string(mostHandles) + " that " + triangles + " can have");
      }
    };
  }
  std::vector<int> symbols = readBlock("symbol", symbolCount);
  std::vector<int> pairs = readBlock("handle", handleCount);
  EdgeBreaker coder;
  coder.rebuild(std::move(symbols), std::move(pairs));
  return std::move(coder.table.triangles);
}

}  // namespace meshcodec
