// Query items: where manual items enter the queue under each insert style, and the queue limit.
#include "engine/item_keys.h"
#include "engine_fixture.h"

namespace qb::test {
namespace {

TEST_F(EngineTest, InsertStylesPlaceManualItemsAsConfigured) {
  AutoRead(1);
  AutoRead(2);
  engine.Start();
  engine.SetManualInsertStyle(100, 2);
  ManualRead(11);
  ManualRead(12);
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{12, 11, 1, 2}));

  engine.Start();
  engine.SetManualInsertStyle(101, 2);
  ManualRead(11);
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{1, 2, 11}));

  engine.Start();
  engine.SetManualInsertStyle(104, 2);
  ManualRead(11);
  engine.SetManualInsertStyle(102, 2);
  ManualRead(12);  // before the first auto copy, i.e. after 11
  engine.SetManualInsertStyle(103, 2);
  ManualRead(13);  // after the last auto copy
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{11, 12, 1, 2, 13}));

  engine.Start();
  engine.SetManualInsertStyle(99, 2);
  ManualRead(14);  // an unknown style discards the item
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{1, 2}));
}

TEST_F(EngineTest, InsertStyleWithoutAutoItemsQueued) {
  engine.SetManualInsertStyle(104, 1);
  ManualRead(1);
  ManualRead(2);
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{2, 1}));
  engine.SetManualInsertStyle(104, 3);
  ManualRead(3);
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{2, 1}));
}

TEST_F(EngineTest, TheQueueHoldsAtMost1024ItemsAndDropsFromItsTail) {
  engine.SetManualInsertStyle(104, 2);
  for (int32_t id = 0; id < QueryEngine::kToDoLimit; ++id) ManualRead(id);
  EXPECT_EQ(engine.GetBufferSize(), 1024);
  engine.SetManualInsertStyle(104, 1);
  ManualRead(5000);  // at the head: the tail item (1023) is pushed out
  EXPECT_EQ(engine.GetBufferSize(), 1024);
  EXPECT_EQ(QueueIds().front(), 5000);
  EXPECT_EQ(QueueIds().back(), 1022);
}

}  // namespace
}  // namespace qb::test
