// Query items: where manual items enter the queue, the queue limit, pausing and unregistering,
// and the item description.
#include "engine/item_keys.h"
#include "engine_fixture.h"

namespace qb::test {
namespace {

TEST(ItemDescription, NamesTheAccessAddressAndLength) {
  EXPECT_EQ(ItemDescription(*MakeReadItem(1, 3, 1, 100, 10), false, false),
            u"WordRead: 0x0064(=100)(Len=10)");
  EXPECT_EQ(ItemDescription(*MakeBitWriteItem(1, 1, 32, 1, u"", -1), false, false),
            u"BitWrite: 0x0020(=32)");
  EXPECT_EQ(ItemDescription(*MakeReadItem(1, 1, 1, 0x12345, 1), false, false),
            u"BitRead: 0x2345(=74565)");
  EXPECT_EQ(ItemDescription(*MakeReadItemEx(1, 2, 1, 16, u"P", 3, 4), true, true),
            u"BitRead: P,0x0010(=16),Bit=3(Len=4)");
  EXPECT_EQ(ItemDescription(*MakeMaskWriteItem(1, 1, 2, 0, 0), false, false), u"0x0002(=2)(Len=0)");
}

TEST_F(EngineTest, ManualItemsGoAheadOfQueuedAutoItemsInTheirOwnOrder) {
  AutoRead(1);
  AutoRead(2);
  engine.Start();
  ManualRead(11);
  ManualRead(12);
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{11, 12, 1, 2}));
  engine.DeleteBuffer();  // empties only the queue
  EXPECT_EQ(engine.AutoList().Count(), 2u);
  ManualRead(11);
  ManualRead(12);
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{11, 12}));
}

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

TEST_F(EngineTest, PauseActsOnTheFirstItemAndUnregisterOnAllWithTheId) {
  AutoRead(5, 1, 0);
  AutoRead(5, 1, 1);
  AutoRead(6);
  EXPECT_EQ(engine.PauseItem(5), 1);
  EXPECT_EQ(engine.PauseItem(77), 0);
  EXPECT_EQ(engine.ResumeItem(77), 0);
  auto it = engine.AutoList().begin();
  EXPECT_EQ((*it++)->Int(keys::kPaused), 1);
  EXPECT_EQ((*it)->Int(keys::kPaused), 0);
  engine.Start();
  engine.UnregisterAutoItem(5);
  EXPECT_EQ(engine.AutoList().Count(), 1u);
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{5, 5, 6}));  // copies already queued stay
  engine.UnregisterAllAutoItems();
  EXPECT_TRUE(engine.AutoList().Empty());
}

}  // namespace
}  // namespace qb::test
