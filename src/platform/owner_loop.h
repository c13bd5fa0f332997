// The owner thread of the library and its event loop. All engine state belongs to one thread, as it
// belongs to the thread of the engine window on the system the library comes from: the loop runs
// the periodic timer there, and a call from any other thread is carried to it and returns its
// result when done, as a message sent to a window of another thread would. A call made on the owner
// thread itself (for instance from inside the host's handler of an event) runs directly, so nothing
// in the engine needs a lock.
//
// The loop also watches one descriptor, the serial port's: it waits in a single poll over its own
// wake-up descriptor, the port and the timer's deadline, so received bytes reach the engine with
// one wake-up of one thread and no hand-off between threads.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>

#include "platform/timer_lead.h"

namespace qb {

// What the loop calls, on the owner thread, when the watched descriptor is ready.
class DescriptorWatcher {
 public:
  // revents as poll reports them (POLLIN, POLLHUP, POLLERR, POLLNVAL).
  virtual void OnDescriptorReady(short revents) = 0;

 protected:
  ~DescriptorWatcher() = default;
};

class OwnerLoop {
 public:
  using Task = std::function<void()>;
  using SteadyTime = std::chrono::steady_clock::time_point;

  OwnerLoop();
  ~OwnerLoop();
  OwnerLoop(const OwnerLoop&) = delete;
  OwnerLoop& operator=(const OwnerLoop&) = delete;

  // Managed mode: a thread of the loop's own becomes the owner and runs until Stop().
  void StartThread();
  // Ends the owner thread after the calls already queued have run. Later calls run on the caller.
  void Stop();
  bool IsOwnerThread() const { return std::this_thread::get_id() == owner_.load(); }

  // Runs task on the owner thread and returns after it has run.
  void Call(const Task& task);

  // Call with a result: Invoke([&] { return engine.GetBufferSize(); }).
  template <class F>
  auto Invoke(F&& f) -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
      Call([&] { f(); });
    } else {
      std::optional<R> result;
      Call([&] { result.emplace(f()); });
      return std::move(*result);
    }
  }

  // The descriptor the owner thread waits on besides calls and the timer; watcher runs on the
  // owner thread whenever it is readable or in error. One at a time: a new one replaces the old,
  // fd < 0 or a null watcher ends the watch (at once: the watcher is not called again). Only an
  // owner thread watches; without one (before StartThread, after Stop) nothing is received.
  void WatchDescriptor(int fd, DescriptorWatcher* watcher);
  // The watched descriptor is not looked at before until (a reply of known length is still on the
  // wire); calls and ticks are served meanwhile. A time in the past ends the hold. When the hold
  // ends the watcher is called at once with POLLIN, as the awaited bytes are due by then; it must
  // take a read that finds nothing (EAGAIN) in its stride.
  void HoldDescriptorUntil(SteadyTime until);
  // Whether a hold is in force now.
  bool DescriptorHeld() const;

  // On the owner thread: a pause of ms milliseconds in the middle of its work, during which the
  // calls of other threads made through Call are run, so none of them waits for the pause to end.
  // The watched descriptor and the timer wait for it as they would for a sleep. Stop ends the
  // pause at once. Elsewhere: an ordinary sleep.
  void Pause(uint32_t ms);

  // The periodic timer: onTick runs on the owner thread every periodMs milliseconds; 0 stops it.
  // Ticks that the owner thread misses while busy are not made up, as window timers do.
  void SetTimer(uint32_t periodMs, Task onTick);
  uint32_t TimerPeriod() const;
  // A timer without a period: after every call, every tick and every ready descriptor the owner
  // thread asks msUntilDue (on the owner thread) how long it may sleep: 0 runs onTick at once, -1
  // sleeps until the next call. No periodic wake-ups at all. A due tick starts at the edge of its
  // millisecond: the thread sleeps with a timer slack of 1 us until as long before the edge as its
  // last timed sleeps ended late (at most 200 us), and waits out awake what remains if it woke
  // before the edge. SetTimer with a period ends this mode.
  void SetDeadlineTimer(Task onTick, std::function<int64_t()> msUntilDue);
  bool DeadlineMode() const;

 private:
  struct Pending {
    const Task* task;
    enum class State { kQueued, kRunning, kDone } state = State::kQueued;
  };

  void Run();
  // Runs one queued call if there is one; lock is held on entry and exit.
  bool RunOneCall(std::unique_lock<std::mutex>& lock);
  // Waits until a call is queued, Stop, the deadline (none: no limit) or, with watch, the watched
  // descriptor is ready (and not held). Lock held on entry and exit. The descriptor's revents, 0
  // when it was not ready.
  short WaitOwner(std::unique_lock<std::mutex>& lock, std::optional<SteadyTime> deadline,
                  bool watch);
  // Gives the descriptor's readiness to its watcher; lock held on entry and exit.
  void Dispatch(std::unique_lock<std::mutex>& lock, short revents);
  void Signal();

  mutable std::mutex mutex_;
  std::condition_variable callDone_;
  std::deque<Pending*> calls_;
  bool stopping_ = false;
  std::thread thread_;
  std::atomic<std::thread::id> owner_{};
  std::mutex inlineMutex_;  // serialises calls once no owner thread runs
  int wakeFd_ = -1;         // eventfd: a call or Stop for the owner thread

  int watchFd_ = -1;
  DescriptorWatcher* watcher_ = nullptr;
  SteadyTime holdUntil_{};

  uint32_t periodMs_ = 0;
  Task onTick_;
  std::function<int64_t()> msUntilDue_;  // set: deadline mode
  SteadyTime nextTick_{};
  TimerLead lead_;           // owner thread only
  bool timerEnded_ = false;  // the last WaitOwner ended at its deadline, not at the hold's end
};

}  // namespace qb
