#pragma once
// Maps a signed integer to a string of bins and back: truncated unary up to a cutoff,
// an Exp-Golomb code of the magnitude beyond it, then an optional sign bin after a
// non-zero magnitude. The block coder uses the bin positions to pick probability
// models; its decoder feeds decoded bins to the state machine here one at a time.

#include <cstdint>
#include <vector>

namespace meshcodec {

class ModExpGolombBinarizer {
 public:
  // Note the order: cutoff first. cutoff 1..64 and k0 1..30, Misuse otherwise.
  ModExpGolombBinarizer(unsigned cutoff, unsigned k0);

  // Bins of one value, first bin first. A zero is the single bin 0 and never has a
  // sign bin. Throws Misuse for the most negative int, which has no magnitude.
  std::vector<bool> binarize(int x, bool withSign) const;
  std::vector<std::vector<bool>> binarize(const std::vector<int>& values, bool withSign) const;
  // Writes the Exp-Golomb code of r >= 0 at code[pos...], growing code as needed,
  // and advances pos.
  void expgolomb(int r, std::vector<bool>& code, int& pos) const;

  // Decoder: feeds one bin; returns true when a value is complete, then in *out.
  // Throws CorruptStream when the bins would make a value beyond 32 bits.
  bool isCode(bool bit, int* out, bool withSign);
  // True exactly when the next bin to decode is a sign bin.
  bool expectSign() const { return state == kSign; }
  // Back to idle, dropping a value left half-decoded by an aborted block.
  void resetDecoder() { state = kIdle; }

  unsigned getCutoff() const { return cutoff; }
  unsigned getK0() const { return k0; }

 private:
  enum : int { kStart = 0, kIdle = 1, kUnary = 2, kPrefix = 3, kSuffix = 4, kSign = 5 };

  bool finish(int* out, bool withSign);
  [[noreturn]] static void throwTooWide();

  std::uint32_t k0;
  std::uint32_t cutoff;
  int state = kStart;
  // 64-bit so that a corrupt prefix is caught when it passes 2^31 - 1, not after a
  // signed overflow.
  std::int64_t value = 0;
  std::uint32_t count = 0;
  std::int64_t suffix = 0;
  int k = 0;
};

inline bool ModExpGolombBinarizer::isCode(bool bit, int* out, bool withSign) {
  switch (state) {
    case kStart:
    case kIdle:
      if (!bit) {
        *out = 0;
        return true;
      }
      value = 0;
      count = 0;
      state = kUnary;
      [[fallthrough]];
    case kUnary:
      ++count;
      if (!bit) return finish(out, withSign);
      ++value;
      if (count >= cutoff) {
        k = static_cast<int>(k0);
        state = kPrefix;
      }
      return false;
    case kPrefix:
      if (bit) {
        value += std::int64_t{1} << k;
        ++k;
        if (value > INT32_MAX) throwTooWide();
      } else {
        suffix = 0;
        state = kSuffix;
      }
      return false;
    case kSuffix:
      suffix = 2 * suffix + static_cast<int>(bit);
      if (k < 2) {
        value += suffix;
        if (value > INT32_MAX) throwTooWide();
        return finish(out, withSign);
      }
      --k;
      return false;
    case kSign:
      *out = static_cast<int>(bit ? -value : value);
      state = kIdle;
      return true;
    default:
      return false;
  }
}

inline bool ModExpGolombBinarizer::finish(int* out, bool withSign) {
  if (withSign) {
    state = kSign;
    return false;
  }
  *out = static_cast<int>(value);
  state = kIdle;
  return true;
}

}  // namespace meshcodec
