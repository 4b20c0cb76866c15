#pragma once
// Corrected quantization: the encoder-side step shared by the coders that send the
// transform of their data along a triangular factor of the system matrix. Rows are
// quantized in the order in which the decoder's substitution consumes them, and each
// row's quantization error is fed into the rows still to come, so that the decoder,
// which knows only the dequantized rows, reproduces them instead of piling up errors.

#include <functional>
#include <vector>

#include <Eigen/Core>
#include <Eigen/SparseCore>

namespace meshcodec {

// A sparse factor walked one row at a time.
using RowMajorSparse = Eigen::SparseMatrix<double, Eigen::RowMajor, int>;
// Such a factor held by the caller or laid over another matrix's arrays (a Map);
// either binds without a copy while compressed.
using RowMajorSparseRef = Eigen::Ref<const RowMajorSparse>;

// Maps an index to the value the decoder reconstructs for it.
using Dequantizer = std::function<double(int)>;

// Decides whether a row's pivot T(i, i) is used to correct that row of Y; a rejected
// row is still quantized and coded but its transform is left as it was.
using PivotGuard = std::function<bool(double)>;

// The guard of coders that correct every row, dividing by whatever pivot they meet.
inline bool acceptEveryPivot(double) { return true; }

// Quantizes, row by row in index order, the rows of T * Y, correcting Y as it goes.
//   T: m x m, lower triangular, row-major (entries above the diagonal are a Misuse).
//   q: the quantization step; indices come from the double-quotient quantizer.
//   dequantizer, guard: the coder's reconstruction of an index and its pivot rule.
//   Y: m x cols, in place; on return T * Y equals R up to rounding in the rows whose
//      pivot the guard accepted.
//   out: resized to cols vectors of m indices; out[c][i] belongs to row i of T.
//   R: resized to m x cols, the dequantized rows.
// StepTooSmall when an index saturated: callers solve with R or report on the indices
// before they write them, so the check cannot wait for the block writer.
void correctedQuantization(const RowMajorSparseRef& T, float q, const Dequantizer& dequantizer,
                           const PivotGuard& guard, Eigen::MatrixXd& Y,
                           std::vector<std::vector<int>>& out, Eigen::MatrixXd& R);

// The same for T = F diag(D) without forming T, whose row-major copy would be as large
// as the factor itself. F: m x m, unit lower triangular with only its strictly lower
// part stored, column by column (the L of a simplicial LDLT; an entry on or above the
// diagonal is a Misuse); D: the m pivots. Once row j is final, its products T(i, j) *
// Y(j, .) are added to running sums of the rows i below; each row so sums its products
// in the order of the row walk above (columns ascending, the pivot last), and the
// indices, Y and R come out bit for bit the same.
void correctedQuantizationByColumns(const Eigen::SparseMatrix<double>& F, const Eigen::VectorXd& D,
                                    float q, const Dequantizer& dequantizer,
                                    const PivotGuard& guard, Eigen::MatrixXd& Y,
                                    std::vector<std::vector<int>>& out, Eigen::MatrixXd& R);

}  // namespace meshcodec
