#include "entropy/ModExpGolombBinarizer.hpp"

#include <climits>
#include <string>

#include "common/CodecError.hpp"

namespace meshcodec {

ModExpGolombBinarizer::ModExpGolombBinarizer(unsigned cutoff, unsigned k0) : k0(k0), cutoff(cutoff) {
  if (cutoff < 1 || cutoff > 64 || k0 < 1 || k0 > 30) {
    throw Misuse("integer binarizer: cutoff " + std::to_string(cutoff) + " and start order " +
                 std::to_string(k0) + " outside 1..64 and 1..30");
  }
}

std::vector<bool> ModExpGolombBinarizer::binarize(int x, bool withSign) const {
  if (x == 0) return {false};
  if (x == INT_MIN) {
    throw Misuse("integer binarizer: " + std::to_string(x) + " has no 32-bit magnitude");
  }
  const int a = x < 0 ? -x : x;
  std::vector<bool> code;
  code.reserve(2 * 32 + cutoff + 2);
  int pos = 0;
  if (static_cast<unsigned>(a) < cutoff) {
    code.assign(static_cast<std::size_t>(a), true);
    code.push_back(false);
    pos = a + 1;
  } else {
    code.assign(cutoff, true);
    pos = static_cast<int>(cutoff);
    expgolomb(a - static_cast<int>(cutoff), code, pos);
  }
  if (withSign) code.push_back(x < 0);
  return code;
}

std::vector<std::vector<bool>> ModExpGolombBinarizer::binarize(const std::vector<int>& values,
                                                               bool withSign) const {
  std::vector<std::vector<bool>> codes;
  codes.reserve(values.size());
  for (int x : values) codes.push_back(binarize(x, withSign));
  return codes;
}

void ModExpGolombBinarizer::expgolomb(int r, std::vector<bool>& code, int& pos) const {
  if (r < 0 || pos < 0) {
    throw Misuse("integer binarizer: Exp-Golomb code of " + std::to_string(r) + " at position " +
                 std::to_string(pos));
  }
  std::int64_t rest = r;
  int order = static_cast<int>(k0);
  std::vector<bool> bins;
  while (rest >= (std::int64_t{1} << order)) {
    bins.push_back(true);
    rest -= std::int64_t{1} << order;
    ++order;
  }
  bins.push_back(false);
  for (int b = order - 1; b >= 0; --b) bins.push_back(((rest >> b) & 1) != 0);

  const std::size_t needed = static_cast<std::size_t>(pos) + bins.size();
  if (code.size() < needed) code.resize(needed);
  for (bool bin : bins) code[static_cast<std::size_t>(pos++)] = bin;
}

void ModExpGolombBinarizer::throwTooWide() {
  throw CorruptStream("integer code grows a value beyond 2^31 - 1");
}

}  // namespace meshcodec
