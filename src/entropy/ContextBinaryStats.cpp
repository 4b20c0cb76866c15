#include "entropy/ContextBinaryStats.hpp"

#include <string>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace {
int checkedHistoryBits(int historyBits) {
  if (historyBits < 0 || historyBits > ContextBinaryStats::kMaxHistoryBits) {
    throw Misuse("probability model: history of " + std::to_string(historyBits) +
                 " bits outside 0.." + std::to_string(ContextBinaryStats::kMaxHistoryBits));
  }
  return historyBits;
}
}  // namespace

ContextBinaryStats::ContextBinaryStats(int historyBits)
    : mask((1 << checkedHistoryBits(historyBits)) - 1), stats(std::size_t{1} << historyBits) {}

}  // namespace meshcodec
