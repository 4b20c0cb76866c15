#pragma once
// The five symbols of the connectivity walk, shared by the compressor and the
// decompressor so that both read a symbol value the same way. The values are what
// the symbol block stores.

namespace meshcodec::CLERS {

constexpr int C = 0;  // the tip is a new vertex; continue right
constexpr int R = 1;  // right neighbour already reached; continue left
constexpr int L = 2;  // left neighbour already reached; continue right
constexpr int E = 3;  // both neighbours reached; the branch ends
constexpr int S = 4;  // neither neighbour reached but the tip was: split, right first

// Symbol values run from C to S; anything else in a stream is corrupt.
constexpr int count = 5;

}  // namespace meshcodec::CLERS
