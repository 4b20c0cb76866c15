// Throughput of the integer-sequence coder on blocks of 10^7 signed values drawn
// from a two-sided geometric (discrete Laplacian) distribution, the shape of
// quantized deltas and corrections. Prints bins and values per second for encoding
// and decoding, best of three runs each.
//
//   cmake --build build --target entropy_bench && ./build/entropy_bench

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <vector>

#include "entropy/ArithCoder.hpp"
#include "entropy/ModExpGolombBinarizer.hpp"

using namespace meshcodec;

namespace {

std::vector<int> laplacian(std::size_t n, double scale, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::exponential_distribution<double> mag(1.0 / scale);
  std::vector<int> values(n);
  for (int& v : values) {
    const int m = static_cast<int>(std::floor(mag(rng)));
    v = (rng() & 1) ? -m : m;
  }
  return values;
}

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main() {
  constexpr std::size_t kValues = 10'000'000;
  constexpr int kRuns = 3;
  const ModExpGolombBinarizer binarizer(9, 3);

  std::printf("%-7s %10s %11s %10s %7s | %12s %12s | %12s %12s\n", "scale", "values", "bins",
              "bytes", "bits/v", "enc Mbins/s", "enc Mvals/s", "dec Mbins/s", "dec Mvals/s");
  for (double scale : {0.5, 2.0, 8.0, 32.0}) {
    const std::vector<int> values = laplacian(kValues, scale, 42);
    std::size_t bins = 0;
    for (int v : values) bins += binarizer.binarize(v, true).size();

    double encodeBest = 1e30, decodeBest = 1e30;
    std::size_t bytes = 0;
    for (int run = 0; run < kRuns; ++run) {
      std::stringstream s(std::ios::in | std::ios::out | std::ios::binary);
      auto t0 = std::chrono::steady_clock::now();
      ArithCoder::encode(values, s, true);
      auto t1 = std::chrono::steady_clock::now();
      const std::vector<int> decoded = ArithCoder::decode(s, true);
      auto t2 = std::chrono::steady_clock::now();
      if (decoded != values) {
        std::fprintf(stderr, "round trip failed at scale %g\n", scale);
        return 1;
      }
      bytes = s.str().size();
      encodeBest = std::min(encodeBest, seconds(t1 - t0));
      decodeBest = std::min(decodeBest, seconds(t2 - t1));
    }
    std::printf("%-7g %10zu %11zu %10zu %7.3f | %12.1f %12.1f | %12.1f %12.1f\n", scale, kValues,
                bins, bytes, 8.0 * bytes / kValues, bins / encodeBest / 1e6, kValues / encodeBest / 1e6,
                bins / decodeBest / 1e6, kValues / decodeBest / 1e6);
  }
  return 0;
}
