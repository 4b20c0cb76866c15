#include "geometry/DiffusionOrder.hpp"

#include <climits>
#include <string>

#include "common/CodecError.hpp"

namespace meshcodec {

namespace {

int saturateToInt(long long x) { return x > INT_MAX ? INT_MAX : static_cast<int>(x); }

// Runs walks with sigma of every vertex kept up to date, so that scoring a
// candidate costs its own degree instead of the square of it, and a vertex of very
// high degree costs nothing while it is not among the least-connected candidates.
// The choice is the same as scoring every candidate with sigma() and sigma2().
class WarnsdorffWalker {
 public:
  WarnsdorffWalker(const NeighborTable& table, std::vector<int>& unvisited)
      : table_(table),
        unvisited_(unvisited),
        count_(table.size(), 0),
        holderStart_(table.size() + 1, 0) {
    const size_t n = table.size();
    if (unvisited.size() != n) {
      throw Misuse("diffusion order: " + std::to_string(unvisited.size()) + " visit marks for " +
                   std::to_string(n) + " vertices");
    }
    // holders_[holderStart_[u] ..] lists every vertex whose list holds u, once per
    // entry: visiting u lowers exactly their counts.
    for (size_t v = 0; v < n; ++v) {
      for (int u : table[v]) {
        if (u < 0 || static_cast<size_t>(u) >= n) {
          throw Misuse("diffusion order: vertex " + std::to_string(v) + " lists neighbour " +
                       std::to_string(u) + " outside the " + std::to_string(n) + " vertices");
        }
        ++holderStart_[u + 1];
        if (unvisited[u] == 1) ++count_[v];
      }
    }
    for (size_t u = 0; u < n; ++u) holderStart_[u + 1] += holderStart_[u];
    holders_.resize(holderStart_[n]);
    std::vector<size_t> fill(holderStart_.begin(), holderStart_.end() - 1);
    for (size_t v = 0; v < n; ++v) {
      for (int u : table[v]) holders_[fill[u]++] = static_cast<int>(v);
    }
  }

  void walk(int start, std::vector<int>& order) {
    if (start < 0 || static_cast<size_t>(start) >= table_.size()) {
      throw Misuse("diffusion order: walk start " + std::to_string(start) + " outside the " +
                   std::to_string(table_.size()) + " vertices");
    }
    int cur = start;
    order.push_back(cur);
    for (;;) {
      visit(cur);
      const std::vector<int>& list = table_[cur];
      // Smallest sigma first; sigma2 is needed only to break ties at that value.
      int bestSigma = INT_MAX;
      for (int u : list) {
        if (unvisited_[u] == 1 && count_[u] < bestSigma) bestSigma = count_[u];
      }
      if (bestSigma == INT_MAX) return;
      int best = -1;
      long long bestSigma2 = 0;
      for (int u : list) {
        if (unvisited_[u] != 1 || count_[u] != bestSigma) continue;
        const long long s2 = sigma2(u);
        if (best < 0 || s2 < bestSigma2) {
          best = u;
          bestSigma2 = s2;
        }
      }
      order.push_back(best);
      cur = best;
    }
  }

 private:
  void visit(int v) {
    if (unvisited_[v] != 1) return;
    unvisited_[v] = 0;
    for (size_t h = holderStart_[v]; h < holderStart_[v + 1]; ++h) --count_[holders_[h]];
  }

  long long sigma2(int v) const {
    long long sum = 0;
    for (int u : table_[v]) {
      if (unvisited_[u] == 1) sum += count_[u];
    }
    return sum;
  }

  const NeighborTable& table_;
  std::vector<int>& unvisited_;
  std::vector<int> count_;  // count_[v] == sigma(table, v, unvisited)
  std::vector<size_t> holderStart_;
  std::vector<int> holders_;
};

void checkVertex(const NeighborTable& table, int v, const std::vector<int>& unvisited) {
  if (v < 0 || static_cast<size_t>(v) >= table.size() || unvisited.size() != table.size()) {
    throw Misuse("diffusion order: vertex " + std::to_string(v) + " with " +
                 std::to_string(table.size()) + " lists and " + std::to_string(unvisited.size()) +
                 " visit marks");
  }
}

bool isUnvisited(const NeighborTable& table, int v, int u, const std::vector<int>& unvisited) {
  if (u < 0 || static_cast<size_t>(u) >= unvisited.size()) {
    throw Misuse("diffusion order: vertex " + std::to_string(v) + " lists neighbour " +
                 std::to_string(u) + " outside the " + std::to_string(table.size()) + " vertices");
  }
  return unvisited[u] == 1;
}

}  // namespace

int sigma(const NeighborTable& table, int v, const std::vector<int>& unvisited) {
  checkVertex(table, v, unvisited);
  int s = 0;
  for (int u : table[v]) {
    if (isUnvisited(table, v, u, unvisited)) ++s;
  }
  return s;
}

int sigma2(const NeighborTable& table, int v, const std::vector<int>& unvisited) {
  checkVertex(table, v, unvisited);
  // In 64 bits: a vertex listed many times (degenerate triangles) could overflow int.
  long long s = 0;
  for (int u : table[v]) {
    if (isUnvisited(table, v, u, unvisited)) s += sigma(table, u, unvisited);
  }
  return saturateToInt(s);
}

void Warnsdorff(int start, const NeighborTable& table, std::vector<int>& unvisited,
                std::vector<int>& order) {
  WarnsdorffWalker(table, unvisited).walk(start, order);
}

void computeDiffusionOrder(const NeighborTable& table, std::vector<int>& order) {
  std::vector<int> unvisited(table.size(), 1);
  WarnsdorffWalker walker(table, unvisited);
  order.reserve(order.size() + table.size());
  for (size_t v = 0; v < table.size(); ++v) {
    if (unvisited[v] == 1) walker.walk(static_cast<int>(v), order);
  }
}

}  // namespace meshcodec
