// The owner thread: calls from other threads run there and return their results, calls on the
// owner run at once, the watched descriptor is served there, and the timer ticks on the owner.
#include "platform/owner_loop.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace qb {
namespace {

using namespace std::chrono_literals;

TEST(OwnerLoop, CallsRunOnTheOwnerInOrderAtOnceOnItAndOnTheCallerAfterStop) {
  OwnerLoop loop;
  loop.StartThread();
  std::thread::id owner;
  loop.Call([&] { owner = std::this_thread::get_id(); });
  EXPECT_NE(owner, std::this_thread::get_id());
  EXPECT_FALSE(loop.IsOwnerThread());

  std::vector<int> order;  // touched only on the owner thread
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&loop, &order, &owner, t] {
      for (int i = 0; i < 100; ++i) {
        const int result = loop.Invoke([&] {
          EXPECT_EQ(std::this_thread::get_id(), owner);
          order.push_back(t);
          return i * 2;
        });
        EXPECT_EQ(result, i * 2);
      }
    });
  }
  for (auto& c : callers) c.join();
  EXPECT_EQ(loop.Invoke([&] { return order.size(); }), 400u);
  // A call made on the owner runs at once: queued, it would deadlock.
  EXPECT_EQ(loop.Invoke([&] { return loop.IsOwnerThread() ? loop.Invoke([] { return 7; }) : 0; }),
            7);
  loop.Stop();  // then calls run on the caller
  std::thread::id ranOn;
  loop.Call([&] { ranOn = std::this_thread::get_id(); });
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

// A host that blocks SIGTERM and takes it with sigwait must get it: the owner thread never takes a
// signal sent to the process, only those its own faults raise. The caller's mask is left as it was.
TEST(OwnerLoop, OwnerThreadLeavesTheProcessesSignalsToTheHost) {
  sigset_t before, after, owners;
  pthread_sigmask(SIG_BLOCK, nullptr, &before);
  OwnerLoop loop;
  loop.StartThread();
  pthread_sigmask(SIG_BLOCK, nullptr, &after);
  loop.Call([&] { pthread_sigmask(SIG_BLOCK, nullptr, &owners); });
  loop.Stop();
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGALRM, SIGUSR1, SIGCHLD, SIGPIPE, SIGRTMIN}) {
    EXPECT_EQ(sigismember(&owners, sig), 1) << sig;
  }
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM}) {
    EXPECT_EQ(sigismember(&after, sig), sigismember(&before, sig)) << sig;
  }
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
    EXPECT_EQ(sigismember(&owners, sig), 0);
}

