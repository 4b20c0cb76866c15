#pragma once
// Codes the connectivity of a closed triangle mesh. The compressor walks the corner
// table from corner 0, emits one CLERS symbol per triangle after the first plus a
// list of handle pairs, writes them as two arithmetic blocks and returns the order in
// which the walk first reached each vertex; the pipelines renumber the mesh by it
// before coding geometry. The decompressor rebuilds the triangles, in walk order and
// in that numbering, from the two blocks.
//
// The walk branches at every S symbol and the decoder's zip follows fans around
// vertices; both run on explicit stacks and loops, so depth never grows with the mesh.

#include <iosfwd>
#include <utility>
#include <vector>

#include "connectivity/CornerTable.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class EdgeBreaker {
 public:
  // Decoder: empty lists and an empty table.
  EdgeBreaker() = default;
  // Encoder on a copy (or, moved in, on the table itself) of the mesh's corner table.
  explicit EdgeBreaker(const CornerTable& ct) : table(ct) {}
  explicit EdgeBreaker(CornerTable&& ct) : table(std::move(ct)) {}

  // Encoder. Checks the mesh (checkMeshDomain, OutOfDomain) and walks from corner c,
  // filling clers, handles and M. Every caller passes 0.
  void compress(int c);
  // Appends the sub-stream: the symbol block, then the handle block.
  void encode(std::iostream& s);
  // The pipelines' encoder: checks, walks and writes tris; returns the new index of
  // every input vertex (vmax() + 1 entries).
  static VertexOrder encode(const TriangleList& tris, std::iostream& s);

  // Decoder. Rebuilds the triangles from the lists; a pair of lists that no encoder
  // could have written throws CorruptStream, before any read outside the tables.
  CornerTable decompress(const std::vector<int>& clers, const std::vector<int>& handles);
  // The pipelines' decoder: reads both blocks at the stream's position and returns
  // the triangles. A positive triangleCount, from the caller's header, fixes the
  // symbol count and bounds the handle list, which are checked before the blocks'
  // code bytes are read; 0 or less checks neither.
  static TriangleList decode(int triangleCount, std::iostream& s);

  const std::vector<int>& getClers() const { return clers; }
  const std::vector<int>& getHandles() const { return handles; }
  const VertexOrder& getOrder() const { return M; }

 private:
  // decompress without the copy of the result: fills table.
  void rebuild(std::vector<int> clersIn, std::vector<int> handlesIn);
  // The walk from corner c, branching at S.
  void compressR(int c);
  // Attaches triangles from gate corner c until the walk's symbols end.
  void decompressR(int c);
  // Glues corner c to its handle partner when c is the next pair's second corner,
  // then zips around both; false when c is not.
  bool checkHandle(int c);
  // Glues the waiting edge opposite c to the free edge met by turning around their
  // shared vertex, gives every corner passed that vertex's index, and goes on with the
  // next edge around while it waits to be zipped too.
  void zip(int c);
  // Counts one step of a fan walk against the walk's own bound and the rebuild's.
  void stepAlongFan(long long& walkSteps, int corner);
  // Throws CorruptStream unless the lists can be walked without leaving the tables.
  void checkLists() const;
  // Throws CorruptStream unless the walk used every symbol and pair and left a
  // closed mesh with a vertex on every corner.
  void checkResult() const;

  // Encoder: new index of each input vertex. Decoder: vertex of each corner.
  std::vector<int> M;
  std::vector<int> clers;
  std::vector<int> handles;
  std::vector<bool> visited;  // encoder: reached vertices
  // Encoder: per triangle 0 not reached, 1 reached, 3T + 2 for the S triangle T.
  std::vector<int> U;
  int T = 0;        // last triangle entered (encoder) or created (decoder)
  int N = 0;        // decoder: highest vertex index created
  int counter = 0;  // encoder: next new vertex index; decoder: next handle pair
  long long fanSteps = 0;  // decoder: fan-walk steps left for this rebuild
  CornerTable table;
};

}  // namespace meshcodec
