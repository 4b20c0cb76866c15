#pragma once
// Principal component analysis of vertex trajectories, between the frame loader and
// the geometry coders of animations. The encoder writes the quantized mean trajectory
// and trajectory basis (the PCA sub-stream) and hands each vertex's coefficients on
// that basis to the geometry coder; the decoder reads the sub-stream back and turns
// the decoded coefficients into frames.
//
// PCA sub-stream: k + 1 quantization steps as a raw float block without count; the
// 3F quantized mean entries as one signed arithmetic block; for each of the k basis
// columns (smallest kept eigenvalue first) one signed arithmetic block of 3F second
// differences taken within each coordinate block of F rows.

#include <iosfwd>

#include <Eigen/Core>

#include "mesh/DynamicMesh.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class PCA {
 public:
  // Encoder: mean trajectory, centring and the full eigen-decomposition of the
  // 3F x 3F scatter matrix. OutOfDomain for fewer than two frames, no vertices, a
  // coordinate that is not finite or an eigensolver that does not converge; Misuse
  // when the row count is not a multiple of 3.
  explicit PCA(const AnimationMatrix& data);

  // Decoder: reads the PCA sub-stream of `bases` columns at the stream's read
  // position. CorruptStream for a negative k, a mean block that is not 3F entries
  // with F >= 2, k > 3F, a basis block that is not 3F entries, a step that cannot
  // have been written, or a truncated block. A positive statedFrames, from the
  // caller's header, is F; otherwise F follows from the mean block. Block counts are
  // checked before their code bytes are read.
  PCA(std::iostream& s, int bases, int statedFrames = 0);

  // Writes the sub-stream for the k basis vectors of largest eigenvalue with
  // precision q and returns the V x k coefficients: column j belongs to basis column
  // 3F - k + j. BadArgument for k outside 0 .. 3F or a precision that is not a positive
  // finite number; StepTooSmall for one so small that an index saturates.
  static CoefficientMatrix encode(const DynamicMesh& mesh, std::iostream& s, int bases,
                                  float precision);
  void encode(std::iostream& s, int k, float q);

  // Encoder: the centred trajectories projected on the last k basis columns, V x k;
  // k = -1 takes all 3F.
  Eigen::MatrixXd getCoef(int k) const;

  // Decoder: mean + (last k' basis columns) x coefficients^T, 3F x V, for V x k'
  // coefficients with k' <= k (Misuse otherwise). Each entry is the sum of its k'
  // products in column order, then the mean, rounded step by step: the same doubles on
  // every target.
  AnimationMatrix getData(const Eigen::MatrixXd& coefficients) const;

  // Decoder: frame f of getData(coefficients), rows f, F + f and 2F + f, into x, y and
  // z (V entries each), in O(V) memory, so that frames can be written one at a time
  // whatever F is. Misuse as getData, or for a frame outside 0 .. F - 1.
  void getFrame(const Eigen::MatrixXd& coefficients, Eigen::Index frame, double* x, double* y,
                double* z) const;

  // Encoder: the exact mean and all eigenvectors; decoder: their dequantized forms.
  const Eigen::VectorXd& getMean() const { return mean; }
  const Eigen::MatrixXd& getBasis() const { return basis; }

 private:
  CoefficientMatrix coef;     // encoder: V x k, set by encode
  Eigen::MatrixXd basis;      // encoder: all 3F eigenvectors, eigenvalues increasing;
                              // decoder: the k dequantized columns
  Eigen::VectorXd mean;       // 3F entries: x of every frame, then y, then z
  Eigen::MatrixXd centeredT;  // encoder: V x 3F, row v the centred trajectory of v
};

}  // namespace meshcodec
