// Lifecycle of an engine: start and stop, stepping by hand, the read codes of new items.
#include "engine/item_keys.h"
#include "engine_fixture.h"

namespace qb::test {
namespace {

TEST_F(EngineTest, StartRebuildsTheQueueAndDropsWaitingManualItems) {
  AutoRead(1);
  AutoRead(2);
  engine.Start();
  ManualRead(9);
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{9, 1, 2}));
  engine.Start();
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{1, 2}));
  for (const auto& item : engine.ToDo()) EXPECT_EQ(item->Int(keys::kIsAuto), 1);
  EXPECT_EQ((*engine.AutoList().begin())->Find(keys::kIsAuto), nullptr);  // originals unmarked
}

TEST_F(EngineTest, StopThenStartNotDestroyingBufferKeepsTheQueue) {
  InitHost();
  engine.SetQueryDirectSerial(0);
  AutoRead(1);
  AutoRead(2);
  AutoRead(3);
  engine.Start();
  engine.Step();  // item 1 goes out
  engine.Stop();
  ManualRead(9);
  engine.StartNotDestroyingBuffer();
  EXPECT_TRUE(engine.Running());
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{9, 2, 3}));
  engine.Stop();
  engine.Start();
  EXPECT_EQ(QueueIds(), (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(EngineTest, StepRunsWhileStoppedAndTimerTicksDoNot) {
  InitHost();
  engine.SetQueryDirectSerial(0);
  AutoRead(4);
  RunFor(50);  // stopped: ticks only give the watch values
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(platform.NotesStartingWith(u"Auto=1").size(), 5u);
  engine.Step();  // before any qbStart: the step refills the empty queue itself
  EXPECT_EQ(EventCodes(), (std::vector<int>{1}));
  EXPECT_EQ(engine.CurrentItemId(), 4);
}

TEST_F(EngineTest, RestartingTheTimeOutNeedsAnOutstandingQuery) {
  engine.SetLastAskTimeToCurrentIfNotZero();
  EXPECT_EQ(engine.LastAskTime(), 0u);
  InitHost();
  engine.SetQueryDirectSerial(0);
  AutoRead(1);
  engine.Start();
  engine.Step();
  const uint32_t asked = engine.LastAskTime();
  platform.Advance(70);
  engine.SetLastAskTimeToCurrentIfNotZero();
  EXPECT_EQ(engine.LastAskTime(), asked + 70);
}

TEST_F(EngineTest, ReadCodesAreTakenWhenAnItemIsRegistered) {
  AutoRead(1);
  engine.DefineWordReadCode(1);
  AutoRead(2);
  engine.DefineBitReadCode(1);
  EXPECT_EQ(engine.BitReadFunctionCode(), 2);
  engine.DefineWordReadCode(0);
  auto it = engine.AutoList().begin();
  EXPECT_EQ((*it++)->Int(keys::kFncCode), 3);
  EXPECT_EQ((*it)->Int(keys::kFncCode), 4);
}

}  // namespace
}  // namespace qb::test
