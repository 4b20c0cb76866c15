#pragma once
// An affine form over edge weights, w = sum of coefficient * w_term + constant: how
// the data-dependent coder writes a selected edge's weight through the weights that
// stay free. The selection builds and rewrites these rules; the weight fit expands
// them into each vertex's residual and evaluates them at the fitted free weights.

#include "geometry/ChainedHashMap.hpp"
#include "geometry/Line.hpp"

namespace meshcodec {

class SubstitutionRule {
 public:
  using Terms = ChainedHashMap<Line, double>;

  // Replaces the weight of term by the form replacement (taken by value: the caller's
  // rule is copied, and the copy's iteration order is the one that is walked). A term
  // this rule does not hold has coefficient 0, so each of the replacement's terms
  // then enters with 0.0 and the constant stays; the term is absent afterwards even
  // when the replacement names it. Each update is one fused multiply-add.
  void substitute(Line term, SubstitutionRule replacement);

  Terms coefficients;
  double constant = 0.0;
};

}  // namespace meshcodec
