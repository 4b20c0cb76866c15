#pragma once
// Stream helpers shared by the tests of the two corrected-quantization coders:
// method 0 (NewLaplace) and static method 3 (NewLaplaceQR).

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "entropy/ArithCoder.hpp"
#include "geometry/NewLaplace.hpp"
#include "support/LittleEndian.hpp"
#include "geometry/NewLaplaceQR.hpp"

namespace meshcodec::testing {

inline std::string arithBlock(const std::vector<int>& values, bool withSign) {
  std::stringstream s;
  ArithCoder::encode(values, s, withSign);
  return s.str();
}

inline std::string encodeMethod(int method, const TriangleList& tris, Eigen::MatrixXd& V, float q,
                                const AnchorList& anchors, bool writeBack) {
  std::stringstream s;
  const int n = static_cast<int>(V.rows());
  if (method == 0) NewLaplace::encode(tris, V, s, q, n, anchors, writeBack);
  else NewLaplaceQR::encode(tris, V, s, q, n, anchors, writeBack);
  return s.str();
}

// Decodes with the vertex-count line of standard output captured (and returned in
// printed when asked for).
inline Eigen::MatrixXd decodeMethod(int method, const TriangleList& tris, const std::string& bytes,
                                    float q, int n, int cols, std::string* printed = nullptr) {
  std::stringstream s(bytes);
  ::testing::internal::CaptureStdout();
  try {
    Eigen::MatrixXd W = method == 0 ? NewLaplace::decode(tris, s, q, n, cols)
                                    : NewLaplaceQR::decode(tris, s, q, n, cols);
    const std::string out = ::testing::internal::GetCapturedStdout();
    if (printed) *printed = out;
    return W;
  } catch (...) {
    ::testing::internal::GetCapturedStdout();
    throw;
  }
}

}  // namespace meshcodec::testing
