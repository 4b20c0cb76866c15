#include "EntropyTestUtil.hpp"

#include "entropy/ArithCoderIO.hpp"
#include "entropy/ContextBinaryStats.hpp"
#include "entropy/ModExpGolombBinarizer.hpp"

namespace meshcodec {
namespace testing_entropy {

ReferenceBlock referenceEncode(const std::vector<int>& values, bool withSign) {
  return referenceEncodeBins(ModExpGolombBinarizer(9, 3).binarize(values, withSign), withSign);
}

ReferenceBlock referenceEncodeBins(const std::vector<std::vector<bool>>& codes, bool withSign) {
  std::vector<ContextBinaryStats> position(12, ContextBinaryStats(2));
  ContextBinaryStats tail(2);
  ContextBinaryStats sign(2);
  ReferenceBlock block;
  ArithCoderIO io(block.codeBytes);
  for (const std::vector<bool>& code : codes) {
    const int n = static_cast<int>(code.size());
    for (int j = 0; j < n; ++j) {
      IBinaryStats& m = (j > 0 && j == n - (withSign ? 1 : 0)) ? static_cast<IBinaryStats&>(sign)
                        : j < 12                                   ? position[j]
                                                                   : tail;
      io.encodeBit(m.getP0(), m.getP1(), code[j]);
      m.updateBit(code[j]);
    }
  }
  io.finishEncode();
  block.codeBits = io.bitsWritten();
  return block;
}

}  // namespace testing_entropy
}  // namespace meshcodec
