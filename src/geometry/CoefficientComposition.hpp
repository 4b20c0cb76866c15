#pragma once
// One term of a linear combination of shape vertices: the weight fit of the
// data-dependent coder writes each vertex's residual as lists of these, one list per
// free edge weight plus one for the part that no free weight multiplies.

namespace meshcodec {

struct CoefficientComposition {
  CoefficientComposition(int index, double coefficient) : index(index), coefficient(coefficient) {}

  int index;           // vertex
  double coefficient;  // factor on that vertex's position
};

}  // namespace meshcodec
