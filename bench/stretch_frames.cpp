// Rewrites a compressed animation for another frame count, for the decoder's memory
// benchmark (scripts/bench-frames.sh): the encoder cannot make files of many thousand
// frames, as its PCA decomposes a 3F x 3F matrix.
//
//   stretch_frames <in.bin> <frames> <out.bin>
//
// The input holds one mesh. The output has the frame count in its header and a PCA
// sub-stream for that many frames, written with the codec's own coders: the mean and
// each basis column repeat the input's trajectories frame by frame (frame f takes
// frame f mod F of the input), with the input's steps. The connectivity and the
// geometry sub-stream, which do not depend on the frame count, are copied as they are.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/CodecError.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "entropy/ArithCoder.hpp"
#include "entropy/DirectCoder.hpp"

using namespace meshcodec;

namespace {

std::int32_t int32At(const std::string& bytes, size_t offset) {
  std::int32_t value;
  std::memcpy(&value, bytes.data() + offset, 4);
  return value;
}

// Quantization indices from the second differences of each coordinate block, in the
// wrapping 32-bit arithmetic of the format.
std::vector<std::uint32_t> integrate(const std::vector<int>& d, long frames) {
  std::vector<std::uint32_t> b(d.size());
  for (long start = 0; start < 3 * frames; start += frames) {
    b[start] = static_cast<std::uint32_t>(d[start]);
    b[start + 1] = b[start] + static_cast<std::uint32_t>(d[start + 1]);
    for (long t = 2; t < frames; ++t) {
      b[start + t] = 2u * b[start + t - 1] - b[start + t - 2] + static_cast<std::uint32_t>(d[start + t]);
    }
  }
  return b;
}

std::vector<int> differentiate(const std::vector<std::uint32_t>& b, long frames) {
  std::vector<int> d(b.size());
  for (long start = 0; start < 3 * frames; start += frames) {
    d[start] = static_cast<int>(b[start]);
    d[start + 1] = static_cast<int>(b[start + 1] - b[start]);
    for (long t = 2; t < frames; ++t) {
      d[start + t] = static_cast<int>(b[start + t] - 2u * b[start + t - 1] + b[start + t - 2]);
      if (d[start + t] == INT_MIN) throw OutOfDomain("a second difference of -2^31 cannot be coded");
    }
  }
  return d;
}

// Entry c F + f of the stretched trajectory is entry c F0 + (f mod F0) of the input.
template <typename T>
std::vector<T> stretch(const std::vector<T>& values, long from, long to) {
  std::vector<T> out(static_cast<size_t>(3 * to));
  for (long c = 0; c < 3; ++c) {
    for (long f = 0; f < to; ++f) out[c * to + f] = values[c * from + f % from];
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: stretch_frames <in.bin> <frames> <out.bin>\n");
    return 2;
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const long frames = std::stol(argv[2]);
    if (bytes.size() < 24 || int32At(bytes, 0) != 1 || frames < 2 || 3 * frames > INT32_MAX) {
      std::fprintf(stderr, "stretch_frames: need a file of one mesh and a frame count from 2 to 2^31 / 3\n");
      return 2;
    }
    const long inputFrames = int32At(bytes, 4);
    const int bases = int32At(bytes, 8);
    std::stringstream s(bytes, std::ios::in | std::ios::out | std::ios::binary);
    s.seekg(16);
    const int triangles = int32At(bytes, 16);
    s.seekg(24);
    EdgeBreaker::decode(triangles, s);
    const std::streamoff pcaStart = s.tellg();
    const std::vector<float> steps = DirectCoder::decode(s, bases + 1);
    const std::vector<int> mean = ArithCoder::decode(s, true);
    std::vector<std::vector<int>> columns;
    for (int j = 0; j < bases; ++j) columns.push_back(ArithCoder::decode(s, true));
    const std::streamoff geometryStart = s.tellg();

    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    std::string head = bytes.substr(0, static_cast<size_t>(pcaStart));
    const std::int32_t frameField = static_cast<std::int32_t>(frames);
    std::memcpy(&head[4], &frameField, 4);
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    DirectCoder::encode(steps, out, false);
    ArithCoder::encode(stretch(mean, inputFrames, frames), out, true);
    for (const std::vector<int>& d : columns) {
      ArithCoder::encode(differentiate(stretch(integrate(d, inputFrames), inputFrames, frames), frames), out, true);
    }
    out << bytes.substr(static_cast<size_t>(geometryStart));
    std::ofstream(argv[3], std::ios::binary) << out.str();
    std::printf("%s: %ld frames, %d bases, %zu bytes\n", argv[3], frames, bases, out.str().size());
  } catch (const CodecError& e) {
    std::fprintf(stderr, "stretch_frames: %s\n", e.what());
    return 1;
  }
  return 0;
}
