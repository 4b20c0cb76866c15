#include "geometry/AnchoredLaplacian.hpp"

#include <Eigen/SparseCholesky>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"

namespace meshcodec {

namespace {

// A bad anchor list is the stream's fault when decoding and the caller's otherwise.
[[noreturn]] void throwBadAnchors(CodingSide side, const std::string& reason) {
  if (side == CodingSide::Decoder) throw CorruptStream("geometry: " + reason);
  throw Misuse("geometry: " + reason);
}

// A system that cannot be solved: the stream's fault when decoding, the mesh's when
// encoding.
[[noreturn]] void throwSolveFailure(CodingSide side, const std::string& reason) {
  if (side == CodingSide::Decoder) throw CorruptStream("geometry: " + reason);
  throw OutOfDomain("geometry: " + reason);
}

// A = L^T L, factored once; one solve serves every column of D.
template <typename Solver>
Eigen::MatrixXd solveNormalEquations(const Eigen::SparseMatrix<double>& A,
                                     const Eigen::SparseMatrix<double>& L, const Eigen::MatrixXd& D,
                                     CodingSide side) {
  const Eigen::Index n = A.rows();
  Solver solver;
  solver.compute(A);
  if (solver.info() != Eigen::Success) {
    throwSolveFailure(
        side, "the normal matrix of " + std::to_string(n) + " vertices could not be factorised");
  }
  if (D.cols() == 0) return Eigen::MatrixXd(n, 0);  // nothing to solve
  Eigen::MatrixXd X = solver.solve(L.transpose() * D);
  if (solver.info() != Eigen::Success || !X.allFinite()) {
    throwSolveFailure(side, "the least-squares solve of " + std::to_string(n) +
                                " vertices gave no finite solution");
  }
  return X;
}

}  // namespace

void checkAnchorList(const AnchorList& anchors, int n, CodingSide side) {
  if (n < 0) throwBadAnchors(side, "vertex count " + std::to_string(n) + " is negative");
  std::vector<char> isAnchor(static_cast<size_t>(n), 0);
  for (size_t k = 0; k < anchors.size(); ++k) {
    const int id = anchors[k];
    if (id < 0 || id >= n) {
      throwBadAnchors(side, "anchor " + std::to_string(k) + " names vertex " + std::to_string(id) +
                                " of a mesh of " + std::to_string(n) + " vertices");
    }
    if (isAnchor[id]) {
      throwBadAnchors(side,
                      "anchor " + std::to_string(k) + " repeats vertex " + std::to_string(id));
    }
    isAnchor[id] = 1;
  }
}

AnchorList readAnchorIds(std::iostream& s, int n) {
  return ArithCoder::decode(s, false, [n](std::int32_t count) {
    if (count > n) {
      throw CorruptStream("geometry: anchor block holds " + std::to_string(count) + " entries, more than the " +
                          std::to_string(n) + " vertices");
    }
  });
}

Eigen::SparseMatrix<double> buildAnchoredLaplacian(const NeighborTable& table,
                                                   const AnchorList& anchors) {
  const int n = static_cast<int>(table.size());
  const int a = static_cast<int>(anchors.size());
  size_t entries = static_cast<size_t>(n) + anchors.size();
  for (const auto& list : table) entries += list.size();

  std::vector<Eigen::Triplet<double>> triplets;
  triplets.reserve(entries);
  for (int i = 0; i < n; ++i) {
    triplets.emplace_back(i, i, -static_cast<double>(table[i].size()));
    for (int j : table[i]) triplets.emplace_back(i, j, 1.0);
  }
  for (int k = 0; k < a; ++k) triplets.emplace_back(n + k, anchors[k], 1.0);

  Eigen::SparseMatrix<double> L(n + a, n);
  L.setFromTriplets(triplets.begin(), triplets.end());
  return L;
}

Eigen::MatrixXd solveAnchoredLeastSquares(const Eigen::SparseMatrix<double>& L,
                                          const Eigen::MatrixXd& D, CodingSide side,
                                          NormalFactorization kind) {
  const Eigen::Index n = L.cols();
  if (D.rows() != L.rows()) {
    throw Misuse("geometry: " + std::to_string(D.rows()) + " rows of values for a system of " +
                 std::to_string(L.rows()) + " rows");
  }
  if (n == 0) return Eigen::MatrixXd(0, D.cols());
  // Each Laplacian row sums to zero, so without an anchor row every constant column
  // solves the homogeneous system: the factorisation need not notice.
  if (L.rows() == n) {
    throwSolveFailure(side, "no anchor vertex among " + std::to_string(n) +
                                " vertices, so the Laplacian system is singular");
  }
  const Eigen::SparseMatrix<double> A = L.transpose() * L;
  if (kind == NormalFactorization::LLT) {
    return solveNormalEquations<Eigen::SimplicialLLT<Eigen::SparseMatrix<double>, Eigen::Lower,
                                                     Eigen::AMDOrdering<int>>>(A, L, D, side);
  }
  return solveNormalEquations<Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>, Eigen::Lower,
                                                    Eigen::AMDOrdering<int>>>(A, L, D, side);
}

}  // namespace meshcodec
