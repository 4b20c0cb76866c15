#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

#include "geometry/DataDependentLaplace.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

using DDL = DataDependentLaplace;
const Line e1(0, 1), e2(0, 2), e3(0, 3), x(5, 6);

// Three open edges never named: the first in out's order is solved for, the other two
// get -1 and the constant 1. Otherwise a never-named term beats any named one wherever
// each stands (a key whose set emptied included), and the fewest dependants win.
TEST(Selection, WhichTermIsSolvedFor) {
  struct Case {
    const char* name;
    std::vector<Line> open;
    std::vector<std::pair<Line, std::vector<Line>>> deps;  // term -> dependants
    Line expected;
  };
  SubstitutionRule::Terms order;
  for (const Line& l : {e1, e2, e3}) order[l] += 1.0;
  const Case cases[] = {
      {"three open", {e1, e2, e3}, {}, order.begin()->first},
      {"empty key before", {e1, e2}, {{e1, {}}}, e2},
      {"empty key after", {e2, e1}, {{e1, {}}}, e2},
      {"fewest", {e1, e2, e3}, {{e1, {x}}, {e2, {}}, {e3, {x, Line(7, 8)}}}, e2},
  };
  for (const Case& cs : cases) {
    DDL::DependencyMap deps;
    for (const auto& [term, dependants] : cs.deps) {
      deps[term];
      for (const Line& dep : dependants) DDL::updateDependence(deps, term, dep);
    }
    DDL::RuleMap known;
    SubstitutionRule out;
    EXPECT_EQ(DDL::mergeRulesAndSelectUnknown(deps, cs.open, known, out, -1.0), cs.expected)
        << cs.name;
    EXPECT_EQ(out.constant, 1.0) << cs.name;
    for (const auto& term : out.coefficients) EXPECT_EQ(term.second, -1.0) << cs.name;
  }
}

// A known rule enters with its terms and constant. DBL_EPSILON itself is not
// admissible, so only e2 can be solved for; a constraint whose terms cancel, or that
// has none, is solved for nothing.
TEST(Selection, KnownRulesMergeAndTinyTermsAreNotSolvedFor) {
  DDL::DependencyMap deps;
  DDL::RuleMap known;
  known[x].coefficients[e1] = DBL_EPSILON;
  known[x].coefficients[e2] = 0.5;
  known[x].constant = 0.25;
  SubstitutionRule out;
  EXPECT_EQ(DDL::mergeRulesAndSelectUnknown(deps, {}, known, out, -1.0), e2);
  EXPECT_EQ(out.coefficients.size(), 1u);
  EXPECT_EQ(out.coefficients[e1], DBL_EPSILON / -0.5);
  EXPECT_EQ(out.constant, 1.5);

  DDL::RuleMap cancelling, none;
  cancelling[x].coefficients[e1] = -1.0;
  EXPECT_FALSE(DDL::mergeRulesAndSelectUnknown(deps, {e1}, cancelling, out, -1.0));
  EXPECT_FALSE(DDL::mergeRulesAndSelectUnknown(deps, {}, none, out, -1.0));
}

// Terms strictly below DBL_EPSILON in magnitude (the zeros a substitution for an
// absent term leaves included) are dropped and unregistered; exactly DBL_EPSILON and
// NaN stay registered. A set that empties keeps its entry.
TEST(Selection, PruningAndRegistration) {
  const Line key(9, 10);
  const std::pair<double, bool> cases[] = {{DBL_EPSILON, true},
                                           {-DBL_EPSILON, true},
                                           {std::numeric_limits<double>::quiet_NaN(), true},
                                           {DBL_EPSILON / 2, false},
                                           {-DBL_EPSILON / 2, false},
                                           {0.0, false}};
  for (const auto& [coefficient, stays] : cases) {
    DDL::DependencyMap deps;
    DDL::updateDependence(deps, e1, key);
    SubstitutionRule r;
    r.coefficients[e1] = coefficient;
    DDL::updateAllDependences(deps, key, r);
    EXPECT_EQ(r.coefficients.contains(e1), stays) << coefficient;
    ASSERT_TRUE(deps.contains(e1)) << coefficient;
    EXPECT_EQ(deps[e1].contains(key), stays) << coefficient;
  }
}

TEST(Selection, VisitingOrder) {
  EXPECT_EQ(DDL::shuffledVertices(10), (std::vector<int>{5, 1, 0, 6, 7, 3, 9, 8, 4, 2}));
  EXPECT_EQ(DDL::shuffledVertices(1), std::vector<int>{0});
  EXPECT_TRUE(DDL::shuffledVertices(0).empty());
}

