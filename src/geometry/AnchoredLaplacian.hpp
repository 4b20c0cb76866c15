#pragma once
// The system shared by the least-squares Laplacian coders: the uniform Laplacian of
// every vertex stacked over one unit row per anchor, and the least-squares solve
// that turns dequantized values of those rows back into vertex data. The encoder
// (for write-back) and the decoder run the same solve, so they agree bit for bit.

#include <Eigen/Core>
#include <Eigen/SparseCore>
#include <iosfwd>

#include "geometry/NeighborTable.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

// Which end of the codec calls: a fault is the caller's (encoder) or the stream's
// (decoder), and the error kind says so.
enum class CodingSide { Encoder, Decoder };

// Every anchor id in 0 .. n-1 and none repeated; n >= 0. Throws CorruptStream on the
// decoder side, where the list was read from a stream, and Misuse on the encoder side.
void checkAnchorList(const AnchorList& anchors, int n, CodingSide side);

// Reads the anchor id block (no sign bin) of a mesh of n vertices. Distinct ids below
// n are at most n, so a block announcing more throws CorruptStream before its code
// bytes are read; the ids themselves are left to checkAnchorList.
AnchorList readAnchorIds(std::iostream& s, int n);

// table: n lists (the neighbour table); anchors: a distinct ids in 0 .. n-1.
// Returns L, (n + a) x n: row i < n holds -deg_i at column i and +1 at every entry
// of i's list (a neighbour listed twice gives +2), so row i of L * V is the sum of
// the neighbours' rows minus deg_i times row i; row n + k holds 1 at anchors[k].
Eigen::SparseMatrix<double> buildAnchoredLaplacian(const NeighborTable& table,
                                                   const AnchorList& anchors);

// The factorisation of the normal matrix: the uniform coders use LDL^T, the
// cotangent coders LL^T; encoder and decoder of one coder must use the same.
enum class NormalFactorization { LDLT, LLT };

// L: (n + a) x n, every Laplacian row summing to zero; D: (n + a) x cols.
// Returns X, n x cols, solving (L^T L) X = L^T D by one sparse factorisation of the
// given kind with approximate-minimum-degree ordering for all columns. A system without
// anchor rows is singular; it, a failed factorisation or a non-finite solution throws
// (OutOfDomain for the encoder, CorruptStream for the decoder).
Eigen::MatrixXd solveAnchoredLeastSquares(const Eigen::SparseMatrix<double>& L,
                                          const Eigen::MatrixXd& D, CodingSide side,
                                          NormalFactorization kind = NormalFactorization::LDLT);

}  // namespace meshcodec
