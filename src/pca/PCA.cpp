#include "pca/PCA.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Eigenvalues>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "entropy/BlockFormat.hpp"
#include "entropy/DirectCoder.hpp"
#include "geometry/Quantizer.hpp"
#include "mesh/ObjText.hpp"

namespace meshcodec {

namespace {

// A saturated index has lost the value, so the precision is too small for this
// animation rather than the data being coded. column -1 is the mean.
int indexOf(double x, float step, float precision, int column, Eigen::Index entry) {
  const int index = quantize(x, step);
  if (isSaturated(index)) {
    const std::string what = column < 0 ? "the mean" : "basis column " + std::to_string(column);
    throw StepTooSmall("entry " + std::to_string(entry) + " of " + what)
        .naming("precision", precision);
  }
  return index;
}

// Second differences of the indices within each coordinate block of F rows, in
// 32-bit arithmetic that wraps (the decoder undoes the wrap, see integrateColumn).
std::vector<int> secondDifferences(const std::vector<int>& b, Eigen::Index frames) {
  std::vector<int> d(b.size());
  for (Eigen::Index start = 0; start < 3 * frames; start += frames) {
    const auto u = [&](Eigen::Index t) { return static_cast<std::uint32_t>(b[start + t]); };
    d[start] = b[start];
    d[start + 1] = asInt32(u(1) - u(0));
    for (Eigen::Index t = 2; t < frames; ++t) {
      d[start + t] = asInt32(u(t) - 2u * u(t - 1) + u(t - 2));
    }
  }
  return d;
}

// Inverse of secondDifferences on the dequantized side: rows cF and cF + 1 are the
// single-precision products of their indices, and each later row adds its
// difference's product in double, 2 b(t-1) + x as one fused multiply-add. The
// indices are tracked alongside in wrapping 32-bit arithmetic, so a difference that
// wrapped in the encoder is recovered exactly before its product is formed; without
// a wrap it is the coded difference itself.
void integrateColumn(const std::vector<int>& d, float step, Eigen::Index frames, double* out) {
  for (Eigen::Index start = 0; start < 3 * frames; start += frames) {
    const int* dc = d.data() + start;
    double* bc = out + start;
    std::uint32_t before = static_cast<std::uint32_t>(dc[0]);
    std::uint32_t last = before + static_cast<std::uint32_t>(dc[1]);
    bc[0] = dequantize(dc[0], step);
    bc[1] = dequantize(asInt32(last), step);
    for (Eigen::Index t = 2; t < frames; ++t) {
      const std::uint32_t next = 2u * last + static_cast<std::uint32_t>(dc[t]) - before;
      const std::int64_t difference = std::int64_t{asInt32(next)} -
                                      2 * std::int64_t{asInt32(last)} +
                                      std::int64_t{asInt32(before)};
      const double x = static_cast<double>(static_cast<float>(difference) * step);
      bc[t] = std::fma(2.0, bc[t - 1], x) - bc[t - 2];
      before = last;
      last = next;
    }
  }
}

void requireBasisFor(const Eigen::MatrixXd& coefficients, const Eigen::MatrixXd& basis) {
  if (coefficients.cols() > basis.cols()) {
    throw Misuse("PCA: " + std::to_string(coefficients.cols()) + " coefficient columns for " +
                 std::to_string(basis.cols()) + " basis vectors");
  }
}

// Row r of the reconstruction for every vertex: the sum over the coefficient
// columns, in index order from zero, of coefficient times basis entry, and then the
// mean entry. Each product and each sum is rounded on its own (the build fuses
// nothing), so the decoded doubles are the same on every target and machine, whatever
// vector kernels the linear-algebra library would pick for a matrix product.
void reconstructRow(const Eigen::MatrixXd& basis, Eigen::Index firstColumn, double mean,
                    const Eigen::MatrixXd& coefficients, Eigen::Index r, double* out) {
  const Eigen::Index vertices = coefficients.rows();
  std::fill(out, out + vertices, 0.0);
  // Column by column, so that the inner loop runs over contiguous coefficients; each
  // vertex still receives its terms in index order.
  for (Eigen::Index j = 0; j < coefficients.cols(); ++j) {
    const double b = basis(r, firstColumn + j);
    const double* c = coefficients.col(j).data();
    for (Eigen::Index v = 0; v < vertices; ++v) out[v] = out[v] + c[v] * b;
  }
  for (Eigen::Index v = 0; v < vertices; ++v) out[v] = out[v] + mean;
}

}  // namespace

PCA::PCA(const AnimationMatrix& data) {
  if (data.rows() % 3 != 0) {
    throw Misuse("PCA: animation matrix of " + std::to_string(data.rows()) +
                 " rows, not three per frame");
  }
  if (data.rows() < 6) {
    throw OutOfDomain("PCA: the animation has " + std::to_string(data.rows() / 3) +
                      " frame(s); trajectories need at least 2");
  }
  if (data.cols() == 0) throw OutOfDomain("PCA: the animation has no vertices");
  if (!data.allFinite()) {
    for (Eigen::Index r = 0; r < data.rows(); ++r) {
      for (Eigen::Index v = 0; v < data.cols(); ++v) {
        if (!std::isfinite(data(r, v))) {
          throw OutOfDomain("PCA: coordinate of vertex " + std::to_string(v) + " in frame " +
                            std::to_string(r % (data.rows() / 3)) + " is not finite");
        }
      }
    }
  }
  mean = data.rowwise().mean();
  centeredT = (data.colwise() - mean).transpose();
  // S = X X^T, not divided by V; centeredT^T is X as a row-major view, no copy.
  const Eigen::MatrixXd scatter = centeredT.transpose() * centeredT;
  if (!scatter.allFinite()) {
    throw OutOfDomain("PCA: coordinates too large: the trajectory scatter overflows");
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(scatter, Eigen::ComputeEigenvectors);
  if (solver.info() != Eigen::Success) {
    throw OutOfDomain("PCA: the eigen-decomposition of the trajectory scatter did not converge");
  }
  basis = solver.eigenvectors();
}

CoefficientMatrix PCA::encode(const DynamicMesh& mesh, std::iostream& s, int bases,
                              float precision) {
  PCA pca(mesh.getVertices());
  pca.encode(s, bases, precision);
  return std::move(pca.coef);
}

Eigen::MatrixXd PCA::getCoef(int k) const {
  if (centeredT.cols() != basis.rows()) throw Misuse("PCA: coefficients asked of a decoder");
  const Eigen::Index all = basis.cols();
  const Eigen::Index kept = k == -1 ? all : k;
  if (kept < 0 || kept > all) {
    throw BadArgument("PCA: " + std::to_string(k) + " bases asked of an animation with " +
                      std::to_string(all / 3) + " frames (at most " + std::to_string(all) + ")");
  }
  return centeredT * basis.rightCols(kept);
}

void PCA::encode(std::iostream& s, int k, float q) {
  if (!(q > 0.0f) || !std::isfinite(q)) {
    throw BadArgument("PCA: precision " + formatNumber(q) + " is not a positive number");
  }
  if (k < 0) throw BadArgument("PCA: " + std::to_string(k) + " bases");
  const Eigen::Index rows = mean.size();
  const Eigen::Index frames = rows / 3;
  coef = getCoef(k);  // checks k <= 3F and that this is an encoder

  std::vector<float> steps(static_cast<size_t>(k) + 1);
  // Both divisions are part of the format: the mean's in single precision, the
  // columns' in double and then narrowed.
  steps[0] = q / static_cast<float>(centeredT.rows());
  if (!(steps[0] > 0.0f)) {
    throw BadArgument("PCA: precision " + formatNumber(q) + " vanishes over " +
                      std::to_string(centeredT.rows()) + " vertices");
  }
  // A column whose coefficients are all zero gets the step +inf, as the format
  // has it: its indices are all 0, and the decoder reads such a column as zeros.
  const Eigen::RowVectorXd mass = coef.cwiseAbs().colwise().sum();
  for (int j = 0; j < k; ++j) steps[j + 1] = static_cast<float>(static_cast<double>(q) / mass(j));

  // Everything is quantized before anything is written, so that a refused precision
  // leaves the stream as it was.
  std::vector<int> m(static_cast<size_t>(rows));
  for (Eigen::Index i = 0; i < rows; ++i) {
    m[i] = indexOf(mean(i), steps[0], q, -1, i);
  }
  std::vector<std::vector<int>> columns(static_cast<size_t>(k));
  std::vector<int> b(static_cast<size_t>(rows));
  for (int j = 0; j < k; ++j) {
    const auto column = basis.col(rows - k + j);
    for (Eigen::Index i = 0; i < rows; ++i) {
      b[i] = indexOf(column(i), steps[j + 1], q, j, i);
    }
    columns[j] = secondDifferences(b, frames);
    for (size_t i = 0; i < columns[j].size(); ++i) {
      // The one value a 32-bit difference can wrap to that the block cannot carry.
      if (columns[j][i] == INT_MIN) {
        throw StepTooSmall("the second difference at entry " + std::to_string(i) +
                           " of basis column " + std::to_string(j))
            .naming("precision", q);
      }
    }
  }

  DirectCoder::encode(steps, s, false);
  ArithCoder::encode(m, s, true);
  for (const std::vector<int>& d : columns) ArithCoder::encode(d, s, true);
}

PCA::PCA(std::iostream& s, int bases, int statedFrames) {
  if (bases < 0 || bases == INT_MAX) {
    throw CorruptStream("PCA sub-stream: " + std::to_string(bases) + " basis vectors");
  }
  const std::vector<float> steps = DirectCoder::decode(s, bases + 1);
  const std::string meanBlock = describeAt("PCA sub-stream: mean block", s.tellg());
  ArithCoder::CountCheck meanCount;
  if (statedFrames > 0) {
    meanCount = [&meanBlock, statedFrames](std::int32_t count) {
      const std::int64_t rows = 3 * std::int64_t{statedFrames};
      if (count != rows) {
        throw CorruptStream(meanBlock + ": " + std::to_string(count) + " entries, not the " + std::to_string(rows) +
                            " of " + std::to_string(statedFrames) + " frames");
      }
    };
  }
  const std::vector<int> m = ArithCoder::decode(s, true, meanCount);
  const Eigen::Index rows = static_cast<Eigen::Index>(m.size());
  if (rows % 3 != 0 || rows < 6) {
    throw CorruptStream(meanBlock + ": " + std::to_string(rows) +
                        " entries, not 3F with at least 2 frames");
  }
  if (bases > rows) {
    throw CorruptStream(meanBlock + ": " + std::to_string(bases) + " basis vectors for " +
                        std::to_string(rows) + " trajectory entries");
  }
  const Eigen::Index frames = rows / 3;
  mean.resize(rows);
  for (Eigen::Index i = 0; i < rows; ++i) mean(i) = dequantize(m[i], steps[0]);
  if (!mean.allFinite()) throw CorruptStream(meanBlock + ": the mean is not finite");

  // Storage grows with each block actually read, so a forged k costs no more memory
  // than the blocks that the stream really holds.
  std::vector<double> columns;
  for (int j = 0; j < bases; ++j) {
    const std::string block =
        describeAt("PCA sub-stream: basis column " + std::to_string(j), s.tellg());
    const std::vector<int> d = ArithCoder::decode(s, true, [&block, rows](std::int32_t count) {
      if (count != rows) {
        throw CorruptStream(block + ": " + std::to_string(count) + " entries, not " + std::to_string(rows));
      }
    });
    columns.resize(columns.size() + static_cast<size_t>(rows), 0.0);
    double* out = columns.data() + static_cast<size_t>(j) * static_cast<size_t>(rows);
    const float step = steps[static_cast<size_t>(j) + 1];
    if (step == INFINITY) continue;  // a column without coefficients (see encode)
    integrateColumn(d, step, frames, out);
    for (Eigen::Index i = 0; i < rows; ++i) {
      if (!std::isfinite(out[i])) {
        throw CorruptStream(block + ": not finite at entry " + std::to_string(i));
      }
    }
  }
  basis = Eigen::Map<const Eigen::MatrixXd>(columns.data(), rows, bases);
}

AnimationMatrix PCA::getData(const Eigen::MatrixXd& coefficients) const {
  requireBasisFor(coefficients, basis);
  const Eigen::Index frames = mean.size() / 3;
  AnimationMatrix result(mean.size(), coefficients.rows());
  // Rows f, F + f and 2F + f of the row-major matrix are frame f's x, y and z.
  for (Eigen::Index f = 0; f < frames; ++f) {
    getFrame(coefficients, f, result.row(f).data(), result.row(frames + f).data(),
             result.row(2 * frames + f).data());
  }
  return result;
}

void PCA::getFrame(const Eigen::MatrixXd& coefficients, Eigen::Index frame, double* x, double* y,
                   double* z) const {
  requireBasisFor(coefficients, basis);
  const Eigen::Index frames = mean.size() / 3;
  if (frame < 0 || frame >= frames) {
    throw Misuse("PCA: frame " + std::to_string(frame) + " of " + std::to_string(frames));
  }
  const Eigen::Index firstColumn = basis.cols() - coefficients.cols();
  double* const out[3] = {x, y, z};
  for (int c = 0; c < 3; ++c) {
    const Eigen::Index r = c * frames + frame;
    reconstructRow(basis, firstColumn, mean(r), coefficients, r, out[c]);
  }
}

}  // namespace meshcodec
