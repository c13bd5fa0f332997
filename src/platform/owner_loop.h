// The owner thread of the library and its event loop. All engine state belongs to one thread, as it
// belongs to the thread of the engine window on the system the library comes from: the loop runs
// the periodic timer there, and a call from any other thread is carried to it and returns its
// result when done, as a message sent to a window of another thread would. A call made on the owner
// thread itself (for instance from inside the host's handler of an event) runs directly, so nothing
// in the engine needs a lock.
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

namespace qb {

class OwnerLoop {
 public:
  using Task = std::function<void()>;

  OwnerLoop() = default;
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

  // For worker threads (the serial reader): like Call, but gives up without running the task when
  // `abandoned` becomes true before the owner has started it. Whoever sets the flag calls Wake().
  // True when the task ran.
  bool CallUnless(const Task& task, const std::atomic<bool>& abandoned);
  void Wake();

  // On the owner thread: a pause of ms milliseconds in the middle of its work, during which the
  // calls of other threads made through Call are run, so none of them waits for the pause to end.
  // Worker hand-offs (CallUnless) and timer ticks wait for it as they would for a sleep. Stop
  // ends the pause at once. Elsewhere: an ordinary sleep.
  void Pause(uint32_t ms);

  // The periodic timer: onTick runs on the owner thread every periodMs milliseconds; 0 stops it.
  // Ticks that the owner thread misses while busy are not made up, as window timers do.
  void SetTimer(uint32_t periodMs, Task onTick);
  uint32_t TimerPeriod() const;
  // A timer without a period: after every call and every tick the owner thread asks msUntilDue
  // (on the owner thread) how long it may sleep: 0 runs onTick at once, -1 sleeps until the next
  // call. No periodic wake-ups at all. A due tick starts at the edge of its millisecond: the
  // thread sleeps until shortly before it and spins the last tens of microseconds (as long as its
  // timed wake-ups have lately been late). SetTimer with a period ends this mode.
  void SetDeadlineTimer(Task onTick, std::function<int64_t()> msUntilDue);
  bool DeadlineMode() const;

 private:
  struct Pending {
    const Task* task;
    bool fromWorker;  // CallUnless: not run by Pause
    enum class State { kQueued, kRunning, kDone } state = State::kQueued;
  };
  using SteadyTime = std::chrono::steady_clock::time_point;

  void Run();
  bool Enqueue(const Task& task, const std::atomic<bool>& abandoned, bool fromWorker);
  // Runs one queued call if there is one (workers' too unless callsOnly); lock is held on entry and
  // exit.
  bool RunOneCall(std::unique_lock<std::mutex>& lock, bool callsOnly = false);
  // Deadline mode: returns at edge, or earlier when a call or Stop comes; lock held on entry and
  // exit.
  void WaitForEdge(std::unique_lock<std::mutex>& lock, SteadyTime edge);

  static constexpr std::chrono::nanoseconds kSpinFloor{10'000};
  static constexpr std::chrono::nanoseconds kSpinCeiling{250'000};

  mutable std::mutex mutex_;
  std::condition_variable wakeOwner_;
  std::condition_variable callDone_;
  std::deque<Pending*> calls_;
  std::atomic<size_t> queuedCalls_{0};  // calls_.size(), for the spin that holds no lock
  bool stopping_ = false;
  std::thread thread_;
  std::atomic<std::thread::id> owner_{};
  std::mutex inlineMutex_;  // serialises calls once no owner thread runs

  uint32_t periodMs_ = 0;
  Task onTick_;
  std::function<int64_t()> msUntilDue_;  // set: deadline mode
  SteadyTime nextTick_{};
  // How late timed wake-ups of the owner thread end, on average.
  std::chrono::nanoseconds wakeLateness_{50'000};
};

}  // namespace qb
