#pragma once
// Raw float block: single-precision floats stored as their exact little-endian bit
// images, optionally preceded by a 32-bit count. The PCA sub-stream keeps its
// quantization steps this way (without a count, as its reader knows how many).

#include <iosfwd>
#include <vector>

namespace meshcodec {

class DirectCoder {
 public:
  explicit DirectCoder(std::iostream& s);

  // Appends the block at the write position; does not flush. Misuse for more floats
  // than a 32-bit count holds, IoFailure when the stream refuses the bytes.
  void encode(const std::vector<float>& values, bool writeCount);
  // Reads n floats, or first the count when n < 0. Throws CorruptStream for a
  // negative count or a block that the stream does not hold in full.
  std::vector<float> decode(int n);

  // encode flushes the stream.
  static void encode(const std::vector<float>& values, std::iostream& s, bool writeCount);
  static std::vector<float> decode(std::iostream& s, int n);

 private:
  std::iostream* stream;
};

}  // namespace meshcodec
