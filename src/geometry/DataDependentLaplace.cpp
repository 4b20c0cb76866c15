#include "geometry/DataDependentLaplace.hpp"

#include <Eigen/SparseCholesky>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/AnchoredLaplacian.hpp"
#include "geometry/ColumnBlocks.hpp"
#include "geometry/CorrectedQuantization.hpp"
#include "geometry/Quantizer.hpp"

namespace meshcodec {

namespace {

using NormalSolver =
    Eigen::SimplicialLLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::AMDOrdering<int>>;

std::string edgeName(const Line& l) {
  return "(" + std::to_string(l.first) + ", " + std::to_string(l.second) + ")";
}

// Accumulates the lower triangle of the normal matrix keyed by (row, column) of free
// edges. Each entry receives one plain addition per vertex, in vertex order, so the
// sums do not depend on the table's layout; open addressing keeps one slot per entry
// where a node-based map would take several times that on large meshes.
class NormalEntries {
 public:
  void add(int row, int col, double value) {
    if (2 * (used + 1) > keys.size()) grow();
    const uint64_t key =
        (static_cast<uint64_t>(static_cast<uint32_t>(row)) << 32) | static_cast<uint32_t>(col);
    size_t slot = find(key);
    if (keys[slot] == kEmpty) {
      keys[slot] = key;
      values[slot] = 0.0;
      ++used;
    }
    values[slot] += value;
  }

  std::vector<Eigen::Triplet<double>> triplets() const {
    std::vector<Eigen::Triplet<double>> out;
    out.reserve(used);
    for (size_t s = 0; s < keys.size(); ++s) {
      if (keys[s] != kEmpty) {
        out.emplace_back(static_cast<int>(keys[s] >> 32), static_cast<int>(keys[s] & 0xffffffffu),
                         values[s]);
      }
    }
    return out;
  }

 private:
  static constexpr uint64_t kEmpty = ~uint64_t{0};

  size_t find(uint64_t key) const {
    const size_t mask = keys.size() - 1;
    uint64_t h = key * 0x9e3779b97f4a7c15ull;
    size_t slot = static_cast<size_t>(h ^ (h >> 29)) & mask;
    while (keys[slot] != kEmpty && keys[slot] != key) slot = (slot + 1) & mask;
    return slot;
  }

  void grow() {
    std::vector<uint64_t> oldKeys(keys.empty() ? 1024 : 2 * keys.size(), kEmpty);
    std::vector<double> oldValues(oldKeys.size());
    oldKeys.swap(keys);
    oldValues.swap(values);
    for (size_t s = 0; s < oldKeys.size(); ++s) {
      if (oldKeys[s] == kEmpty) continue;
      const size_t slot = find(oldKeys[s]);
      keys[slot] = oldKeys[s];
      values[slot] = oldValues[s];
    }
  }

