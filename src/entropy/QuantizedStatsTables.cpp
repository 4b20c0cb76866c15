#include "entropy/QuantizedStatsTables.hpp"

#include <cmath>

namespace meshcodec {

QuantizedStatsTables::QuantizedStatsTables() {
  constexpr int mid = kNeutralState;
  // After 63 steps outward the less probable symbol keeps 0.5 * 0.0375, weight 19.
  const double alpha = std::pow(0.0375, 1.0 / mid);
  double p = 0.5;

  P0[mid] = P1[mid] = 512;
  next0[mid] = mid - 1;
  next1[mid] = mid + 1;

  for (int i = 1; i <= mid; ++i) {
    p *= alpha;
    P0[mid + i] = static_cast<int>(1024.0 * p);
    P1[mid + i] = 1024 - P0[mid + i];
    P1[mid - i] = P0[mid + i];
    P0[mid - i] = P1[mid + i];

    // The more probable symbol moves one state outward (clamped at the ends below).
    next1[mid + i] = mid + 1 + i;
    next0[mid - i] = mid - 1 - i;

    // Weight of a 0 after a 0 is seen in state mid+i, by exponential forgetting
    // p0' = alpha * p0 + (1 - alpha). The product must be fused: the tables (and so
    // every coded byte) were defined with a single rounding here.
    const int t = static_cast<int>(1024.0 * std::fma(alpha, p, 1.0 - alpha));
    // Move inward to the state whose weight of a 0 is the largest one below t. Only
    // states mid-i .. mid+i are filled yet; P0[0] = 1005 exceeds every t, so the
    // bound on j is a guard, never the stopping reason.
    int j = mid + i;
    while (j > mid - i && P0[j - 1] < t) --j;
    next0[mid + i] = j;
    next1[mid - i] = 2 * mid - j;
  }
  next1[2 * mid] = 2 * mid;
  next0[0] = 0;
}

const QuantizedStatsTables quantizedTables;

}  // namespace meshcodec
