#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/SubstitutionRule.hpp"

namespace meshcodec {
namespace {

const Line a(0, 1), b(0, 2), c(1, 2), d(2, 3);
using Terms = std::vector<std::pair<Line, double>>;

SubstitutionRule rule(const Terms& terms, double constant) {
  SubstitutionRule r;
  for (const auto& [edge, value] : terms) r.coefficients[edge] = value;
  r.constant = constant;
  return r;
}

// Each case substitutes for a. An absent term has coefficient 0: the replacement's
// terms then enter with 0.0 and the constant stays. The term is gone afterwards even
// when the replacement names it.
TEST(SubstitutionRule, ReplacesATermByAnAffineForm) {
  struct Case {
    const char* name;
    SubstitutionRule target, replacement;
    Terms terms;
    double constant;
  };
  const Case cases[] = {
      {"merges", rule({{a, 2}, {b, 1}}, 0.5), rule({{b, 3}, {c, -1}}, 4), {{b, 7}, {c, -2}}, 8.5},
      {"self", rule({{a, 2}}, 0), rule({{a, 1}, {d, 1}}, 0), {{d, 2}}, 0},
      {"absent", rule({{b, 1}}, 3), rule({{c, 5}}, 7), {{b, 1}, {c, 0}}, 3},
  };
  for (const Case& cs : cases) {
    SubstitutionRule r = cs.target;
    r.substitute(a, cs.replacement);
    EXPECT_EQ(r.constant, cs.constant) << cs.name;
    EXPECT_EQ(r.coefficients.size(), cs.terms.size()) << cs.name;
    for (const auto& [edge, value] : cs.terms) EXPECT_EQ(r.coefficients[edge], value) << cs.name;
  }
}

// k * v + t in one rounding: (1 + 2^-27)(1 - 2^-27) - 1 is -2^-54, which a separate
// product would round to 0.
TEST(SubstitutionRule, UpdatesAreFused) {
  const double e = std::ldexp(1.0, -27);
  SubstitutionRule r = rule({{a, 1 + e}, {b, -1}}, -1);
  r.substitute(a, rule({{b, 1 - e}}, 1 - e));
  EXPECT_EQ(r.coefficients[b], -std::ldexp(1.0, -54));
  EXPECT_EQ(r.constant, -std::ldexp(1.0, -54));
}

}  // namespace
}  // namespace meshcodec
