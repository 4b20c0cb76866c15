#pragma once
// Geometry coder of animated method 4: the scheme of NewLaplace (anchor values sent
// directly, free rows as corrected quantization along the LDLT factor of the system,
// one square solve to decode) over the cotangent Laplacian of the free vertices. The
// reference shape goes first, coded by NewLaplace with write-back, and both ends take
// the weights from that reconstruction.
//
// Sub-stream: the NewLaplace sub-stream of the shape, the anchor list again, the anchor
// value block (a x cols), then one block of m = n - a indices per column, factor order.

#include <Eigen/Core>
#include <iosfwd>
#include <vector>

#include "geometry/AnchoredLaplacian.hpp"
#include "geometry/CotangentWeights.hpp"
#include "geometry/FreeVertexLaplacian.hpp"
#include "geometry/NeighborTable.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class NewCotanLaplace {
 public:
  using RowMajorMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

  // shape: n x 3. anchors: distinct ids below n (Misuse otherwise), at least one when
  // n > 0. The row of free vertex i holds the diagonal of
  // its cotangent weights (the weights towards anchors included) and its weights towards
  // free neighbours. side: whose fault weights that cannot be formed, or a missing
  // anchor, are.
  NewCotanLaplace(const TriangleList& tris, const ShapeRef& shape, const AnchorList& anchors, int n,
                  CodingSide side = CodingSide::Encoder);

  // Appends the sub-stream for data (n x cols); shape (n x 3) becomes the decoder's
  // reconstruction of it. Non-finite data or shape, degenerate reconstructed weights and
  // a singular free system throw OutOfDomain, the first two before anything is written.
  static void encode(const TriangleList& tris, const Eigen::Ref<const RowMajorMatrix>& data,
                     Eigen::MatrixXd& shape, std::iostream& s, float q, int n, AnchorList& anchors);
  // Reads one sub-stream and returns the n x cols data. Prints n (from the shape pass)
  // and then the x coordinate of reconstructed vertex 0, each on a line of its own (the
  // second only when there is a vertex 0). Throws CorruptStream for a truncated stream,
  // bad anchors, short blocks, degenerate reconstructed weights or an unsolvable system.
  static Eigen::MatrixXd decode(const TriangleList& tris, std::iostream& s, float q, int n,
                                int cols);

  // Writes the blocks of getCorrections(data, q), one per column.
  void encodeInternal(const Eigen::Ref<const Eigen::MatrixXd>& data, std::iostream& s,
                      float q) const;
  // cols vectors of m indices, entry i for factor row i: corrected quantization with the
  // plain dequantizer and no pivot guard. data: n x cols, anchor rows not read.
  std::vector<std::vector<int>> getCorrections(const Eigen::Ref<const Eigen::MatrixXd>& data,
                                               float q) const;
  // m x cols, row k for free vertex getSystem().getFreeVertices()[k], from the dequantized
  // rows R (m x cols, factor order).
  Eigen::MatrixXd getCoefficients(const Eigen::MatrixXd& R,
                                  CodingSide side = CodingSide::Encoder) const;

  const FreeVertexLaplacian& getSystem() const { return system; }

  static int buildNeighborsTable(const TriangleList& tris, NeighborTable& table) {
    return meshcodec::buildNeighborsTable(tris, table);
  }
  static void buildNeighborTriangleTable(const TriangleList& tris, TriangleFanTable& fans) {
    meshcodec::buildNeighborTriangleTable(tris, fans);
  }
  static int neighbourIndex(const std::vector<int>& list, int v) {
    return meshcodec::neighbourIndex(list, v);
  }

 private:
  FreeVertexLaplacian system;  // freeVertices, columnOf and the m x m matrix L
};

}  // namespace meshcodec
