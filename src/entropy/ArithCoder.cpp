#include "entropy/ArithCoder.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <iostream>
#include <string>

#include "common/CodecError.hpp"
#include "entropy/ArithCoderIO.hpp"
#include "entropy/BlockFormat.hpp"
#include "entropy/ContextBinaryStats.hpp"

namespace meshcodec {

namespace {

constexpr int kMaxContexts = 64;

// The models of one block, fresh for every block. Bin j of a value's bin string is
// coded with position model j (j < numContexts) or the tail model, except a sign bin,
// which always has its own model. Encoder and decoder pick through modelFor alone.
class BlockModels {
 public:
  BlockModels(int historyBits, int numContexts)
      : tail(historyBits), sign(historyBits) {
    const ContextBinaryStats fresh(historyBits);
    position.assign(static_cast<std::size_t>(numContexts), fresh);
  }

  ContextBinaryStats& modelFor(int j, bool signBin) {
    if (signBin) return sign;
    return static_cast<std::size_t>(j) < position.size() ? position[static_cast<std::size_t>(j)]
                                                          : tail;
  }

 private:
  std::vector<ContextBinaryStats> position;
  ContextBinaryStats tail;
  ContextBinaryStats sign;
};

inline void encodeBin(ArithCoderIO& io, ContextBinaryStats& m, bool bin) {
  io.encodeBit(static_cast<unsigned>(m.getP0()), static_cast<unsigned>(m.getP1()), bin);
  m.updateBit(bin);
}

// Codes the bins of one value as the binarizer would produce them, without building
// the bin string: the same bins in the same positions.
inline void encodeValue(int x, bool withSign, std::uint32_t cutoff, std::uint32_t k0,
                        ArithCoderIO& io, BlockModels& models) {
  if (x == 0) {
    encodeBin(io, models.modelFor(0, false), false);
    return;
  }
  const std::uint32_t a = x < 0 ? 0u - static_cast<std::uint32_t>(x) : static_cast<std::uint32_t>(x);
  int j = 0;
  const int unary = static_cast<int>(std::min(a, cutoff));
  for (; j < unary; ++j) encodeBin(io, models.modelFor(j, false), true);
  if (a < cutoff) {
    encodeBin(io, models.modelFor(j++, false), false);
  } else {
    std::uint64_t rest = a - cutoff;
    std::uint32_t order = k0;
    while (rest >= (std::uint64_t{1} << order)) {
      encodeBin(io, models.modelFor(j++, false), true);
      rest -= std::uint64_t{1} << order;
      ++order;
    }
    encodeBin(io, models.modelFor(j++, false), false);
    for (int b = static_cast<int>(order) - 1; b >= 0; --b) {
      encodeBin(io, models.modelFor(j++, false), ((rest >> b) & 1u) != 0);
    }
  }
  if (withSign) encodeBin(io, models.modelFor(j, true), x < 0);
}

}  // namespace

ArithCoder::ArithCoder(std::iostream& s, int historyBits, int numContexts)
    : binarizer(kBlockUnaryCutoff, kBlockGolombOrder),
      stream(&s),
      historyBits(historyBits),
      numContexts(numContexts) {
  if (numContexts < 0 || numContexts > kMaxContexts || historyBits < 0 ||
      historyBits > ContextBinaryStats::kMaxHistoryBits) {
    throw Misuse("arithmetic block: " + std::to_string(numContexts) + " position contexts of " +
                 std::to_string(historyBits) + " history bits, outside 0.." + std::to_string(kMaxContexts) +
                 " and 0.." + std::to_string(ContextBinaryStats::kMaxHistoryBits));
  }
}

void ArithCoder::encode(const std::vector<int>& values, bool withSign) {
  if (values.size() > static_cast<std::size_t>(INT32_MAX)) {
    throw Misuse("arithmetic block: " + std::to_string(values.size()) +
                 " values do not fit a 32-bit count");
  }
  // The byte length precedes the code bytes, so the block is staged in memory. An
  // estimate of a few bits per value saves most regrowth.
  std::vector<std::uint8_t> code;
  code.reserve(values.size() / 2 + 16);
  ArithCoderIO io(code);
  BlockModels models(historyBits, numContexts);
  const std::uint32_t cutoff = binarizer.getCutoff();
  const std::uint32_t k0 = binarizer.getK0();
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] == INT_MIN) {
      throw Misuse("arithmetic block: value " + std::to_string(i) +
                   " is -2^31, which has no 32-bit magnitude");
    }
    encodeValue(values[i], withSign, cutoff, k0, io, models);
  }
  io.finishEncode();
  if (code.size() > static_cast<std::size_t>(INT32_MAX)) {
    throw Misuse("arithmetic block: " + std::to_string(code.size()) +
                 " code bytes do not fit a 32-bit length");
  }

  std::uint8_t header[kBlockHeaderBytes];
  putLE32(header, static_cast<std::uint32_t>(values.size()));
  putLE32(header + 4, static_cast<std::uint32_t>(code.size()));
  stream->write(reinterpret_cast<const char*>(header), kBlockHeaderBytes);
  stream->write(reinterpret_cast<const char*>(code.data()), static_cast<std::streamsize>(code.size()));
  if (!*stream) throw IoFailure("arithmetic block: the stream refused " + std::to_string(code.size() + 8) + " bytes");
}

