#include <gtest/gtest.h>

#include <vector>

#include "common/CodecError.hpp"
#include "entropy/ContextBinaryStats.hpp"
#include "entropy/QuantizedStats.hpp"
#include "entropy/QuantizedStatsTables.hpp"

namespace meshcodec {
namespace {

TEST(QuantizedStatsTables, TellingRows) {
  struct Row {
    int state, p0, p1, next0, next1;
  };
  const std::vector<Row> rows = {
      {0, 1005, 19, 0, 24},   {1, 1004, 20, 0, 25},    {2, 1003, 21, 1, 25},
      {50, 764, 260, 49, 52}, {62, 539, 485, 61, 63},  {63, 512, 512, 62, 64},
      {64, 485, 539, 63, 65}, {72, 320, 704, 70, 73},  {80, 211, 813, 77, 81},
      {100, 74, 950, 91, 101}, {120, 26, 998, 100, 121}, {125, 20, 1004, 101, 126},
      {126, 19, 1005, 102, 126},
  };
  const QuantizedStatsTables& t = quantizedTables;
  for (const Row& r : rows) {
    SCOPED_TRACE("state " + std::to_string(r.state));
    EXPECT_EQ(t.P0[r.state], r.p0);
    EXPECT_EQ(t.P1[r.state], r.p1);
    EXPECT_EQ(t.next0[r.state], r.next0);
    EXPECT_EQ(t.next1[r.state], r.next1);
  }
}

TEST(QuantizedStatsTables, EveryStateSumsToOneAndMirrorsAboutTheMiddle) {
  const QuantizedStatsTables& t = quantizedTables;
  for (int s = 0; s < 127; ++s) {
    SCOPED_TRACE("state " + std::to_string(s));
    EXPECT_EQ(t.P0[s] + t.P1[s], 1024);
    if (s > 0) {
      EXPECT_LT(t.P0[s], t.P0[s - 1]);
    }
    EXPECT_EQ(t.P0[126 - s], t.P1[s]);
    EXPECT_EQ(t.next0[126 - s], 126 - t.next1[s]);
    EXPECT_EQ(t.next1[126 - s], 126 - t.next0[s]);
    EXPECT_GE(t.next0[s], 0);
    EXPECT_LE(t.next1[s], 126);
  }
  // A table built anew at run time is the one built at start-up.
  const QuantizedStatsTables again;
  for (int s = 0; s < 127; ++s) {
    EXPECT_EQ(again.P0[s], t.P0[s]);
    EXPECT_EQ(again.next0[s], t.next0[s]);
    EXPECT_EQ(again.next1[s], t.next1[s]);
  }
}

TEST(QuantizedStats, StateWalks) {
  QuantizedStats q;
  EXPECT_EQ(q.getP0(), 512);
  EXPECT_EQ(q.getP1(), 512);
  for (int expected = 64; expected <= 126; ++expected) {
    q.updateBit(true);
    ASSERT_EQ(q.getState(), expected);
  }
  q.updateBit(true);
  EXPECT_EQ(q.getState(), 126);
  EXPECT_EQ(q.getP0(), 19);
  EXPECT_EQ(q.getP1(), 1005);
  QuantizedStats copy = q;
  q.updateBit(false);
  EXPECT_EQ(q.getState(), 102);
  EXPECT_EQ(copy.getState(), 126);  // copies are independent

  QuantizedStats up;
  up.updateBit(true);
  up.updateBit(false);
  EXPECT_EQ(up.getState(), 63);
  QuantizedStats down;
  down.updateBit(false);
  down.updateBit(true);
  EXPECT_EQ(down.getState(), 63);
}

TEST(ContextBinaryStats, HistoryPicksTheEstimatorThatThenLearns) {
  ContextBinaryStats c(2);
  IBinaryStats& model = c;  // used through the interface, as a mixed caller would
  for (bool bit : {true, false, true}) {
    EXPECT_EQ(model.getP0() + model.getP1(), 1024);
    model.updateBit(bit);
  }
  // 1 went to stats[0], 0 to stats[1], 1 to stats[2]; stats[3] was never used.
  const std::vector<int> states = {c.getStats()[0].getState(), c.getStats()[1].getState(),
                                   c.getStats()[2].getState(), c.getStats()[3].getState()};
  EXPECT_EQ(states, (std::vector<int>{64, 62, 64, 63}));
  EXPECT_EQ(c.getHistory(), 1);
  // Weights now come from stats[1], which saw a 0.
  EXPECT_EQ(c.getP0(), quantizedTables.P0[62]);

  ContextBinaryStats copy = c;
  copy.updateBit(true);
  EXPECT_EQ(c.getHistory(), 1);
  EXPECT_EQ(c.getStats()[1].getState(), 62);
}

TEST(ContextBinaryStats, NoHistoryMeansOneEstimator) {
  ContextBinaryStats c(0);
  EXPECT_EQ(c.getStats().size(), 1u);
  for (bool bit : {true, true, false}) {
    c.updateBit(bit);
    EXPECT_EQ(c.getHistory(), 0);
  }
  EXPECT_EQ(c.getStats()[0].getState(), quantizedTables.next0[65]);
  EXPECT_THROW(ContextBinaryStats(-1), Misuse);
  EXPECT_THROW(ContextBinaryStats(17), Misuse);
}

class Fixed : public IBinaryStats {
 public:
  int getP0() const override { return 700; }
  int getP1() const override { return 324; }
};

TEST(IBinaryStats, BaseUpdateLearnsNothing) {
  Fixed f;
  IBinaryStats& m = f;
  m.updateBit(true);
  EXPECT_EQ(m.getP0(), 700);
  EXPECT_EQ(m.getP1(), 324);
}

}  // namespace
}  // namespace meshcodec
