#pragma once
// The key of one mesh edge in the data-dependent coder's hash containers: the rules
// that express selected edge weights, their terms and the dependants of each free
// edge. Undirected edges are keyed with the smaller vertex first; the same type also
// keys ordered index pairs.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace meshcodec {

struct Line {
  int first;
  int second;

  // An undirected edge (smaller index first) unless keepOrder is set.
  Line(int a, int b, bool keepOrder) : first(a), second(b) {
    if (!keepOrder && b < a) {
      first = b;
      second = a;
    }
  }
  // The ordered pair (a, b).
  Line(int a, int b) : first(a), second(b) {}

  bool operator==(const Line& o) const { return first == o.first && second == o.second; }
  bool operator!=(const Line& o) const { return !(*this == o); }
};

}  // namespace meshcodec

// first + 10000 * second wrapped to 32 bits, then sign-extended: the iteration order
// of the containers, and so the coded stream, depends on these exact values.
namespace std {
template <>
struct hash<meshcodec::Line> {
  size_t operator()(const meshcodec::Line& l) const noexcept {
    const uint32_t sum = static_cast<uint32_t>(l.first) + 10000u * static_cast<uint32_t>(l.second);
    return static_cast<size_t>(static_cast<int64_t>(static_cast<int32_t>(sum)));
  }
};
}  // namespace std
