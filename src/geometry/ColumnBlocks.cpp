#include "geometry/ColumnBlocks.hpp"

#include <cstdint>
#include <iostream>
#include <string>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "geometry/Quantizer.hpp"

namespace meshcodec {

void writeColumnBlocks(const std::vector<std::vector<int>>& indices, std::iostream& s) {
  requireUnsaturated(indices, "the delta coordinates");
  for (const auto& column : indices) ArithCoder::encode(column, s, true);
}

Eigen::MatrixXd readColumnBlocks(std::iostream& s, Eigen::Index rows, int cols,
                                 const std::function<double(int)>& dequantizer) {
  if (rows < 0 || cols < 0) {
    throw Misuse("geometry: cannot read " + std::to_string(cols) + " columns of " +
                 std::to_string(rows) + " rows");
  }
  // Grown block by block, so that neither cols nor rows sizes anything before the
  // stream has delivered that much.
  std::vector<std::vector<int>> blocks;
  for (int c = 0; c < cols; ++c) {
    blocks.push_back(ArithCoder::decode(s, true, [c, rows](std::int32_t count) {
      if (count != rows) {
        throw CorruptStream("geometry: block of column " + std::to_string(c) + " holds " +
                            std::to_string(count) + " entries, " + std::to_string(rows) + " needed");
      }
    }));
  }
  Eigen::MatrixXd D(rows, cols);
  for (int c = 0; c < cols; ++c) {
    for (Eigen::Index r = 0; r < rows; ++r) D(r, c) = dequantizer(blocks[c][r]);
  }
  return D;
}

Eigen::MatrixXd readDequantizedColumns(std::iostream& s, float q, Eigen::Index rows, int cols) {
  return readColumnBlocks(s, rows, cols, [q](int k) { return dequantize(k, q); });
}

}  // namespace meshcodec
