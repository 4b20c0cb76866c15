#include "entropy/BlockFormat.hpp"

#include <algorithm>

#include "common/CodecError.hpp"

namespace meshcodec {

void readExactly(std::istream& s, std::int64_t n, std::vector<std::uint8_t>& out,
                 const std::string& what) {
  // The chunk doubles with every chunk that arrives in full, so the buffer never
  // runs more than the bytes already read (plus 4 KiB) ahead of the input.
  constexpr std::int64_t kMaxChunk = std::int64_t{1} << 20;
  std::int64_t chunk = std::int64_t{1} << 12;
  std::int64_t got = 0;
  while (got < n) {
    const std::int64_t want = std::min(chunk, n - got);
    chunk = std::min(2 * chunk, kMaxChunk);
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(want));
    s.read(reinterpret_cast<char*>(out.data() + at), static_cast<std::streamsize>(want));
    const std::int64_t read = s.gcount();
    got += read;
    if (read != want) {
      out.resize(at + static_cast<std::size_t>(read));
      throw CorruptStream(what + ": needs " + std::to_string(n) + " bytes, only " +
                          std::to_string(got) + " remain");
    }
  }
}

std::string describeAt(const std::string& what, std::streamoff pos) {
  return pos >= 0 ? what + " at byte " + std::to_string(pos) : what;
}

}  // namespace meshcodec
