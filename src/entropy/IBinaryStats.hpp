#pragma once
// An adaptive binary probability model: gives the arithmetic coder the weights of a
// 0 and of a 1 for the next bin (units of 1/1024, summing to 1024) and learns from
// the bin once it is coded. The block coder uses the concrete ContextBinaryStats
// directly in its hot loop; this interface serves code that mixes models.

namespace meshcodec {

class IBinaryStats {
 public:
  virtual ~IBinaryStats();
  virtual int getP0() const = 0;
  virtual int getP1() const = 0;
  // Learns from a coded bin; a model without memory ignores it.
  virtual void updateBit(bool bit);

 protected:
  IBinaryStats() = default;
  IBinaryStats(const IBinaryStats&) = default;
  IBinaryStats& operator=(const IBinaryStats&) = default;
};

}  // namespace meshcodec
