#include "geometry/ReconstructionOffset.hpp"

#include <cmath>

#include "geometry/Quantizer.hpp"

namespace meshcodec {

double reconstructionOffset(float q, float lambda) {
  const double rate = lambda;
  const double step = q;
  if (!(rate > 0.0) || std::isinf(rate)) return 0.0;
  const double lo = 0.5 * step;
  const double hi = 1.5 * step;
  const double elo = std::exp(-rate * lo);
  const double ehi = std::exp(-rate * hi);
  // hi * ehi is rounded on its own; lo * elo minus it is one fused operation. The
  // decoded values depend on this single rounding.
  const double hiEhi = hi * ehi;
  const double num = std::fma(lo, elo, -hiEhi);
  const double den = elo - ehi;
  const double mean = 1.0 / rate + num / den;
  const double off = mean - step;
  return std::isfinite(off) ? off : 0.0;
}

double dequantizeWithOffset(int k, float q, double off) {
  if (k == 0) return 0.0;
  const double centre = dequantize(k, q);
  return k > 0 ? centre + off : centre - off;
}

}  // namespace meshcodec
