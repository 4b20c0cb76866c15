#pragma once
// The edge weights of the cotangent coders: each edge i-j of the mesh weighs the sum
// of the cotangents of the two angles opposite it, measured on the reference shape as
// the decoder reconstructs it, so that both ends of the codec build the same matrix.
// The coders turn one vertex's weights and diagonal into matrix entries of their own.

#include <Eigen/Core>
#include <string>
#include <vector>

#include "geometry/AnchoredLaplacian.hpp"
#include "geometry/NeighborTable.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

// n rows of (x, y, z); a column-major matrix binds through a row-major copy.
using ShapeRef =
    Eigen::Ref<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>;

// One list per vertex: the indices of the triangles with a corner at it, ascending (a
// triangle naming the vertex at two corners is listed twice).
using TriangleFanTable = std::vector<std::vector<int>>;

// fans must already hold one list per vertex. Throws CorruptStream for a corner without
// a list, like buildNeighborsTable.
void buildNeighborTriangleTable(const TriangleList& tris, TriangleFanTable& fans);

// Index of the first entry of list equal to v, or -1.
int neighbourIndex(const std::vector<int>& list, int v);

// The encoders' check of their inputs: a NaN or infinity would otherwise be rounded
// into the stream as some index. Throws OutOfDomain naming the first non-finite entry
// of m; what names the matrix.
void requireFinite(const Eigen::Ref<const Eigen::MatrixXd>& m, const std::string& what);

// The weights of one vertex at a time, over tables built once.
class CotangentWeights {
 public:
  // tris and neighbors (n lists built from tris by buildNeighborsTable) must outlive the
  // object. side says whose fault a weight that cannot be formed is.
  CotangentWeights(const TriangleList& tris, const NeighborTable& neighbors, CodingSide side);

  // shape: n x 3 (Misuse otherwise), bound once by the caller: binding a column-major
  // matrix copies it. weights: set to deg(i) entries, entry k for neighbour
  // neighbors[i][k]: cot(alpha) + cot(beta) over the triangles of the fan of i that hold
  // that edge (no halving, no area, negative for obtuse angles). diagonal: minus every
  // cotangent added, summed in fan order. A fan edge missing from i's list, or a
  // cotangent that is not finite (degenerate triangle), throws OutOfDomain for the
  // encoder and CorruptStream for the decoder, naming the vertex and the triangle.
  void compute(const ShapeRef& shape, int i, std::vector<double>& weights, double& diagonal);

  const TriangleFanTable& getFans() const { return fans; }

 private:
  // Leaves the lookup clean and throws the error of this side.
  [[noreturn]] void refuse(int i, const std::string& reason);

  const TriangleList& tris;
  const NeighborTable& neighbors;
  CodingSide side;
  TriangleFanTable fans;
  // slot[v] = neighbourIndex(neighbors[i], v) while vertex i is computed, -1 otherwise:
  // the first-match lookup in constant time, so a vertex costs its degree, not its square.
  std::vector<int> slot;
};

}  // namespace meshcodec
