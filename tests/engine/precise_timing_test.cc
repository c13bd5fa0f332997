// Driving the timer handler only when something is due (a timer without a period) gives the same
// queries and events, in the same order, as driving it every 10 ms tick; only the latency shrinks.
// Checked in virtual time against a device that answers after a delay and ignores one slave.
#include <map>
#include <string>

#include "engine_fixture.h"

namespace qb::test {
namespace {

using Bytes = std::vector<uint8_t>;

struct Outcome {
  std::vector<std::string> order;  // writes and events, in order
  std::vector<uint32_t> writeTicks;
};

// The reply of a one-register read of slave 1; other slaves never answer.
Bytes ReplyTo(const Bytes& request) {
  if (request.size() != 8 || request[0] != 1 || request[1] != 3) return {};
  return WithCrc({0x01, 0x03, 0x02, request[3], 0x2A});
}

Outcome Drive(bool precise, uint32_t replyDelayMs) {
  FakePlatform platform;
  QueryEngine engine(platform);
  RecordingPort port;
  engine.Init(&platform, 1);
  engine.SetPort(&port);
  engine.SetRtuMode();
  engine.EnableRetryForManual(1, 1, 30);
  for (int32_t id = 1; id <= 4; ++id) {
    engine.RegisterAuto(MakeReadItem(id, 3, id == 3 ? 9 : 1, id, 1));
  }
  Outcome out;
  int events = 0;
  platform.onHostMessage = [&](const HostMessage& m) {
    out.order.push_back("event " + std::to_string(m.block[0]) + " id " +
                        std::to_string(m.block[1]));
    // The host asks once, from inside its handler of the tenth event.
    if (++events == 10) engine.RegisterManual(MakeReadItem(50, 3, 9, 50, 1));
  };
  std::multimap<uint32_t, Bytes> pending;  // replies by the tick they arrive
  size_t written = 0;
  auto collectWrites = [&] {
    for (; written < port.writes.size(); ++written) {
      const Bytes& w = port.writes[written];
      out.order.push_back("write id " + std::to_string(w[3]));
      out.writeTicks.push_back(platform.TickMs());
      const Bytes reply = ReplyTo(w);
      if (!reply.empty()) pending.emplace(platform.TickMs() + replyDelayMs, reply);
    }
  };
  engine.Start();
  const uint32_t end = platform.TickMs() + 3000;
  uint32_t lastTick = platform.TickMs();
  while (platform.TickMs() < end) {
    platform.Advance(1);
    const uint32_t now = platform.TickMs();
    for (auto it = pending.begin(); it != pending.end() && it->first <= now;) {
      engine.AcceptModbusBytes(it->second.data(), static_cast<int32_t>(it->second.size()));
      it = pending.erase(it);
    }
    if (precise) {
      for (int guard = 0; guard < 10 && engine.MsUntilDue() == 0; ++guard) {
        engine.OnTimer();
        collectWrites();
      }
    } else if (now - lastTick >= QueryEngine::kTimerPeriodMs) {
      lastTick = now;
      engine.OnTimer();
      collectWrites();
    }
  }
  return out;
}

TEST(PreciseTiming, SameOrderOfQueriesAndEventsAsTheTenMillisecondTick) {
  for (uint32_t delay : {1u, 7u, 23u}) {
    const Outcome ticked = Drive(false, delay);
    const Outcome precise = Drive(true, delay);
    ASSERT_GT(ticked.order.size(), 40u) << delay;
    const size_t n = std::min(ticked.order.size(), precise.order.size());
    // The precise run gets further in the same time; what both did is the same, in order.
    EXPECT_EQ(std::vector<std::string>(precise.order.begin(), precise.order.begin() + n),
              std::vector<std::string>(ticked.order.begin(), ticked.order.begin() + n))
        << "reply delay " << delay;
    EXPECT_GE(precise.order.size(), ticked.order.size());
    // Every query goes out no later than with the tick.
    for (size_t i = 0; i < std::min(ticked.writeTicks.size(), precise.writeTicks.size()); ++i) {
      EXPECT_LE(precise.writeTicks[i], ticked.writeTicks[i]) << i;
    }
  }
}

}  // namespace
}  // namespace qb::test
