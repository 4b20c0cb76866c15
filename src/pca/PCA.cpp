#include "pca/PCA.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Eigenvalues>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "entropy/BlockFormat.hpp"
#include "entropy/DirectCoder.hpp"
#include "geometry/Quantizer.hpp"

namespace meshcodec {

namespace {

std::string describe(float value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

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

// getFrame sums each position's k terms in the order in which getData's matrix
// product sums them, which the decoded bits depend on. Eigen evaluates that product
// as the column-major V x 3F product coefficients x basis^T:
// - when k + 3F + V is below EIGEN_GEMM_TO_COEFFBASED_THRESHOLD, coefficient by
//   coefficient: t0 + t1 + ... in order;
// - otherwise by its blocked kernel: the result is zeroed, and for each depth block
//   of kc terms a sum started at zero is added to it. Vertices come in row blocks of
//   mc and entries in column blocks of nc, the three sizes chosen for these
//   dimensions and this machine's caches. Within a depth block the terms are added in
//   order, except where the kernel takes rows one packet at a time (the pair of rows
//   left over in a row block after its groups of four) against a group of four
//   columns: there even and odd terms are summed apart up to the last multiple of
//   eight, the two sums added, and the remaining terms added in order.
// The kernel's shape that this describes is fixed by the build (SSE2 without fused
// multiply-add); the assertion stops a build for which it would not hold.
using KernelTraits = Eigen::internal::gebp_traits<double, double>;
static_assert(KernelTraits::LhsProgress == 2 && KernelTraits::mr == 4 && KernelTraits::nr == 4,
              "getFrame mirrors the product kernel for packets of two doubles without fused multiply-add");

constexpr Eigen::Index kKernelRows = KernelTraits::mr;             // rows of the main micro kernel
constexpr Eigen::Index kKernelPacket = KernelTraits::LhsProgress;  // rows of the split-sum kernel
constexpr Eigen::Index kKernelColumns = KernelTraits::nr;          // columns of a micro kernel
constexpr Eigen::Index kKernelPeel = 8;                            // depth unrolling of the split sums

class ProductOrder {
 public:
  ProductOrder(Eigen::Index vertices, Eigen::Index entries, Eigen::Index depth)
      : entries(entries), depth(depth), kc(depth), mc(vertices), nc(entries) {
    coefficientWise = depth > 0 && depth + entries + vertices < EIGEN_GEMM_TO_COEFFBASED_THRESHOLD;
    if (depth == 0 || coefficientWise) return;  // no blocks: the product is zero, or summed in order
    Eigen::internal::computeProductBlockingSizes<double, double, 1, Eigen::Index>(kc, mc, nc, 1);
    mc = std::min(mc, vertices);
    nc = std::min(nc, entries);
    // The vertices whose sums are split: per row block, the packet after its groups of
    // four rows when two or three rows are left.
    for (Eigen::Index start = 0; start < vertices; start += mc) {
      const Eigen::Index rows = std::min(mc, vertices - start);
      const Eigen::Index quads = rows / kKernelRows * kKernelRows;
      if (rows - quads >= kKernelPacket) {
        for (Eigen::Index i = 0; i < kKernelPacket; ++i) splitRows.push_back(start + quads + i);
      }
    }
  }

  // Writes row r of the product (entry r of every vertex's trajectory, before the mean
  // is added) to out; acc holds V scratch entries.
  void sum(const Eigen::MatrixXd& basis, Eigen::Index firstColumn, const Eigen::MatrixXd& coefficients,
           Eigen::Index r, double* out, double* acc) const {
    const Eigen::Index vertices = coefficients.rows();
    const auto term = [&](Eigen::Index j, Eigen::Index v) {
      return coefficients(v, j) * basis(r, firstColumn + j);
    };
    if (coefficientWise) {
      for (Eigen::Index v = 0; v < vertices; ++v) out[v] = term(0, v);
      for (Eigen::Index j = 1; j < depth; ++j) {
        addColumn(basis(r, firstColumn + j), coefficients.col(j).data(), vertices, out);
      }
      return;
    }
    std::fill(out, out + vertices, 0.0);
    const Eigen::Index blockStart = r / nc * nc;
    const Eigen::Index blockColumns = std::min(nc, entries - blockStart);
    const bool quadColumn = r - blockStart < blockColumns / kKernelColumns * kKernelColumns;
    for (Eigen::Index k0 = 0; k0 < depth; k0 += kc) {
      const Eigen::Index terms = std::min(kc, depth - k0);
      std::fill(acc, acc + vertices, 0.0);
      for (Eigen::Index j = k0; j < k0 + terms; ++j) {
        addColumn(basis(r, firstColumn + j), coefficients.col(j).data(), vertices, acc);
      }
      const Eigen::Index peeled = terms / kKernelPeel * kKernelPeel;
      if (quadColumn && peeled > 0) {
        for (const Eigen::Index v : splitRows) {
          double even = 0.0, odd = 0.0;
          for (Eigen::Index p = 0; p < peeled; p += 2) {
            even = even + term(k0 + p, v);
            odd = odd + term(k0 + p + 1, v);
          }
          double s = even + odd;
          for (Eigen::Index p = peeled; p < terms; ++p) s = s + term(k0 + p, v);
          acc[v] = s;
        }
      }
      for (Eigen::Index v = 0; v < vertices; ++v) out[v] = out[v] + acc[v];
    }
  }

 private:
  static void addColumn(double b, const double* c, Eigen::Index n, double* acc) {
    for (Eigen::Index v = 0; v < n; ++v) acc[v] = acc[v] + c[v] * b;
  }

  Eigen::Index entries, depth;
  Eigen::Index kc, mc, nc;
  bool coefficientWise;
  std::vector<Eigen::Index> splitRows;
};

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
    throw BadArgument("PCA: precision " + describe(q) + " is not a positive number");
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
    throw BadArgument("PCA: precision " + describe(q) + " vanishes over " +
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

PCA::PCA(std::iostream& s, int bases) {
  if (bases < 0 || bases == INT_MAX) {
    throw CorruptStream("PCA sub-stream: " + std::to_string(bases) + " basis vectors");
  }
  const std::vector<float> steps = DirectCoder::decode(s, bases + 1);
  const std::string meanBlock = describeAt("PCA sub-stream: mean block", s.tellg());
  const std::vector<int> m = ArithCoder::decode(s, true);
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
    const std::vector<int> d = ArithCoder::decode(s, true);
    if (static_cast<Eigen::Index>(d.size()) != rows) {
      throw CorruptStream(block + ": " + std::to_string(d.size()) + " entries, not " +
                          std::to_string(rows));
    }
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
  AnimationMatrix result = basis.rightCols(coefficients.cols()) * coefficients.transpose();
  result.colwise() += mean;
  return result;
}

void PCA::getFrame(const Eigen::MatrixXd& coefficients, Eigen::Index frame, double* x, double* y,
                   double* z) const {
  requireBasisFor(coefficients, basis);
  const Eigen::Index frames = mean.size() / 3;
  if (frame < 0 || frame >= frames) {
    throw Misuse("PCA: frame " + std::to_string(frame) + " of " + std::to_string(frames));
  }
  const Eigen::Index k = coefficients.cols();
  const ProductOrder order(coefficients.rows(), mean.size(), k);
  std::vector<double> scratch(static_cast<size_t>(coefficients.rows()));
  double* const out[3] = {x, y, z};
  for (int c = 0; c < 3; ++c) {
    const Eigen::Index r = c * frames + frame;
    order.sum(basis, basis.cols() - k, coefficients, r, out[c], scratch.data());
    const double m = mean(r);
    for (Eigen::Index v = 0; v < coefficients.rows(); ++v) out[c][v] = out[c][v] + m;
  }
}

}  // namespace meshcodec
