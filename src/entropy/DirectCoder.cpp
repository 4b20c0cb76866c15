#include "entropy/DirectCoder.hpp"

#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>

#include "common/CodecError.hpp"
#include "entropy/BlockFormat.hpp"

namespace meshcodec {

DirectCoder::DirectCoder(std::iostream& s) : stream(&s) {}

void DirectCoder::encode(const std::vector<float>& values, bool writeCount) {
  if (values.size() > static_cast<std::size_t>(INT32_MAX) / 4) {
    throw Misuse("raw float block: " + std::to_string(values.size()) + " floats are too many");
  }
  std::vector<std::uint8_t> bytes((writeCount ? 4 : 0) + 4 * values.size());
  std::uint8_t* p = bytes.data();
  if (writeCount) {
    putLE32(p, static_cast<std::uint32_t>(values.size()));
    p += 4;
  }
  for (float f : values) {
    std::uint32_t image;
    std::memcpy(&image, &f, 4);
    putLE32(p, image);
    p += 4;
  }
  stream->write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!*stream) throw IoFailure("raw float block: the stream refused " + std::to_string(bytes.size()) + " bytes");
}

std::vector<float> DirectCoder::decode(int n) {
  std::iostream& s = *stream;
  const std::string where = describeAt("raw float block", s.tellg());
  std::vector<std::uint8_t> bytes;
  if (n < 0) {
    readExactly(s, 4, bytes, where + ": count");
    n = asInt32(getLE32(bytes.data()));
    if (n < 0) throw CorruptStream(where + ": negative count " + std::to_string(n));
    bytes.clear();
  }
  readExactly(s, 4 * std::int64_t{n}, bytes, where + ": " + std::to_string(n) + " floats");
  std::vector<float> values(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::uint32_t image = getLE32(bytes.data() + 4 * i);
    std::memcpy(&values[i], &image, 4);
  }
  return values;
}

void DirectCoder::encode(const std::vector<float>& values, std::iostream& s, bool writeCount) {
  DirectCoder(s).encode(values, writeCount);
  s.flush();
}

std::vector<float> DirectCoder::decode(std::iostream& s, int n) {
  return DirectCoder(s).decode(n);
}

}  // namespace meshcodec
