#pragma once
// Start-up tables of the adaptive probability models: for each of 127 states the
// weight of a 0 and of a 1 (units of 1/1024, always summing to 1024) and the state
// reached after coding a 0 or a 1. Encoder and decoder read the one global instance,
// so both sides adapt identically bin by bin; nothing writes it after start-up.

namespace meshcodec {

class QuantizedStatsTables {
 public:
  static constexpr int kStates = 127;
  // State 63 weighs 0 and 1 equally; above it a 1 is favoured, below it a 0.
  static constexpr int kNeutralState = 63;

  QuantizedStatsTables();

  int P0[kStates];
  int P1[kStates];
  int next0[kStates];
  int next1[kStates];
};

// Built during static initialisation. No static initialiser elsewhere may code bins,
// since the order of initialisation across files is unspecified.
extern const QuantizedStatsTables quantizedTables;

}  // namespace meshcodec
