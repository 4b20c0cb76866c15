// The connectivity sub-stream: two arithmetic blocks, the CLERS symbols and then the
// handle list, both without a sign bin. The symbol count is the first block's count;
// the triangle count is one more.

#include "connectivity/EdgeBreaker.hpp"

#include <iostream>
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

TriangleList EdgeBreaker::decode(int /*triangleCount*/, std::iostream& s) {
  auto readBlock = [&s](const char* name) {
    try {
      return ArithCoder::decode(s, false);
    } catch (const CorruptStream& e) {
      throw CorruptStream(std::string("connectivity: ") + name + " block: " + e.what());
    }
  };
  std::vector<int> symbols = readBlock("symbol");
  std::vector<int> pairs = readBlock("handle");
  EdgeBreaker coder;
  coder.rebuild(std::move(symbols), std::move(pairs));
  return std::move(coder.table.triangles);
}

}  // namespace meshcodec
