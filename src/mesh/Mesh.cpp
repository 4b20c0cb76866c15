#include "mesh/Mesh.hpp"

#include <cmath>
#include <cstdint>
#include <string>
#include <unordered_set>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace {

// Minimal-standard linear congruential engine, seed 1: s = 48271 s mod (2^31 - 1).
class MinStdRand {
 public:
  uint32_t next() {
    state_ = static_cast<uint32_t>((uint64_t{48271} * state_) % 2147483647u);
    return state_;
  }

 private:
  uint32_t state_ = 1;
};

// One output minus the engine's minimum (1), redrawn until it lies below the
// largest multiple of 2^bits that fits the engine's 2147483646 values, so that the
// low bits are uniform.
uint32_t acceptedBits(MinStdRand& engine, int bits) {
  const uint32_t limit = (2147483646u >> bits) << bits;
  uint32_t u;
  do {
    u = engine.next() - 1;
  } while (u >= limit);
  return u & ((uint32_t{1} << bits) - 1);
}

// A uniform value in 0 .. n-1 (n >= 2), built from whole bit groups of accepted
// outputs and rejected when it is not below n.
uint32_t drawBelow(MinStdRand& engine, uint64_t n) {
  int w = 0;
  while ((uint64_t{1} << w) < n) ++w;
  for (;;) {
    uint64_t candidate;
    if (w <= 30) {
      candidate = acceptedBits(engine, w);
    } else {
      // The engine yields just under 31 bits, so 31-bit values take two outputs.
      const uint64_t high = acceptedBits(engine, 15);
      const uint64_t low = acceptedBits(engine, 16);
      candidate = (high << 16) + low;
    }
    if (candidate < n) return static_cast<uint32_t>(candidate);
  }
}

}  // namespace

AnchorList drawAnchors(long long vertexCount, int count) {
  if (count <= 0) return {};
  if (count > vertexCount) {
    throw Misuse("cannot draw " + std::to_string(count) + " distinct anchors from " +
                 std::to_string(vertexCount) + " vertices");
  }
  AnchorList anchors;
  anchors.reserve(static_cast<size_t>(count));
  std::unordered_set<int> drawn;
  MinStdRand engine;
  while (static_cast<int>(anchors.size()) < count) {
    const int value =
        vertexCount == 1 ? 0 : static_cast<int>(drawBelow(engine, static_cast<uint64_t>(vertexCount)));
    // A repeat is drawn again; the earlier entries stay.
    if (drawn.insert(value).second) anchors.push_back(value);
  }
  return anchors;
}

Mesh::Mesh(int vertexCount, int triangleCount)
    : triangles(static_cast<size_t>(triangleCount), {0u, 0u, 0u}),
      vertices(VertexMatrix::Zero(vertexCount, 3)) {}

void Mesh::setVertices(const Eigen::VectorXd& x, const Eigen::VectorXd& y,
                       const Eigen::VectorXd& z) {
  vertices.resize(x.size(), 3);
  vertices.col(0) = x;
  vertices.col(1) = y;
  vertices.col(2) = z;
}

float Mesh::avgEL() const {
  auto length = [this](unsigned a, unsigned b) {
    const double dx = vertices(b, 0) - vertices(a, 0);
    const double dy = vertices(b, 1) - vertices(a, 1);
    const double dz = vertices(b, 2) - vertices(a, 2);
    return std::sqrt((dx * dx + dy * dy) + dz * dz);
  };
  double sum = 0.0;
  for (const auto& t : triangles) {
    sum += length(t[0], t[1]);
    sum += length(t[1], t[2]);
    sum += length(t[2], t[0]);
  }
  const uint64_t sides = uint64_t{3} * triangles.size();
  return static_cast<float>(sum / static_cast<double>(sides));
}

void checkVertexOrder(const VertexOrder& perm, Eigen::Index vertexCount) {
  if (static_cast<Eigen::Index>(perm.size()) < vertexCount) {
    throw Misuse("vertex order has " + std::to_string(perm.size()) + " entries for " +
                 std::to_string(vertexCount) + " vertices");
  }
  for (int target : perm) {
    if (target < 0 || target >= vertexCount) {
      throw Misuse("vertex order entry " + std::to_string(target) + " out of range");
    }
  }
}

void renumberCorners(TriangleList& triangles, const VertexOrder& perm) {
  for (auto& t : triangles) {
    for (auto& corner : t) {
      if (corner >= perm.size()) {
        throw Misuse("corner " + std::to_string(corner) + " has no entry in the vertex order");
      }
      corner = static_cast<unsigned>(perm[corner]);
    }
  }
}

void Mesh::reindex(const VertexOrder& perm) {
  checkVertexOrder(perm, vertices.rows());
  const VertexMatrix copy = vertices;
  for (Eigen::Index i = 0; i < vertices.rows(); ++i) vertices.row(perm[i]) = copy.row(i);
  renumberCorners(triangles, perm);
}

AnchorList Mesh::computeAnchors3(int count) const { return drawAnchors(vertices.rows(), count); }

}  // namespace meshcodec
