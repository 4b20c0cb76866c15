#pragma once
// The one place where a method number is interpreted. Each row names the geometry
// coder that a static or animated method number selects, its encoder and decoder as
// the pipelines call them, and whether it needs a reference shape. The pipelines, the
// tests' decode entry points, the fuzz harnesses and the benchmarks all look methods
// up here, so that none of them can drift from the others.

#include <Eigen/Core>
#include <iosfwd>

#include "mesh/MeshTypes.hpp"

namespace meshcodec {

// The geometry coders, by class.
enum class GeometryCoder {
  NewLaplace,
  Laplace,
  DiffusionLaplace,
  NewLaplaceQR,
  CotanLaplace,
  NewCotanLaplace,
  DiffusionCotan,
  DataDependentLaplace,
};

struct GeometryMethod {
  // Appends the method's geometry sub-stream for data (n x k: positions or PCA
  // coefficients, one row per vertex). shape is the n x 3 reference shape for a method
  // that needs one (it may be replaced by the decoder's reconstruction of it), null
  // otherwise. data is not changed. StepTooSmall when q makes an index saturate; the
  // caller names the argument that gave q.
  using Encode = void (*)(const TriangleList& tris, Eigen::MatrixXd& data, Eigen::MatrixXd* shape,
                          std::iostream& s, float q, int n, const AnchorList& anchors);
  // Reads the sub-stream and returns the n x cols result.
  using Decode = Eigen::MatrixXd (*)(const TriangleList& tris, std::iostream& s, float q, int n,
                                     int cols);

  GeometryCoder coder;
  bool needsReference;
  Encode encode;
  Decode decode;  // null for a method without a decoder

  bool hasDecoder() const { return decode != nullptr; }
};

// Static methods 0 to 3 and animated methods 0 to 6; null for any other number, which
// has no geometry sub-stream in either direction.
const GeometryMethod* staticMethod(int number);
const GeometryMethod* animatedMethod(int number);

}  // namespace meshcodec
