#include "geometry/ErrorDiffusion.hpp"

#include <cmath>
#include <string>

#include "common/CodecError.hpp"
#include "geometry/Quantizer.hpp"

namespace meshcodec {

namespace {

void checkShapes(const DiffusionMatrix& D, const std::vector<int>& order,
                 const NeighborTable& neighbors) {
  const size_t n = neighbors.size();
  if (order.size() != n || static_cast<size_t>(D.rows()) < n) {
    throw Misuse("error diffusion: " + std::to_string(D.rows()) + " rows and an order of " +
                 std::to_string(order.size()) + " for " + std::to_string(n) + " vertices");
  }
  std::vector<char> seen(n, 0);
  for (int v : order) {
    if (v < 0 || static_cast<size_t>(v) >= n || seen[v]) {
      throw Misuse("error diffusion: the order is not a permutation of the " + std::to_string(n) +
                   " vertices (entry " + std::to_string(v) + ")");
    }
    seen[v] = 1;
  }
  for (size_t v = 0; v < n; ++v) {
    for (int u : neighbors[v]) {
      if (u < 0 || static_cast<size_t>(u) >= n) {
        throw Misuse("error diffusion: vertex " + std::to_string(v) + " lists neighbour " +
                     std::to_string(u) + " outside the " + std::to_string(n) + " vertices");
      }
    }
  }
}

}  // namespace

void quantizeWithErrorDiffusion(DiffusionMatrix& D, const std::vector<int>& order,
                                const NeighborTable& neighbors, float q,
                                std::vector<std::vector<int>>& indices) {
  checkShapes(D, order, neighbors);
  const Eigen::Index rows = D.rows();
  const Eigen::Index cols = D.cols();
  const size_t n = order.size();
  indices.assign(static_cast<size_t>(cols), std::vector<int>(static_cast<size_t>(rows), 0));

  std::vector<int> uncoded(n, 1);
  for (size_t p = 0; p + 1 < n; ++p) {
    const int v = order[p];
    const int next = order[p + 1];
    const std::vector<int>& list = neighbors[v];
    for (Eigen::Index c = 0; c < cols; ++c) {
      // The error is taken from the value as already raised by earlier vertices.
      const double x = D(v, c);
      const int k = quantize(x, q);
      indices[c][v] = k;
      const double e = (x - dequantize(k, q)) * 0.5;
      int cnt = 0;
      for (int u : list) cnt += uncoded[u];
      // The next vertex of the order gets its half even when a new walk starts
      // there, and before the shares below.
      D(next, c) += e;
      if (cnt != 0) {
        const double share = e / cnt;
        // One fused multiply-add per entry, as the format defines the update: factor
        // 1 adds the share to an uncoded neighbour, factor 0 leaves a coded one.
        for (int u : list) D(u, c) = std::fma(static_cast<double>(uncoded[u]), share, D(u, c));
      }
      // Inside the column loop: only a vertex listed in its own list notices.
      uncoded[v] = 0;
    }
  }
  if (n > 0) {
    const int last = order[n - 1];
    for (Eigen::Index c = 0; c < cols; ++c) indices[c][last] = quantize(D(last, c), q);
  }
  // The anchor rows are rounded on their own and receive no error.
  for (Eigen::Index r = static_cast<Eigen::Index>(n); r < rows; ++r) {
    for (Eigen::Index c = 0; c < cols; ++c) indices[c][r] = quantize(D(r, c), q);
  }
}

}  // namespace meshcodec
