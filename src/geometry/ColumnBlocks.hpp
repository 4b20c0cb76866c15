#pragma once
// The column blocks that end the sub-stream of the least-squares Laplacian coders:
// one arithmetic block (with sign) per data column, holding one index per row of
// the system. The encoders write them after the anchor list; the decoders read them
// back into dequantized values for the least-squares solve.

#include <Eigen/Core>
#include <functional>
#include <iosfwd>
#include <vector>

namespace meshcodec {

// indices: cols vectors, one per column, written in column order. StepTooSmall, with
// nothing written, when an index is saturated.
void writeColumnBlocks(const std::vector<std::vector<int>>& indices, std::iostream& s);

// Reads cols blocks of rows indices each and returns them through dequantizer, rows x
// cols. A block of another count throws CorruptStream before its code bytes are read.
// Nothing of size rows is allocated before the blocks prove they hold that many
// entries.
Eigen::MatrixXd readColumnBlocks(std::iostream& s, Eigen::Index rows, int cols,
                                 const std::function<double(int)>& dequantizer);

// The same with the plain dequantizer of step q.
Eigen::MatrixXd readDequantizedColumns(std::iostream& s, float q, Eigen::Index rows, int cols);

}  // namespace meshcodec
