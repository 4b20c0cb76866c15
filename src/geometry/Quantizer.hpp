#pragma once
// The scalar quantizer and dequantizer shared by every geometry and PCA coder, so
// that encoder and decoder cannot drift apart. Indices round to nearest with halves
// away from zero; dequantized values are single-precision products widened to double.
// Encoders refuse to write a saturated index (requireUnsaturated below).

#include <algorithm>
#include <climits>
#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/CodecError.hpp"

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

// An index at the saturation bound: its value lay 2^31 - 1 steps or more from zero
// (or was infinite), so the index no longer says what it was.
inline bool isSaturated(int k) { return k >= INT_MAX || k <= -INT_MAX; }

// The refusal of a step so small that an index saturated: a decoder would rebuild
// garbage from it. A BadArgument, since the step comes from an argument; a coder only
// knows "the step", and the pipeline that knows which argument gave it names it.
class StepTooSmall : public BadArgument {
 public:
  // values: what could not be quantized, e.g. "the anchor coordinates".
  explicit StepTooSmall(std::string values, std::string step = "the step")
      : BadArgument(step + " is too small for this mesh: quantizing " + values +
                    " leaves the 32-bit index range"),
        values(std::move(values)),
        step(std::move(step)) {}

  // The same refusal with the step named after the argument that gave it.
  StepTooSmall naming(const std::string& argument, float value) const {
    std::ostringstream text;
    text << argument << " " << value;
    return StepTooSmall(values, text.str());
  }
  // The same refusal for values that belong to `whole`, e.g. "the reference shape".
  StepTooSmall of(const std::string& whole) const {
    return StepTooSmall(values + " of " + whole, step);
  }

 private:
  std::string values;
  std::string step;
};

// Encoders pass their indices through here before they write them or build on them.
// StepTooSmall naming `values` when one is saturated.
inline void requireUnsaturated(const std::vector<int>& indices, const char* values) {
  if (std::any_of(indices.begin(), indices.end(), isSaturated)) throw StepTooSmall(values);
}

inline void requireUnsaturated(const std::vector<std::vector<int>>& blocks, const char* values) {
  for (const std::vector<int>& indices : blocks) requireUnsaturated(indices, values);
}

}  // namespace meshcodec
