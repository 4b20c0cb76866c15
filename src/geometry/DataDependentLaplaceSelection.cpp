// The selection of the data-dependent coder: turns the sum-to-one constraint of every
// vertex into a rule that solves it for one edge weight, so that the weight fit has
// only free weights left. A dependency map lets each selection rewrite only the rules
// that name the selected edge.

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>

#include "geometry/DataDependentLaplace.hpp"

namespace meshcodec {

namespace {

// A uniform draw from [0, d]: the low w bits of successive engine outputs, w the bit
// length of d, until one is <= d. This is the draw of LLVM's standard library, which
// the visiting order (and so the stream) is defined by; other libraries draw otherwise.
uint32_t drawUpTo(std::mt19937& engine, uint32_t d) {
  if (d == 0) return 0;
  int w = 0;
  while (w < 32 && (d >> w) != 0) ++w;
  const uint32_t mask = w == 32 ? 0xffffffffu : (uint32_t{1} << w) - 1;
  uint32_t u;
  do {
    u = static_cast<uint32_t>(engine()) & mask;
  } while (u > d);
  return u;
}

bool admissible(double coefficient) { return std::abs(coefficient) > DBL_EPSILON; }

}  // namespace

std::vector<int> DataDependentLaplace::shuffledVertices(int n) {
  std::vector<int> order(static_cast<size_t>(std::max(n, 0)));
  std::iota(order.begin(), order.end(), 0);
  std::mt19937 engine(0);
  for (int i = 0; i + 1 < n; ++i) {
    const uint32_t j = drawUpTo(engine, static_cast<uint32_t>(n - 1 - i));
    if (j != 0) std::swap(order[i], order[i + j]);
  }
  return order;
}

void DataDependentLaplace::updateDependence(DependencyMap& deps, const Line& term,
                                            const Line& key) {
  deps[term].tryEmplace(key);
}

void DataDependentLaplace::removeDependence(DependencyMap& deps, const Line& term,
                                            const Line& key) {
  const auto entry = deps.find(term);
  // The entry stays even when its set empties: it still marks the edge as once named.
  if (entry != deps.end()) entry->second.erase(key);
}

void DataDependentLaplace::updateAllDependences(DependencyMap& deps, const Line& key,
                                                SubstitutionRule& rule) {
  std::vector<Line> terms;
  terms.reserve(rule.coefficients.size());
  for (const auto& term : rule.coefficients) terms.push_back(term.first);
  for (const Line& term : terms) {
    // Exactly DBL_EPSILON stays (and is not selectable either); NaN stays too.
    if (std::abs(rule.coefficients[term]) < DBL_EPSILON) {
      removeDependence(deps, term, key);
      rule.coefficients.erase(term);
    } else {
      updateDependence(deps, term, key);
    }
  }
}

std::optional<Line> DataDependentLaplace::mergeRulesAndSelectUnknown(DependencyMap& deps,
                                                                     const std::vector<Line>& open,
                                                                     RuleMap& known,
                                                                     SubstitutionRule& out,
                                                                     double constant) {
  out.constant = constant;
  out.coefficients.clear();
  for (const auto& rule : known) {
    out.coefficients[rule.first] = 1.0;
    out.substitute(rule.first, rule.second);
  }
  for (const Line& edge : open) out.coefficients[edge] += 1.0;

  // A term no rule has ever named ends the scan; among named ones the fewest
  // dependants win, the first in order among equals.
  std::optional<Line> selected;
  double pivot = 0.0;
  int64_t best = INT_MAX;
  for (const auto& term : out.coefficients) {
    const auto dependants = deps.find(term.first);
    if (dependants != deps.end()) {
      const auto size = static_cast<int64_t>(dependants->second.size());
      if (size < best && admissible(term.second)) {
        selected = term.first;
        pivot = term.second;
        best = size;
      }
    } else if (admissible(term.second)) {
      selected = term.first;
      pivot = term.second;
      break;
    }
  }
  if (!selected) return std::nullopt;

  out.coefficients.erase(*selected);
  const double divisor = -pivot;
  for (auto& term : out.coefficients) term.second = term.second / divisor;
  out.constant = out.constant / divisor;
  return selected;
}

void DataDependentLaplace::selectUnknowns(const NeighborTable& neighbors, RuleMap& rules) {
  const int n = static_cast<int>(neighbors.size());
  DependencyMap deps;
  for (const int v : shuffledVertices(n)) {
    RuleMap known;
    std::vector<Line> open;
    for (const int u : neighbors[v]) {
      const Line edge(v, u, false);
      const auto rule = rules.find(edge);
      if (rule != rules.end())
        known.insert(edge, rule->second);
      else
        open.push_back(edge);
    }
    SubstitutionRule vertexRule;
    // -1 makes the constraint read: the weights of the edges at v sum to 1.
    const std::optional<Line> selected =
        mergeRulesAndSelectUnknown(deps, open, known, vertexRule, -1.0);
    // Nothing to solve for (no edges, or every coefficient cancelled): the vertex keeps
    // no constraint rather than a rule of infinities under a key that is no edge.
    if (!selected) continue;

    updateAllDependences(deps, *selected, vertexRule);
    rules[*selected] = vertexRule;
    const auto entry = deps.find(*selected);
    if (entry == deps.end()) continue;
    // No rule may keep the selected edge as a term: rewrite every dependant.
    const ChainedHashSet<Line> dependants = entry->second;
    for (const auto& dependant : dependants) {
      SubstitutionRule& rule = rules[dependant.first];
      rule.substitute(*selected, vertexRule);
      updateAllDependences(deps, dependant.first, rule);
    }
    deps.erase(*selected);
  }
}

}  // namespace meshcodec