std::vector<int> ArithCoder::decode(bool withSign, const CountCheck& checkCount) {
  std::iostream& s = *stream;
  const std::string where = describeAt("arithmetic block", s.tellg());

  std::vector<std::uint8_t> code;
  readExactly(s, kBlockHeaderBytes, code, where + ": header");
  const std::int32_t count = asInt32(getLE32(code.data()));
  const std::int32_t byteLength = asInt32(getLE32(code.data() + 4));
  if (count < 0) throw CorruptStream(where + ": negative count " + std::to_string(count));
  if (byteLength < kMinCodeBytes) {
    throw CorruptStream(where + ": byte length " + std::to_string(byteLength) + " below the minimum of " +
                        std::to_string(kMinCodeBytes));
  }
  if (count > kMaxValuesPerCodeByte * byteLength) {
    throw CorruptStream(where + ": " + std::to_string(count) + " values cannot fit in " +
                        std::to_string(byteLength) + " code bytes");
  }
  if (byteLength > maxCodeBytes(count)) {
    throw CorruptStream(where + ": " + std::to_string(count) + " values need at most " +
                        std::to_string(maxCodeBytes(count)) + " code bytes, not " + std::to_string(byteLength));
  }
  if (checkCount) checkCount(count);

  code.clear();
  readExactly(s, byteLength, code, where + ": code bytes");
  // The decoder takes one bit beyond the block: bit 0 of the byte that follows it, or
  // of 0xFF at the end of the stream. Either value decodes a genuine block alike; it is
  // peeked, not consumed, so the stream stays just after the block.
  const int following = s.peek();
  if (following == std::char_traits<char>::eof()) s.clear();
  code.push_back(following == std::char_traits<char>::eof() ? 0xFF : static_cast<std::uint8_t>(following));

  std::vector<int> result;
  // count is bounded by the byte length, but garbage runs out of bits quickly; grow
  // with the values actually decoded beyond a first reservation.
  result.reserve(static_cast<std::size_t>(std::min<std::int64_t>(count, 64 * std::int64_t{byteLength})));
  ArithCoderIO io(code.data(), code.data() + code.size());
  BlockModels models(historyBits, numContexts);
  binarizer.resetDecoder();
  int i = 0;
  try {
    io.initDecoding();
    for (; i < count; ++i) {
      int v = 0;
      int j = 0;
      for (;;) {
        ContextBinaryStats& m = models.modelFor(j, binarizer.expectSign());
        const bool bin = io.decodeBit(static_cast<unsigned>(m.getP0()), static_cast<unsigned>(m.getP1()));
        m.updateBit(bin);
        ++j;
        if (binarizer.isCode(bin, &v, withSign)) break;
      }
      result.push_back(v);
    }
  } catch (const CorruptStream& e) {
    binarizer.resetDecoder();
    throw CorruptStream(where + ": value " + std::to_string(i) + " of " + std::to_string(count) + ": " +
                        e.what());
  }

  // A genuine block's decoder reads exactly one bit more than its encoder wrote, and
  // the encoder filled all but the padding of the last byte.
  const std::int64_t used = io.bitsRead() - 1;
  if (used > 8 * std::int64_t{byteLength} || used <= 8 * (std::int64_t{byteLength} - 1)) {
    throw CorruptStream(where + ": " + std::to_string(count) + " values use " + std::to_string(used) +
                        " code bits, not the " + std::to_string(byteLength) + " bytes announced");
  }
  return result;
}

void ArithCoder::encode(const std::vector<int>& values, std::iostream& s, bool withSign) {
  ArithCoder(s, kBlockHistoryBits, kBlockPositionContexts).encode(values, withSign);
  s.flush();
}

std::vector<int> ArithCoder::decode(std::iostream& s, bool withSign, const CountCheck& checkCount) {
  return ArithCoder(s, kBlockHistoryBits, kBlockPositionContexts).decode(withSign, checkCount);
}

}  // namespace meshcodec
