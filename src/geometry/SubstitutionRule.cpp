#include "geometry/SubstitutionRule.hpp"

#include <cmath>

namespace meshcodec {

void SubstitutionRule::substitute(Line term, SubstitutionRule replacement) {
  const double k = coefficients[term];
  for (const auto& entry : replacement.coefficients) {
    double& target = coefficients[entry.first];
    target = std::fma(k, entry.second, target);
  }
  coefficients.erase(term);
  constant = std::fma(k, replacement.constant, constant);
}

}  // namespace meshcodec
