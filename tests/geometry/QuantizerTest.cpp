#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "geometry/Quantizer.hpp"

namespace meshcodec {
namespace {

TEST(Quantizer, RoundsHalvesAwayFromZeroInBothForms) {
  struct Case {
    double x;
    float q;
    int doubleForm;
    int floatForm;
  };
  const Case cases[] = {
      {2.5, 1.0f, 3, 3},
      {-2.5, 1.0f, -3, -3},
      {-0.5, 1.0f, -1, -1},
      {0.4, 1.0f, 0, 0},
      {-0.4, 1.0f, 0, 0},
      {0.0, 1.0f, 0, 0},
      {-0.0, 1.0f, 0, 0},
      // Within float rounding of a half: only the narrowed quotient rounds up.
      {2.4999999999, 1.0f, 2, 3},
      {-2.4999999999, 1.0f, -2, -3},
      // y + 0.5 is rounded in double: the largest double below 0.5 still gives 1.
      {std::nextafter(0.5, 0.0), 1.0f, 1, 1},
      // Quotient in double with q widened: 0.3 / 0.1f is just below 3.
      {0.3, 0.1f, 3, 3},
      {-7.25, 0.5f, -15, -15},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quantize(c.x, c.q), c.doubleForm) << c.x << " / " << c.q;
    EXPECT_EQ(quantizeFloatQuotient(c.x, c.q), c.floatForm) << c.x << " / " << c.q;
  }
}

TEST(Quantizer, SaturatesAndMapsNaNToZero) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto quantizer : {&quantize, &quantizeFloatQuotient}) {
    EXPECT_EQ(quantizer(1e12, 1.0f), INT_MAX);
    EXPECT_EQ(quantizer(-1e12, 1.0f), -INT_MAX);  // never INT_MIN, which has no magnitude
    EXPECT_EQ(quantizer(inf, 1.0f), INT_MAX);
    EXPECT_EQ(quantizer(-inf, 1.0f), -INT_MAX);
    EXPECT_EQ(quantizer(nan, 1.0f), 0);
    EXPECT_EQ(quantizer(1.0, 0.0f), INT_MAX);
    EXPECT_EQ(quantizer(0.0, 0.0f), 0);  // 0/0
  }
  EXPECT_EQ(quantize(2147483646.0, 1.0f), 2147483646);
}

TEST(Dequantizer, FormsTheProductInSinglePrecision) {
  EXPECT_EQ(dequantize(3, 0.1f), 0.30000001192092896);
  EXPECT_NE(dequantize(3, 0.1f), 3.0 * static_cast<double>(0.1f));
  EXPECT_EQ(dequantize(0, 0.1f), 0.0);
  EXPECT_EQ(dequantize(-1, 0.25f), -0.25);
  // 2^24 + 1 is not a float: k is narrowed before the product.
  EXPECT_EQ(dequantize(16777217, 1.0f), 16777216.0);
}

}  // namespace
}  // namespace meshcodec
