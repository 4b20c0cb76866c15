#include "geometry/CotangentWeights.hpp"

#include <climits>
#include <cmath>
#include <string>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace {

struct Direction {
  double x, y, z;
};

// The unit vector from start to end. The squared length adds the z term last: x*x is
// fused with the product y*y, then z*z fused on top; the weights depend on it.
Direction unitVector(const ShapeRef& shape, int start, int end) {
  const double dx = shape(end, 0) - shape(start, 0);
  const double dy = shape(end, 1) - shape(start, 1);
  const double dz = shape(end, 2) - shape(start, 2);
  const double squared = std::fma(dz, dz, std::fma(dx, dx, dy * dy));
  const double r = 1.0 / std::sqrt(squared);
  return {dx * r, dy * r, dz * r};
}

// Fused in the same order as the squared length.
double dot(const Direction& u, const Direction& v) {
  return std::fma(u.z, v.z, std::fma(u.x, v.x, u.y * v.y));
}

}  // namespace

void buildNeighborTriangleTable(const TriangleList& tris, TriangleFanTable& fans) {
  if (tris.size() > static_cast<size_t>(INT_MAX)) {
    throw Misuse("cotangent weights: " + std::to_string(tris.size()) + " triangles");
  }
  const size_t n = fans.size();
  for (size_t t = 0; t < tris.size(); ++t) {
    for (unsigned corner : tris[t]) {
      if (corner >= n) {
        throw CorruptStream("triangle corner " + std::to_string(corner) + " is not one of the " +
                            std::to_string(n) + " vertices");
      }
      fans[corner].push_back(static_cast<int>(t));
    }
  }
}

void requireFinite(const Eigen::Ref<const Eigen::MatrixXd>& m, const std::string& what) {
  if (m.allFinite()) return;
  for (Eigen::Index c = 0; c < m.cols(); ++c) {
    for (Eigen::Index r = 0; r < m.rows(); ++r) {
      if (!std::isfinite(m(r, c))) {
        throw OutOfDomain(what + ": row " + std::to_string(r) + ", column " + std::to_string(c) +
                          " is not a finite number");
      }
    }
  }
}

int neighbourIndex(const std::vector<int>& list, int v) {
  for (size_t k = 0; k < list.size(); ++k) {
    if (list[k] == v) return static_cast<int>(k);
  }
  return -1;
}

CotangentWeights::CotangentWeights(const TriangleList& tris, const NeighborTable& neighbors,
                                   CodingSide side)
    : tris(tris),
      neighbors(neighbors),
      side(side),
      fans(neighbors.size()),
      slot(neighbors.size(), -1) {
  buildNeighborTriangleTable(tris, fans);
}

void CotangentWeights::compute(const ShapeRef& shape, int i, std::vector<double>& weights,
                               double& diagonal) {
  if (shape.rows() != static_cast<Eigen::Index>(neighbors.size()) || shape.cols() != 3) {
    throw Misuse("cotangent weights: a shape of " + std::to_string(shape.rows()) + " x " +
                 std::to_string(shape.cols()) + " for " + std::to_string(neighbors.size()) +
                 " vertices");
  }
  const std::vector<int>& list = neighbors[i];
  for (size_t k = list.size(); k-- > 0;) slot[list[k]] = static_cast<int>(k);

  weights.assign(list.size(), 0.0);
  diagonal = 0.0;
  for (int t : fans[i]) {
    const auto& corners = tris[t];
    // The corner of i is looked up, so a rotated triangle gives the same a and b.
    const unsigned self = static_cast<unsigned>(i);
    const int c = corners[1] == self ? 1 : corners[2] == self ? 2 : 0;
    const int a = static_cast<int>(corners[(c + 1) % 3]);
    const int b = static_cast<int>(corners[(c + 2) % 3]);
    const int slotA = slot[a];
    const int slotB = slot[b];
    if (slotA < 0 || slotB < 0) {
      refuse(i, "edge to vertex " + std::to_string(slotA < 0 ? a : b) + " of triangle " +
                    std::to_string(t) +
                    " is not in the neighbour table (a border or inconsistently oriented edge)");
    }
    const Direction e1 = unitVector(shape, a, b);
    const Direction e2 = unitVector(shape, a, i);
    const Direction e3 = unitVector(shape, i, b);
    // alpha at corner a lies opposite edge i-b, beta at corner b opposite edge i-a. The
    // cosines are not clamped: one that rounding pushes past 1 is refused below.
    const double cotAlpha = 1.0 / std::tan(std::acos(dot(e1, e2)));
    const double cotBeta = 1.0 / std::tan(std::acos(dot(e1, e3)));
    if (!std::isfinite(cotAlpha) || !std::isfinite(cotBeta)) {
      refuse(i, "triangle " + std::to_string(t) + " is degenerate (its cotangents are not finite)");
    }
    weights[slotB] += cotAlpha;
    weights[slotA] += cotBeta;
    diagonal -= cotAlpha;
    diagonal -= cotBeta;
  }
  for (int v : list) slot[v] = -1;
}

void CotangentWeights::refuse(int i, const std::string& reason) {
  for (int v : neighbors[i]) slot[v] = -1;
  const std::string where = "cotangent weights: vertex " + std::to_string(i) + ": " + reason;
  if (side == CodingSide::Decoder) throw CorruptStream(where + " in the decoded reference shape");
  throw OutOfDomain(where + " in the reference mesh");
}

}  // namespace meshcodec
