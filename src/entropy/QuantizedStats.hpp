#pragma once
// One 127-state probability estimator: its state indexes the shared start-up tables
// for both weights and for the next state. ContextBinaryStats keeps a small bank of
// these and picks one per bin; the state is the whole memory, so copies are cheap.

#include "entropy/IBinaryStats.hpp"
#include "entropy/QuantizedStatsTables.hpp"

namespace meshcodec {

class QuantizedStats final : public IBinaryStats {
 public:
  QuantizedStats() = default;
  QuantizedStats(const QuantizedStats&) = default;
  QuantizedStats& operator=(const QuantizedStats&) = default;

  int getP0() const override { return quantizedTables.P0[state]; }
  int getP1() const override { return quantizedTables.P1[state]; }
  void updateBit(bool bit) override {
    state = bit ? quantizedTables.next1[state] : quantizedTables.next0[state];
  }

  int getState() const { return state; }

 private:
  int state = QuantizedStatsTables::kNeutralState;
};

}  // namespace meshcodec
