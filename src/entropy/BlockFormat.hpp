#pragma once
// Facts about the entropy sub-streams that their writers and readers must share: the
// parameters every arithmetic block is coded with, the framing of the block, the
// bounds a genuine block puts on its count and its length, and the little-endian
// field images.

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace meshcodec {

// Every ArithCoder the codec builds: bit history of each model, number of bin
// positions with a model of their own, truncated-unary cutoff, Exp-Golomb start order.
constexpr int kBlockHistoryBits = 2;
constexpr int kBlockPositionContexts = 12;
constexpr unsigned kBlockUnaryCutoff = 9;
constexpr unsigned kBlockGolombOrder = 3;

// Arithmetic block: 32-bit count, 32-bit byte length, code bytes.
constexpr int kBlockHeaderBytes = 8;
// The 30 termination bits alone take 4 bytes.
constexpr std::int32_t kMinCodeBytes = 4;

// Upper bound on the count of a genuine block per code byte. Every bin shrinks the
// coding interval: the lighter weight of any state is at least 19/1024, so a more
// probable symbol keeps at most range - floor(range/1024)*19 < range*(1 - 19/1024)
// + 19, which for range > 2^29 is below 0.98146*range, and a less probable symbol
// keeps at most half. A bin therefore costs at least -log2(0.98146) > 0.02702 bits.
// The interval starts at 2^31 and ends above 2^29, so n bins need more than
// 0.02702*n - 2 doublings; the decoder reads 31 bits plus one per doubling and at
// most 8*byteLength + 1 bits in all. Hence n < 37.01 * (8*byteLength - 28), fewer
// than 296 bins, and so values (each has at least one bin), per code byte. Blocks of
// zeros come close (about 290); 320 leaves a margin for slips in this argument.
constexpr std::int64_t kMaxValuesPerCodeByte = 320;

// Upper bound on the code bytes of a genuine block per value, the other direction.
// A value has at most 68 bins: 9 unary, then, for a magnitude up to 2^31 - 1, at most
// 27 Exp-Golomb prefix bins, their closing 0, 30 suffix bins, and a sign bin. Every
// code bit comes from one doubling of the range (written at once or owed), and the
// coder doubles while the range is at most 2^29. The first bin halves 2^31 to 2^30;
// from then on the range before a bin lies in (2^29, 2^30], so the lighter share
// floor(range/1024) * 19 is at least 2^19 * 19 > 2^23, and the heavier one at least
// half the range, above 2^28. Whichever symbol comes, the range is above 2^23 and six
// doublings take it past 2^29: a bin costs at most 6 bits (the exact worst,
// log2(1024/19), is 5.75), a value at most 68 * 6 = 408 bits = 51 bytes. The 30
// termination bits and the last byte's padding add at most 4 bytes to the block.
// Costly values come nowhere near: greedily choosing each free bin against its model
// gives about 6 bytes per value. 56 leaves a margin for slips in this argument.
constexpr std::int64_t kMaxCodeBytesPerValue = 56;

inline std::int64_t maxCodeBytes(std::int64_t count) {
  return kMinCodeBytes + kMaxCodeBytesPerValue * count;
}

inline void putLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint32_t getLE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

inline std::int32_t asInt32(std::uint32_t v) {
  return v <= INT32_MAX ? static_cast<std::int32_t>(v)
                        : -static_cast<std::int32_t>(~v) - 1;  // two's complement, no UB
}

// Appends exactly n bytes of s to out, or throws CorruptStream naming what (and where)
// when the stream ends first. The buffer grows only as bytes actually arrive, so a
// forged length cannot make it allocate more than a little beyond the real input.
void readExactly(std::istream& s, std::int64_t n, std::vector<std::uint8_t>& out,
                 const std::string& what);

// "<what> at byte N" when the position is known, for error messages.
std::string describeAt(const std::string& what, std::streamoff pos);

}  // namespace meshcodec