// The watched descriptor is served on the owner thread as it becomes readable, not while it is
// held, and never again once the watch has ended.
TEST(OwnerLoop, WatchedDescriptorIsServedOnTheOwnerUnlessHeld) {
  using Clock = std::chrono::steady_clock;
  struct Reader : DescriptorWatcher {
    OwnerLoop* loop;
    int fd;
    std::atomic<int> reads{0};
    std::atomic<bool> offThread{false};
    Clock::time_point last{};  // owner thread only
    void OnDescriptorReady(short) override {
      char byte = 0;
      if (::read(fd, &byte, 1) == 1) ++reads;
      if (!loop->IsOwnerThread()) offThread = true;
      last = Clock::now();
    }
  };
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  OwnerLoop loop;
  loop.StartThread();
  Reader reader;
  reader.loop = &loop;
  reader.fd = fds[0];
  loop.Call([&] { loop.WatchDescriptor(fds[0], &reader); });
  const auto waitReads = [&](int n) {
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (reader.reads < n && Clock::now() < end) std::this_thread::sleep_for(1ms);
    return reader.reads.load();
  };
  ASSERT_EQ(::write(fds[1], "a", 1), 1);
  EXPECT_EQ(waitReads(1), 1);

  const auto heldUntil = Clock::now() + 150ms;
  loop.Call([&] { loop.HoldDescriptorUntil(heldUntil); });
  ASSERT_EQ(::write(fds[1], "b", 1), 1);
  loop.Call([] {});  // calls are served during the hold
  EXPECT_EQ(waitReads(2), 2);
  EXPECT_GE(loop.Invoke([&] { return reader.last; }), heldUntil);

  loop.Call([&] { loop.WatchDescriptor(-1, nullptr); });
  ASSERT_EQ(::write(fds[1], "c", 1), 1);
  std::this_thread::sleep_for(50ms);
  loop.Stop();
  EXPECT_EQ(reader.reads.load(), 2);
  EXPECT_FALSE(reader.offThread.load());
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(OwnerLoop, TimerTicksOnTheOwnerUntilStopped) {
  OwnerLoop loop;
  loop.StartThread();
  std::atomic<int> ticks{0};
  std::atomic<bool> onOwner{true};
  loop.SetTimer(5, [&] {
    if (!loop.IsOwnerThread()) onOwner = false;
    ++ticks;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ticks < 5 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GE(ticks.load(), 5);
  EXPECT_TRUE(onOwner);
  loop.SetTimer(0, nullptr);
  const int stopped = loop.Invoke([&] { return ticks.load(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(ticks.load(), stopped);
}

TEST(OwnerLoop, DeadlineTimerTicksWhenDueAndSleepsOtherwise) {
  OwnerLoop loop;
  loop.StartThread();
  std::atomic<int> ticks{0};
  std::atomic<int> asked{0};
  int64_t nextDue = -1;  // owner thread only; -2: due at dueAt
  std::chrono::steady_clock::time_point dueAt;
  loop.SetDeadlineTimer(
      [&] {
        ++ticks;
        nextDue = ticks < 3 ? 0 : -1;  // three ticks back to back, then nothing is due
      },
      [&]() -> int64_t {
        ++asked;
        if (nextDue != -2) return nextDue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            dueAt - std::chrono::steady_clock::now());
        return std::max<int64_t>(left.count(), 0);
      });
  EXPECT_TRUE(loop.DeadlineMode());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ticks.load(), 0);  // nothing due: no wake-ups at all
  const int askedWhileIdle = asked.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(asked.load(), askedWhileIdle);
  loop.Call([&] { nextDue = 0; });  // a call makes something due: the loop asks again
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ticks < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(ticks.load(), 3);
  loop.Call([&] {
    nextDue = -2;
    dueAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(ticks.load(), 3);  // not yet due
  const auto late = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ticks < 4 && std::chrono::steady_clock::now() < late) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(ticks.load(), 4);
  loop.SetTimer(0, nullptr);
  EXPECT_FALSE(loop.DeadlineMode());
}

// No tick may start before the edge of the millisecond it was due at, with calls made meanwhile
// (they still run first) or without, nor a millisecond after it when the millisecond turns while
// the engine counts (a call would make the loop count again and hide that).
TEST(OwnerLoop, DeadlineTicksStartAtTheirMillisecondEdge) {
  using Clock = std::chrono::steady_clock;
  using std::chrono::milliseconds;
  OwnerLoop loop;
  loop.StartThread();
  constexpr int kTicks = 20;
  std::vector<Clock::duration> early;  // owner thread only until the loop stops
  Clock::time_point edge{};
  std::atomic<int> ticks{0}, late{0}, calls{0}, until{kTicks};
  loop.SetDeadlineTimer(
      [&] {
        if (Clock::now() < edge) early.push_back(edge - Clock::now());
        if (Clock::now() >= edge + 900us) ++late;  // the slip makes it a whole ms
        ++ticks;
        edge = Clock::time_point{};
      },
      [&]() -> int64_t {
        if (ticks >= until) return -1;
        if (edge == Clock::time_point{}) {
          // Read the tick, let it turn, then answer "due two ticks on" (the scheduler's "more
          // than 1 ms") from the tick read.
          const auto read = std::chrono::floor<milliseconds>(Clock::now());
          edge = read + milliseconds(2);
          while (std::chrono::floor<milliseconds>(Clock::now()) == read) {
          }
          return 2;
        }
        const auto tick = std::chrono::floor<milliseconds>(Clock::now());
        return tick >= edge ? 0 : (edge - tick) / milliseconds(1);
      });
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  loop.Call([] {});  // the loop asks again
  while (ticks < kTicks && Clock::now() < deadline) {
    loop.Call([&] { ++calls; });
    std::this_thread::sleep_for(700us);
  }
  EXPECT_GE(calls.load(), kTicks / 2);
  loop.Call([&] {  // then ticks without calls
    late = 0;
    until = 2 * kTicks;
  });
  while (ticks < 2 * kTicks && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  loop.Stop();
  EXPECT_EQ(ticks.load(), 2 * kTicks);
  EXPECT_TRUE(early.empty()) << early.size() << " ticks ran before their edge";
  // A stalled machine may make one late; counting from the turned tick makes every one late.
  EXPECT_LT(late.load(), kTicks / 2);
}

}  // namespace
}  // namespace qb
