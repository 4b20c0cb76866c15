#include "geometry/NeighborTable.hpp"

#include <string>

#include "common/CodecError.hpp"

namespace meshcodec {

int buildNeighborsTable(const TriangleList& tris, NeighborTable& table) {
  const size_t n = table.size();
  int count = 0;
  for (const auto& t : tris) {
    for (int k = 0; k < 3; ++k) {
      const unsigned ua = t[k];
      const unsigned ub = t[(k + 1) % 3];
      if (ua >= n || ub >= n) {
        throw CorruptStream("triangle corner " + std::to_string(ua >= n ? ua : ub) +
                            " is not one of the " + std::to_string(n) + " vertices");
      }
      const int a = static_cast<int>(ua);
      const int b = static_cast<int>(ub);
      if (b <= a) {
        table[a].push_back(b);
        table[b].push_back(a);
        count += 2;
      }
    }
  }
  return count;
}

}  // namespace meshcodec