// The whole selection on the octahedron, term order included: it follows the visiting
// order (4 1 5 0 2 3) and the tables' iteration order, which the weight fit sums in.
TEST(Selection, OctahedronRules) {
  struct Expected {
    Line key;
    double constant;
    std::vector<std::pair<Line, double>> terms;
  };
  const Expected expected[] = {
      {{0, 2}, -0.0, {{{2, 5}, 1}, {{3, 5}, 1}, {{1, 5}, 1}, {{0, 3}, -1}, {{0, 4}, -1}}},
      {{0, 5}, 1, {{{2, 5}, -1}, {{3, 5}, -1}, {{1, 5}, -1}}},
      {{1, 4}, 0, {{{2, 5}, 1}, {{3, 5}, 1}, {{0, 4}, -1}}},
      {{1, 3}, 1, {{{0, 4}, 1}, {{3, 5}, -1}, {{2, 5}, -1}, {{1, 5}, -1}, {{1, 2}, -1}}},
      {{2, 4},
       1,
       {{{2, 5}, -2}, {{3, 5}, -1}, {{1, 5}, -1}, {{1, 2}, -1}, {{0, 3}, 1}, {{0, 4}, 1}}},
      {{3, 4}, 0, {{{2, 5}, 1}, {{1, 2}, 1}, {{0, 3}, -1}, {{0, 4}, -1}, {{1, 5}, 1}}},
  };
  NeighborTable neighbors(6);
  buildNeighborsTable(testing::octahedron().getTriangles(), neighbors);
  DDL::RuleMap rules;
  DDL::selectUnknowns(neighbors, rules);
  ASSERT_EQ(rules.size(), 6u);
  for (const Expected& e : expected) {
    ASSERT_TRUE(rules.contains(e.key)) << e.key.first << "-" << e.key.second;
    const SubstitutionRule& r = rules.find(e.key)->second;
    EXPECT_EQ(std::signbit(r.constant), std::signbit(e.constant));
    EXPECT_EQ(r.constant, e.constant);
    std::vector<std::pair<Line, double>> terms;
    for (const auto& term : r.coefficients) terms.emplace_back(term.first, term.second);
    EXPECT_EQ(terms, e.terms) << e.key.first << "-" << e.key.second;
  }
}

// Every vertex of a closed mesh yields a rule: n rules, E - n free edges, every term
// free, and for any free weights the weights at every vertex sum to 1.
TEST(Selection, EveryVertexConstraintHoldsOnClosedMeshes) {
  for (const testing::NamedMesh& named : testing::closedMeshZoo()) {
    SCOPED_TRACE(named.name);
    const int n = static_cast<int>(named.mesh.getVertices().rows());
    NeighborTable neighbors(static_cast<size_t>(n));
    const int entries = buildNeighborsTable(named.mesh.getTriangles(), neighbors);
    DDL::RuleMap rules;
    DDL::selectUnknowns(neighbors, rules);
    ASSERT_EQ(rules.size(), static_cast<size_t>(n));
    const DDL::FreeEdgeIndex freeEdges = DDL::numberFreeEdges(neighbors, rules);
    EXPECT_EQ(freeEdges.size(), static_cast<size_t>(entries / 2 - n));

    std::mt19937 rng(3);
    std::vector<double> free(freeEdges.size());
    for (double& w : free) w = std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
    const auto weight = [&](const Line& edge) {
      if (freeEdges.contains(edge)) return free[freeEdges.find(edge)->second];
      const SubstitutionRule& r = rules.find(edge)->second;
      double w = r.constant;
      for (const auto& term : r.coefficients) {
        const auto f = freeEdges.find(term.first);  // a term that is not free fails below
        w += term.second * (f == freeEdges.end() ? NAN : free[f->second]);
      }
      return w;
    };
    for (int i = 0; i < n; ++i) {
      double sum = 0.0, magnitude = 0.0;
      for (int j : neighbors[i]) {
        const double w = weight(Line(i, j, false));
        sum += w;
        magnitude += std::abs(w);
      }
      ASSERT_NEAR(sum, 1.0, 1e-9 * (1.0 + magnitude)) << "vertex " << i;
    }
  }
}

// A vertex without edges has nothing to solve for: it gets no rule, and no rule is
// stored under a key that is no edge.
TEST(Selection, VertexWithoutEdgesGetsNoRule) {
  NeighborTable neighbors(5);
  buildNeighborsTable(testing::tetrahedron().getTriangles(), neighbors);
  DDL::RuleMap rules;
  DDL::selectUnknowns(neighbors, rules);
  EXPECT_EQ(rules.size(), 4u);
  EXPECT_FALSE(rules.contains(Line(0, 0)));
}

}  // namespace
}  // namespace meshcodec
