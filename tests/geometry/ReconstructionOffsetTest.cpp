#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "geometry/ReconstructionOffset.hpp"

namespace meshcodec {
namespace {

// Mean of the exponential density of rate lambda on [0.5 q, 1.5 q], minus q, by
// Simpson's rule in long double: an independent route to the same quantity.
double integratedOffset(double q, double lambda) {
  const int steps = 20000;
  const long double h = q / steps;
  long double mass = 0, moment = 0;
  for (int s = 0; s <= steps; ++s) {
    const long double u = s * h;  // distance from the bin's lower edge
    const long double w = (s == 0 || s == steps) ? 1 : (s % 2 ? 4 : 2);
    const long double density = std::exp(-static_cast<long double>(lambda) * u);
    mass += w * density;
    moment += w * u * density;
  }
  return static_cast<double>(0.5L * q + moment / mass - q);
}

TEST(ReconstructionOffset, IsTheMeanOfTheRateOverTheFirstBin) {
  struct Case {
    float q, lambda;
  };
  for (const Case& cs : {Case{0.01f, 50.0f}, Case{0.01f, 300.0f}, Case{1.0f, 0.1f},
                         Case{0.25f, 7.5f}, Case{0.002f, 5e5f}}) {
    SCOPED_TRACE(::testing::Message() << "q " << cs.q << " lambda " << cs.lambda);
    const double off = reconstructionOffset(cs.q, cs.lambda);
    EXPECT_NEAR(off, integratedOffset(cs.q, cs.lambda), 1e-9 * cs.q);
    EXPECT_LT(off, 0.0);
    EXPECT_GT(off, -0.5 * cs.q);
  }
}

// Every delta zero gives lambda = 0/0; rates from a corrupt stream can be anything.
// None may turn the decoded values non-finite: the offset is then 0.
TEST(ReconstructionOffset, RatesWithoutAFiniteMeanGiveNoOffset) {
  const float inf = std::numeric_limits<float>::infinity();
  for (float lambda : {0.0f, -0.0f, inf, -inf, std::numeric_limits<float>::quiet_NaN(), -3.0f,
                       1e30f, std::numeric_limits<float>::denorm_min()}) {
    SCOPED_TRACE(lambda);
    EXPECT_EQ(reconstructionOffset(0.01f, lambda), 0.0);
    EXPECT_EQ(dequantizeWithOffset(-2, 0.01f, reconstructionOffset(0.01f, lambda)),
              static_cast<double>(-2.0f * 0.01f));
  }
}

TEST(ReconstructionOffset, ZeroStaysZeroAndOtherIndicesMoveTowardsZero) {
  const float q = 0.1f;
  const double off = reconstructionOffset(q, 20.0f);
  ASSERT_LT(off, 0.0);
  EXPECT_EQ(dequantizeWithOffset(0, q, off), 0.0);
  EXPECT_FALSE(std::signbit(dequantizeWithOffset(0, q, off)));
  EXPECT_EQ(dequantizeWithOffset(1, q, off), static_cast<double>(q) + off);
  EXPECT_EQ(dequantizeWithOffset(-1, q, off), -(static_cast<double>(q) + off));
  // The bin centre is the single-precision product, widened.
  EXPECT_EQ(dequantizeWithOffset(3, q, off), 0.30000001192092896 + off);
  EXPECT_EQ(dequantizeWithOffset(-3, q, off), -0.30000001192092896 - off);
}

}  // namespace
}  // namespace meshcodec
