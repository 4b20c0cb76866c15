#pragma once
// Integer-sequence coder: writes a vector of 32-bit integers to the code stream as
// one self-delimiting arithmetic block (count, byte length, code bytes) and reads it
// back. Every integer the codec stores goes through here. Each value is binarized
// (truncated unary + Exp-Golomb, optional sign bin) and each bin coded with an
// adaptive context chosen by its position in the value's bin string; every block
// starts with fresh contexts.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <vector>

#include "entropy/ModExpGolombBinarizer.hpp"

namespace meshcodec {

class ArithCoder {
 public:
  // historyBits 0..16 and numContexts 0..64, Misuse otherwise.
  ArithCoder(std::iostream& s, int historyBits, int numContexts);

  // Appends one block at the stream's write position; does not flush. Throws Misuse
  // for the value -2^31 (it has no magnitude) or more values than a 32-bit count
  // holds, before anything is written; IoFailure when the stream refuses the bytes.
  void encode(const std::vector<int>& values, bool withSign);
  // Called with a block's count once its header is read and found possible, before
  // any code byte is read: throws CorruptStream for a count that the fields before
  // the block rule out, so that a forged count costs no reading.
  using CountCheck = std::function<void(std::int32_t count)>;

  // Reads one block at the stream's read position and leaves the stream just after
  // it. Throws CorruptStream for a block that no encoder could have written (a count
  // or length that the other rules out, truncated, a value beyond 32 bits), or whose
  // count checkCount refuses; never reads out of bounds or allocates from an
  // unchecked count.
  std::vector<int> decode(bool withSign, const CountCheck& checkCount = nullptr);

  // The forms every caller uses: contexts (2, 12); encode flushes the stream.
  static void encode(const std::vector<int>& values, std::iostream& s, bool withSign);
  static std::vector<int> decode(std::iostream& s, bool withSign, const CountCheck& checkCount = nullptr);

 private:
  ModExpGolombBinarizer binarizer;
  std::iostream* stream;
  int historyBits;
  int numContexts;
};

}  // namespace meshcodec
