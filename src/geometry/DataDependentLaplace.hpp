#pragma once
// Geometry coder of animated method 6, encoder only: codes the per-vertex coefficient
// matrix through a Laplacian whose edge weights are fitted to a reference shape. Every
// undirected edge gets one weight, the weights at every vertex sum to 1, and the free
// weights left by that constraint are chosen by least squares so that each shape
// vertex is reproduced from its neighbours. The coefficients are then sent by
// corrected quantization along the LLT factor of that Laplacian, with the first
// anchor held at zero, and one line of diagnostics goes to standard output.
//
// Sub-stream: the anchor id block, then one block of n - 1 indices per data column in
// factor order. Neither the shape nor the weights are sent: nothing decodes it.

#include <Eigen/Core>
#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
#include <iosfwd>
#include <optional>
#include <unordered_map>
#include <vector>

#include "geometry/ChainedHashMap.hpp"
#include "geometry/CoefficientComposition.hpp"
#include "geometry/Line.hpp"
#include "geometry/NeighborTable.hpp"
#include "geometry/SubstitutionRule.hpp"
#include "mesh/MeshTypes.hpp"

namespace meshcodec {

class DataDependentLaplace {
 public:
  using RowMajorMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  // Selected edge -> its weight through free edges.
  using RuleMap = ChainedHashMap<Line, SubstitutionRule>;
  // Free edge -> the selected edges whose rule names it.
  using DependencyMap = ChainedHashMap<Line, ChainedHashSet<Line>>;
  // Free edge -> its number, the row of the fit's normal equations.
  using FreeEdgeIndex = ChainedHashMap<Line, int>;
  // Free-edge number -> the shape vertices (with factors) its weight multiplies in
  // one vertex's residual.
  using CompositionMap = std::unordered_map<int, std::vector<CoefficientComposition>>;
  // One weight per entry of the neighbour table: weights[i][k] for neighbors[i][k].
  using NeighborWeights = std::vector<std::vector<double>>;

  // Appends the sub-stream for data (n x cols) and prints the diagnostics line.
  // shape: n x 3, the reference positions the weights are fitted to. Every check is
  // made before anything is written: Misuse for an empty or bad anchor list or
  // matrices without n rows, OutOfDomain for non-finite input, a singular fit or a
  // fitted Laplacian that is not positive definite.
  static void encode(const TriangleList& tris, Eigen::Ref<const RowMajorMatrix> data,
                     const Eigen::MatrixXd& shape, std::iostream& s, float q, int n,
                     const AnchorList& anchors);

  // Selects the unknowns, fits the weights to shape (n rows) and builds L.
  DataDependentLaplace(const TriangleList& tris, Eigen::Ref<const RowMajorMatrix> shape,
                       const AnchorList& anchors, int n);

  // Writes one block per data column of getCorrections.
  void encodeInternal(Eigen::Ref<const RowMajorMatrix> data, std::iostream& s, float q) const;
  // X: n x cols. Returns cols vectors of n - 1 indices in factor order and prints
  // "err1\terr2\te1\te2": the squared reconstruction error of these indices and of
  // plainly quantized Laplacian rows, and the empirical entropies (nats) of both.
  std::vector<std::vector<int>> getCorrections(Eigen::Ref<const Eigen::MatrixXd> X, float q) const;

  // (n - 1) x (n - 1): 1 on the diagonal, minus the fitted weight off it; the first
  // anchor's row and column are left out and the vertices after it move up by one.
  const Eigen::SparseMatrix<double>& getL() const { return L; }
  int rowOf(int vertex) const { return vertex < anchor ? vertex : vertex - 1; }

  // --- Weight fit ---

  // Fits the weights, sets L from them and factors it: OutOfDomain when L is not
  // positive definite, which weights that are fitted rather than positive allow.
  void calculateWeights(const NeighborTable& neighbors, const RuleMap& rules,
                        const RowMajorMatrix& shape, const AnchorList& anchors);
  // The least-squares weights of every neighbour entry. shape: one row per vertex.
  // OutOfDomain when the normal equations cannot be factored or a weight is not finite.
  static NeighborWeights fitEdgeWeights(const NeighborTable& neighbors, const RuleMap& rules,
                                        const RowMajorMatrix& shape);
  // Free edges numbered in the order the neighbour table first meets them.
  static FreeEdgeIndex numberFreeEdges(const NeighborTable& neighbors, const RuleMap& rules);
  // Vertex i's residual P_i - sum_j w_ij P_j as base - sum_f w_f * comps[f].
  static void residualOf(int i, const NeighborTable& neighbors, const RuleMap& rules,
                         const FreeEdgeIndex& freeEdges, std::vector<CoefficientComposition>& base,
                         CompositionMap& comps);
  static void addComposition(CompositionMap& comps, int key, const CoefficientComposition& item);
  // Sum of coefficient * P(index, column), one fused multiply-add per term.
  static double computeComposition(const std::vector<CoefficientComposition>& list, int column,
                                   const RowMajorMatrix& P);
  // Sum over the vectors of their empirical entropies in nats.
  static double entropySum(const std::vector<std::vector<int>>& vectors);

  static int buildNeighborsTable(const TriangleList& tris, NeighborTable& table) {
    return meshcodec::buildNeighborsTable(tris, table);
  }

  // --- Selection of the unknowns ---

  // 0 .. n-1 shuffled by a 32-bit Mersenne Twister seeded 0, drawn by hand so that
  // every standard library gives the same order.
  static std::vector<int> shuffledVertices(int n);
  // Fills rules (empty on entry): one rule per vertex, keyed by the edge solved for at
  // it, so that the weights at every such vertex sum to 1; every term of every rule is
  // a free edge. A vertex whose constraint has no term to solve for gets no rule.
  static void selectUnknowns(const NeighborTable& neighbors, RuleMap& rules);
  // Builds into out the constraint sum(open) + sum(known rules) + constant = 0 and
  // solves it for one term: the first never-named term in out's order, else the one
  // with fewest dependants. Returns that edge (out then expresses it), or nothing when
  // no coefficient exceeds DBL_EPSILON in magnitude (out is then left unsolved).
  static std::optional<Line> mergeRulesAndSelectUnknown(DependencyMap& deps,
                                                        const std::vector<Line>& open,
                                                        RuleMap& known, SubstitutionRule& out,
                                                        double constant);
  // Drops rule's terms below DBL_EPSILON in magnitude and registers key as a dependant
  // of every term that stays.
  static void updateAllDependences(DependencyMap& deps, const Line& key, SubstitutionRule& rule);
  static void updateDependence(DependencyMap& deps, const Line& term, const Line& key);
  static void removeDependence(DependencyMap& deps, const Line& term, const Line& key);

 private:
  using LltSolver =
      Eigen::SimplicialLLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::AMDOrdering<int>>;

  Eigen::SparseMatrix<double> L;
  LltSolver factor;  // of L, made once the weights are fitted, before anything is written
  int anchor = 0;
  int vertexCount = 0;
};

}  // namespace meshcodec
