#include "geometry/CorrectedQuantization.hpp"

#include <algorithm>
#include <string>

#include "common/CodecError.hpp"
#include "geometry/Quantizer.hpp"

namespace meshcodec {

void correctedQuantization(const RowMajorSparseRef& T, float q, const Dequantizer& dequantizer,
                           const PivotGuard& guard, Eigen::MatrixXd& Y,
                           std::vector<std::vector<int>>& out, Eigen::MatrixXd& R) {
  const Eigen::Index m = T.rows();
  if (T.cols() != m || Y.rows() != m) {
    throw Misuse("corrected quantization: factor of " + std::to_string(T.rows()) + " x " +
                 std::to_string(T.cols()) + " against " + std::to_string(Y.rows()) + " data rows");
  }
  const Eigen::Index cols = Y.cols();
  out.assign(static_cast<size_t>(cols), std::vector<int>(static_cast<size_t>(m), 0));
  R.resize(m, cols);

  std::vector<double> t(static_cast<size_t>(cols));
  std::vector<double> rq(static_cast<size_t>(cols));
  for (Eigen::Index i = 0; i < m; ++i) {
    // t = T.row(i) * Y, each column summed from 0 in the row's storage order.
    std::fill(t.begin(), t.end(), 0.0);
    double dd = 0.0;  // a row without a stored diagonal has a zero pivot
    for (RowMajorSparseRef::InnerIterator it(T, i); it; ++it) {
      const Eigen::Index j = it.index();
      if (j > i) {
        throw Misuse("corrected quantization: factor entry (" + std::to_string(i) + ", " +
                     std::to_string(j) + ") lies above the diagonal");
      }
      if (j == i) dd = it.value();
      for (Eigen::Index c = 0; c < cols; ++c) t[c] += it.value() * Y(j, c);
    }
    for (Eigen::Index c = 0; c < cols; ++c) {
      const int k = quantize(t[c], q);
      out[c][i] = k;
      rq[c] = dequantizer(k);
      R(i, c) = rq[c];
    }
    if (!guard(dd)) continue;
    // Row i of T * Y becomes rq: only Y(i, .) may change, and it carries the whole
    // error of this row into the rows below. One rounding per operation, in this order.
    const double inv = 1.0 / dd;
    for (Eigen::Index c = 0; c < cols; ++c) Y(i, c) = inv * ((rq[c] - t[c]) + dd * Y(i, c));
  }
  requireUnsaturated(out, "the delta coordinates");
}

void correctedQuantizationByColumns(const Eigen::SparseMatrix<double>& F, const Eigen::VectorXd& D,
                                    float q, const Dequantizer& dequantizer,
                                    const PivotGuard& guard, Eigen::MatrixXd& Y,
                                    std::vector<std::vector<int>>& out, Eigen::MatrixXd& R) {
  const Eigen::Index m = F.rows();
  if (F.cols() != m || D.size() != m || Y.rows() != m) {
    throw Misuse("corrected quantization: factor of " + std::to_string(F.rows()) + " x " +
                 std::to_string(F.cols()) + " with " + std::to_string(D.size()) +
                 " pivots against " + std::to_string(Y.rows()) + " data rows");
  }
  const Eigen::Index cols = Y.cols();
  const size_t width = static_cast<size_t>(cols);
  out.assign(width, std::vector<int>(static_cast<size_t>(m), 0));
  R.resize(m, cols);

  // Row i's products with the rows above it, summed so far: m x cols, row after row.
  std::vector<double> partial(static_cast<size_t>(m) * width, 0.0);
  std::vector<double> t(width);
  std::vector<double> rq(width);
  for (Eigen::Index i = 0; i < m; ++i) {
    const double dd = D[i];
    const double* sum = partial.data() + static_cast<size_t>(i) * width;
    for (Eigen::Index c = 0; c < cols; ++c) t[c] = sum[c] + dd * Y(i, c);
    for (Eigen::Index c = 0; c < cols; ++c) {
      const int k = quantize(t[c], q);
      out[c][i] = k;
      rq[c] = dequantizer(k);
      R(i, c) = rq[c];
    }
    if (guard(dd)) {
      const double inv = 1.0 / dd;
      for (Eigen::Index c = 0; c < cols; ++c) Y(i, c) = inv * ((rq[c] - t[c]) + dd * Y(i, c));
    }
    for (Eigen::SparseMatrix<double>::InnerIterator it(F, i); it; ++it) {
      const Eigen::Index below = it.index();
      if (below <= i) {
        throw Misuse("corrected quantization: factor entry (" + std::to_string(below) + ", " +
                     std::to_string(i) + ") is not below the diagonal");
      }
      // T(below, i), rounded once, as in the scaled copy of the factor.
      const double entry = it.value() * dd;
      double* target = partial.data() + static_cast<size_t>(below) * width;
      for (Eigen::Index c = 0; c < cols; ++c) target[c] += entry * Y(i, c);
    }
  }
  requireUnsaturated(out, "the delta coordinates");
}

}  // namespace meshcodec
