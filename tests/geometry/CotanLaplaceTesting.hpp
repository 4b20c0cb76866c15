#pragma once
// Inputs and stream helpers shared by the tests of the cotangent coders (animated
// methods 3, 4 and 5).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "geometry/CotanLaplace.hpp"
#include "geometry/DiffusionCotan.hpp"
#include "geometry/NewCotanLaplace.hpp"
#include "mesh/Mesh.hpp"

namespace meshcodec::testing {

inline std::stringstream binaryStream(const std::string& bytes = {}) {
  return std::stringstream(bytes, std::ios::in | std::ios::out | std::ios::binary);
}

// Four smooth functions of the positions P (n x 3), standing in for PCA coefficients.
inline Eigen::MatrixXd smoothColumns(const Eigen::MatrixXd& P) {
  Eigen::MatrixXd data(P.rows(), 4);
  for (Eigen::Index i = 0; i < P.rows(); ++i) {
    const double x = P(i, 0), y = P(i, 1), z = P(i, 2);
    data.row(i) << std::sin(2 * x) + y, x * y - z, std::cos(3 * z), 0.5 * (x * x + y * y);
  }
  return data;
}

// The triangles as the connectivity decoder may return them: in another order (reversed
// here) and each rotated by its index mod 3.
inline TriangleList decoderTriangles(const TriangleList& tris) {
  TriangleList out(tris.rbegin(), tris.rend());
  for (size_t t = 0; t < out.size(); ++t) {
    std::rotate(out[t].begin(), out[t].begin() + t % 3, out[t].end());
  }
  return out;
}

// Method 3, 4 or 5, as the animated pipeline calls it, appending to s.
inline void encodeCotanInto(std::iostream& s, int method, const TriangleList& tris,
                            const Eigen::MatrixXd& data, Eigen::MatrixXd& shape, float q,
                            AnchorList anchors) {
  const int n = static_cast<int>(data.rows());
  if (method == 3)
    CotanLaplace::encode(tris, data, shape, s, q, n, anchors);
  else if (method == 4)
    NewCotanLaplace::encode(tris, data, shape, s, q, n, anchors);
  else
    DiffusionCotan::encode(tris, data, shape, s, q, n, anchors);
}

inline std::string encodeCotan(int method, const TriangleList& tris, const Eigen::MatrixXd& data,
                               Eigen::MatrixXd& shape, float q, const AnchorList& anchors) {
  std::stringstream s = binaryStream();
  encodeCotanInto(s, method, tris, data, shape, q, anchors);
  return s.str();
}

// Decodes with standard output captured (and returned in printed when asked for).
inline Eigen::MatrixXd decodeCotan(int method, const TriangleList& tris, const std::string& bytes,
                                   float q, int n, int cols, std::string* printed = nullptr) {
  std::stringstream s = binaryStream(bytes);
  ::testing::internal::CaptureStdout();
  try {
    Eigen::MatrixXd W = method == 3   ? CotanLaplace::decode(tris, s, q, n, cols)
                        : method == 4 ? NewCotanLaplace::decode(tris, s, q, n, cols)
                                      : DiffusionCotan::decode(tris, s, q, n, cols);
    const std::string out = ::testing::internal::GetCapturedStdout();
    if (printed) *printed = out;
    return W;
  } catch (...) {
    ::testing::internal::GetCapturedStdout();
    throw;
  }
}

}  // namespace meshcodec::testing
