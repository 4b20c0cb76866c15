#include "entropy/IBinaryStats.hpp"

namespace meshcodec {

IBinaryStats::~IBinaryStats() = default;

void IBinaryStats::updateBit(bool) {}

}  // namespace meshcodec
