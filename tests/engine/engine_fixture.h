// A fresh engine on a fake platform for each test, with helpers to register items, step in
// virtual time and look at what reached the host.
#pragma once

#include <gtest/gtest.h>

#include "support/modbus_frames.h"

#include <cstdint>
#include <vector>

#include "engine/item_factory.h"
#include "engine/query_engine.h"
#include "support/fake_platform.h"

namespace qb::test {

// A port that records what is written to it.
class RecordingPort : public SerialLink {
 public:
  bool IsOpen() const override { return open; }
  void Write(const uint8_t* bytes, size_t count) override {
    writes.emplace_back(bytes, bytes + count);
  }
  int32_t PortNumber() const override { return 3; }
  bool open = true;
  std::vector<std::vector<uint8_t>> writes;
};

class EngineTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kMessage = 0x4400;
  FakePlatform platform;
  QueryEngine engine{platform};
  RecordingPort port;

  void InitHost() { engine.Init(&platform, kMessage); }
  void AutoRead(int32_t id, int32_t slave = 1, int32_t start = 0, int32_t length = 1) {
    engine.RegisterAuto(MakeReadItem(id, engine.WordReadFunctionCode(), slave, start, length));
  }
  void ManualRead(int32_t id, int32_t slave = 1, int32_t start = 0, int32_t length = 1) {
    engine.RegisterManual(MakeReadItem(id, engine.WordReadFunctionCode(), slave, start, length));
  }
  // Advances virtual time in 10 ms ticks, running the timer handler at each, for ms milliseconds.
  void RunFor(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += QueryEngine::kTimerPeriodMs) {
      platform.Advance(QueryEngine::kTimerPeriodMs);
      engine.OnTimer();
    }
  }
  // Item ids of the ToDo queue, head first.
  std::vector<int32_t> QueueIds() const {
    std::vector<int32_t> ids;
    for (const auto& item : engine.ToDo()) ids.push_back(item->Id());
    return ids;
  }
  // Event codes that reached the host, in order.
  std::vector<int> EventCodes() const {
    std::vector<int> codes;
    for (const auto& m : platform.messages) {
      codes.push_back(m.block.empty() ? -1 : m.block[0]);
    }
    return codes;
  }
};

}  // namespace qb::test
