#pragma once
// The scalar quantizer and dequantizer shared by every geometry and PCA coder, so
// that encoder and decoder cannot drift apart. Indices round to nearest with halves
// away from zero; dequantized values are single-precision products widened to double.

#include <climits>
#include <cmath>

namespace meshcodec {

namespace detail {
// Rounds a quotient half away from zero. The sum y +- 0.5 is itself rounded in
// double, which the coded indices depend on. Saturates to +-(2^31 - 1), so that the
// binarizer never sees INT_MIN, and maps NaN to 0.
inline int roundQuotient(double y, bool nonNegative) {
  if (std::isnan(y)) return 0;
  const double t = nonNegative ? y + 0.5 : y - 0.5;
  if (t >= 2147483647.0) return INT_MAX;
  if (t <= -2147483647.0) return -INT_MAX;
  return static_cast<int>(t);
}
}  // namespace detail

// Index of x for step q, the quotient taken in double.
inline int quantize(double x, float q) {
  const double y = x / static_cast<double>(q);
  return detail::roundQuotient(y, y >= 0);
}

// Index of x for step q with the quotient narrowed to float first: the form of the
// anchor-coordinate blocks. Differs from quantize() near half-integers and above 2^24.
inline int quantizeFloatQuotient(double x, float q) {
  const float y = static_cast<float>(x / static_cast<double>(q));
  return detail::roundQuotient(static_cast<double>(y), y >= 0.0f);
}

// k * q formed in single precision, then widened: the format depends on this.
inline double dequantize(int k, float q) {
  return static_cast<double>(static_cast<float>(k) * q);
}

}  // namespace meshcodec
