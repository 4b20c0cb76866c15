#pragma once
// A probability model whose estimator is chosen by the last few bins it coded (its
// bit history, most recent bin in bit 0). The block coder owns one per bin position
// plus a tail and a sign model, all fresh for every block; encoder and decoder apply
// the same updates in the same order, so they stay in step.

#include <vector>

#include "entropy/IBinaryStats.hpp"
#include "entropy/QuantizedStats.hpp"

namespace meshcodec {

class ContextBinaryStats final : public IBinaryStats {
 public:
  // historyBits from 0 (a single estimator) to kMaxHistoryBits; Misuse otherwise.
  explicit ContextBinaryStats(int historyBits);
  ContextBinaryStats(const ContextBinaryStats&) = default;
  ContextBinaryStats& operator=(const ContextBinaryStats&) = default;

  static constexpr int kMaxHistoryBits = 16;

  int getP0() const override { return stats[history].getP0(); }
  int getP1() const override { return stats[history].getP1(); }
  // The estimator that weighed this bin learns from it before the history shifts.
  void updateBit(bool bit) override {
    stats[history].updateBit(bit);
    history = ((history << 1) | static_cast<int>(bit)) & mask;
  }

  int getHistory() const { return history; }
  const std::vector<QuantizedStats>& getStats() const { return stats; }

 private:
  int history = 0;  // starts as if only zeros had been seen
  int mask;
  std::vector<QuantizedStats> stats;
};

}  // namespace meshcodec