  std::vector<uint64_t> keys;
  std::vector<double> values;
  size_t used = 0;
};

int numberOf(const DataDependentLaplace::FreeEdgeIndex& freeEdges, const Line& edge) {
  const auto found = freeEdges.find(edge);
  if (found == freeEdges.end()) {
    throw Misuse("data-dependent weights: rule term " + edgeName(edge) + " is not a free edge");
  }
  return found->second;
}

const SubstitutionRule& ruleOf(const DataDependentLaplace::RuleMap& rules, const Line& edge) {
  const auto found = rules.find(edge);
  if (found == rules.end()) {
    throw Misuse("data-dependent weights: edge " + edgeName(edge) +
                 " is neither free nor selected");
  }
  return found->second;
}

}  // namespace

void DataDependentLaplace::encode(const TriangleList& tris, Eigen::Ref<const RowMajorMatrix> data,
                                  const Eigen::MatrixXd& shape, std::iostream& s, float q, int n,
                                  const AnchorList& anchors) {
  if (data.rows() != n) {
    throw Misuse("data-dependent coder: data of " + std::to_string(data.rows()) + " rows for " +
                 std::to_string(n) + " vertices");
  }
  if (!data.allFinite()) throw OutOfDomain("data-dependent coder: the coded data is not finite");
  // The coder is built (and every input checked) before the anchor block is written,
  // so that a refused input leaves no partial sub-stream behind.
  const DataDependentLaplace coder(tris, shape, anchors, n);
  ArithCoder::encode(anchors, s, false);
  coder.encodeInternal(data, s, q);
}

DataDependentLaplace::DataDependentLaplace(const TriangleList& tris,
                                           Eigen::Ref<const RowMajorMatrix> shape,
                                           const AnchorList& anchors, int n) {
  if (n < 1 || shape.rows() != n) {
    throw Misuse("data-dependent coder: shape of " + std::to_string(shape.rows()) + " rows for " +
                 std::to_string(n) + " vertices");
  }
  // The first anchor is the vertex held at zero: without one, the Laplacian of weights
  // that sum to 1 at every vertex is singular.
  if (anchors.empty()) throw Misuse("data-dependent coder: the anchor list is empty");
  checkAnchorList(anchors, n, CodingSide::Encoder);
  if (!shape.allFinite())
    throw OutOfDomain("data-dependent coder: the reference shape is not finite");

  NeighborTable neighbors(static_cast<size_t>(n));
  buildNeighborsTable(tris, neighbors);
  RuleMap rules;
  selectUnknowns(neighbors, rules);
  const RowMajorMatrix P = shape;
  calculateWeights(neighbors, rules, P, anchors);
}

void DataDependentLaplace::calculateWeights(const NeighborTable& neighbors, const RuleMap& rules,
                                            const RowMajorMatrix& shape,
                                            const AnchorList& anchors) {
  const int n = static_cast<int>(neighbors.size());
  if (anchors.empty()) throw Misuse("data-dependent coder: the anchor list is empty");
  checkAnchorList(anchors, n, CodingSide::Encoder);
  anchor = anchors[0];
  vertexCount = n;
  const NeighborWeights weights = fitEdgeWeights(neighbors, rules, shape);

  size_t entries = 0;
  for (const auto& list : neighbors) entries += list.size() + 1;
  std::vector<Eigen::Triplet<double>> triplets;
  triplets.reserve(entries);
  for (int i = 0; i < n; ++i) {
    if (i == anchor) continue;
    triplets.emplace_back(rowOf(i), rowOf(i), 1.0);
    for (size_t k = 0; k < neighbors[i].size(); ++k) {
      const int j = neighbors[i][k];
      // The anchor is held at zero: its edges enter no row.
      if (j != anchor) triplets.emplace_back(rowOf(i), rowOf(j), -weights[i][k]);
    }
  }
  L.resize(n - 1, n - 1);
  L.setFromTriplets(triplets.begin(), triplets.end());
  if (L.rows() == 0) return;
  factor.compute(L);
  if (factor.info() != Eigen::Success) {
    throw OutOfDomain("data-dependent coder: the Laplacian of the fitted weights over " +
                      std::to_string(L.rows()) + " vertices is not positive definite");
  }
}

DataDependentLaplace::FreeEdgeIndex DataDependentLaplace::numberFreeEdges(
    const NeighborTable& neighbors, const RuleMap& rules) {
  FreeEdgeIndex freeEdges;
  int count = 0;
  for (size_t i = 0; i < neighbors.size(); ++i) {
    for (const int j : neighbors[i]) {
      const Line edge(static_cast<int>(i), j, false);
      if (rules.contains(edge)) continue;
      const auto inserted = freeEdges.tryEmplace(edge);
      if (inserted.second) inserted.first->second = count++;
    }
  }
  return freeEdges;
}

void DataDependentLaplace::residualOf(int i, const NeighborTable& neighbors, const RuleMap& rules,
                                      const FreeEdgeIndex& freeEdges,
                                      std::vector<CoefficientComposition>& base,
                                      CompositionMap& comps) {
  base.clear();
  comps.clear();
  base.emplace_back(i, 1.0);
  for (const int j : neighbors[i]) {
    const Line edge(i, j, false);
    const auto free = freeEdges.find(edge);
    if (free != freeEdges.end()) {
      addComposition(comps, free->second, CoefficientComposition(j, 1.0));
      continue;
    }
    // Walked on a copy: its order is the one the sums below are taken in.
    const SubstitutionRule rule = ruleOf(rules, edge);
    for (const auto& term : rule.coefficients) {
      addComposition(comps, numberOf(freeEdges, term.first),
                     CoefficientComposition(j, term.second));
    }
    base.emplace_back(j, -rule.constant);
  }
}

void DataDependentLaplace::addComposition(CompositionMap& comps, int key,
                                          const CoefficientComposition& item) {
  comps[key].push_back(item);
}

double DataDependentLaplace::computeComposition(const std::vector<CoefficientComposition>& list,
                                                int column, const RowMajorMatrix& P) {
  double sum = 0.0;
  for (const CoefficientComposition& c : list)
    sum = std::fma(c.coefficient, P(c.index, column), sum);
  return sum;
}

DataDependentLaplace::NeighborWeights DataDependentLaplace::fitEdgeWeights(
    const NeighborTable& neighbors, const RuleMap& rules, const RowMajorMatrix& shape) {
  const int n = static_cast<int>(neighbors.size());
  if (shape.rows() != n) {
    throw Misuse("data-dependent weights: shape of " + std::to_string(shape.rows()) + " rows for " +
                 std::to_string(n) + " vertices");
  }
  const FreeEdgeIndex freeEdges = numberFreeEdges(neighbors, rules);
  const auto freeCount = static_cast<Eigen::Index>(freeEdges.size());
  const Eigen::Index c = shape.cols();

  // Normal equations of min sum_i |r_i|^2 over the free weights, vertex by vertex.
  // Only the lower triangle is kept: the factorization reads nothing else.
  Eigen::VectorXd b = Eigen::VectorXd::Zero(freeCount);
  NormalEntries normal;
  std::vector<CoefficientComposition> base;
  CompositionMap comps;
  std::vector<double> baseValue(static_cast<size_t>(c));
  std::vector<int> keys;
  std::vector<double> a;
  for (int i = 0; i < n; ++i) {
    residualOf(i, neighbors, rules, freeEdges, base, comps);
    for (Eigen::Index k = 0; k < c; ++k)
      baseValue[k] = computeComposition(base, static_cast<int>(k), shape);
    keys.clear();
    a.clear();
    for (const auto& comp : comps) {
      keys.push_back(comp.first);
      for (Eigen::Index k = 0; k < c; ++k)
        a.push_back(computeComposition(comp.second, static_cast<int>(k), shape));
    }
    for (size_t f = 0; f < keys.size(); ++f) {
      const double* af = a.data() + f * c;
      for (size_t g = 0; g < keys.size(); ++g) {
        if (keys[g] > keys[f]) continue;
        const double* ag = a.data() + g * c;
        double dot = 0.0;
        for (Eigen::Index k = 0; k < c; ++k) dot = std::fma(af[k], ag[k], dot);
        normal.add(keys[f], keys[g], dot);
      }
      double dot = 0.0;
      for (Eigen::Index k = 0; k < c; ++k) dot = std::fma(af[k], baseValue[k], dot);
      b(keys[f]) += dot;
    }
  }

  Eigen::VectorXd x(freeCount);
  if (freeCount > 0) {
    Eigen::SparseMatrix<double> N(freeCount, freeCount);
    const auto triplets = normal.triplets();
    N.setFromTriplets(triplets.begin(), triplets.end());
    NormalSolver solver(N);
    if (solver.info() != Eigen::Success) {
      throw OutOfDomain(
          "data-dependent weights: the least-squares fit of " + std::to_string(freeCount) +
          " free edge weights is singular (the reference shape does not determine them)");
    }
    x = solver.solve(b);
  }

  NeighborWeights weights(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    weights[i].reserve(neighbors[i].size());
    for (const int j : neighbors[i]) {
      const Line edge(i, j, false);
      const auto free = freeEdges.find(edge);
      double w;
      if (free != freeEdges.end()) {
        w = x(free->second);
      } else {
        const SubstitutionRule rule = ruleOf(rules, edge);
        w = rule.constant;
        for (const auto& term : rule.coefficients)
          w = std::fma(term.second, x(numberOf(freeEdges, term.first)), w);
      }
      if (!std::isfinite(w)) {
        throw OutOfDomain("data-dependent weights: the fitted weight of edge " + edgeName(edge) +
                          " is not finite");
      }
      weights[i].push_back(w);
    }
  }
  return weights;
}

void DataDependentLaplace::encodeInternal(Eigen::Ref<const RowMajorMatrix> data, std::iostream& s,
                                          float q) const {
  const Eigen::MatrixXd X = data;
  writeColumnBlocks(getCorrections(X, q), s);
}

std::vector<std::vector<int>> DataDependentLaplace::getCorrections(
    Eigen::Ref<const Eigen::MatrixXd> X, float q) const {
  if (X.rows() != vertexCount) {
    throw Misuse("data-dependent coder: data of " + std::to_string(X.rows()) + " rows for " +
                 std::to_string(vertexCount) + " vertices");
  }
  if (!X.allFinite()) throw OutOfDomain("data-dependent coder: the coded data is not finite");
  const Eigen::Index m = L.rows();
  const Eigen::Index cols = X.cols();
  // The rows of L's vertices, the held anchor left out. Data of no columns (an
  // animation of no basis) has nothing to code and no rows to take.
  Eigen::MatrixXd Xb(m, cols);
  for (int v = 0; v < vertexCount && cols > 0; ++v) {
    if (v != anchor) Xb.row(rowOf(v)) = X.row(v);
  }

  std::vector<std::vector<int>> result(static_cast<size_t>(cols));
  std::vector<std::vector<int>> plain(static_cast<size_t>(cols),
                                      std::vector<int>(static_cast<size_t>(m)));
  double correctedError = 0.0;
  double plainError = 0.0;
  if (m > 0 && cols > 0) {
    // P L P^T = Lf Lf^T; row i of Lf Y is row i of P L Xb. Every pivot of a positive
    // definite factor is positive, so every row is corrected.
    const RowMajorSparse Lf = factor.matrixL();
    Eigen::MatrixXd Y = factor.matrixU() * (factor.permutationP() * Xb);
    Eigen::MatrixXd Q;
    correctedQuantization(
        Lf, q, [q](int k) { return dequantize(k, q); }, acceptEveryPivot, Y, result, Q);
    correctedError = (Xb - factor.solve(factor.permutationPinv() * Q)).squaredNorm();

    // The same data quantized row by row without correction, for comparison.
    Eigen::MatrixXd Z = L * Xb;
    for (Eigen::Index i = 0; i < m; ++i) {
      for (Eigen::Index col = 0; col < cols; ++col) {
        const int k = quantize(Z(i, col), q);
        plain[col][i] = k;
        Z(i, col) = dequantize(k, q);
      }
    }
    plainError = (Xb - factor.solve(Z)).squaredNorm();
  }

  // Default stream formatting (six significant digits), whatever std::cout was set to.
  std::ostringstream line;
  line << correctedError << "\t" << plainError << "\t" << entropySum(result) << "\t"
       << entropySum(plain);
  std::cout << line.str() << std::endl;
  return result;
}

double DataDependentLaplace::entropySum(const std::vector<std::vector<int>>& vectors) {
  double total = 0.0;
  for (const std::vector<int>& values : vectors) {
    std::map<int, int64_t> counts;
    for (const int v : values) ++counts[v];
    const auto size = static_cast<double>(values.size());
    double entropy = 0.0;
    for (const auto& [value, count] : counts) {
      const double p = static_cast<double>(count) / size;
      entropy = std::fma(-p, std::log(p), entropy);
    }
    total += entropy;
  }
  return total;
}

}  // namespace meshcodec
