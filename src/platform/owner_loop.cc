#include "platform/owner_loop.h"

#include <sys/prctl.h>

#include <algorithm>

namespace qb {

OwnerLoop::~OwnerLoop() { Stop(); }

void OwnerLoop::StartThread() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  owner_.store(thread_.get_id());
}

void OwnerLoop::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
  }
  wakeOwner_.notify_all();
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // stopping from inside a call: the thread ends after it returns
  } else {
    thread_.join();
  }
  owner_.store(std::thread::id());
}

void OwnerLoop::Call(const Task& task) {
  static const std::atomic<bool> kNever{false};
  Enqueue(task, kNever, false);
}

bool OwnerLoop::CallUnless(const Task& task, const std::atomic<bool>& abandoned) {
  return Enqueue(task, abandoned, true);
}

bool OwnerLoop::Enqueue(const Task& task, const std::atomic<bool>& abandoned, bool fromWorker) {
  if (IsOwnerThread()) {
    task();
    return true;
  }
  std::unique_lock lock(mutex_);
  if (!thread_.joinable() || stopping_) {
    // No owner thread: the caller runs the task, one caller at a time.
    lock.unlock();
    if (abandoned.load()) return false;
    std::lock_guard inlineLock(inlineMutex_);
    task();
    return true;
  }
  Pending pending{&task, fromWorker};
  calls_.push_back(&pending);
  queuedCalls_.fetch_add(1);
  // Woken with the lock still held, the owner would only wake to find it taken and sleep again
  // on it: one more switch of threads for every chunk a port hands over.
  lock.unlock();
  wakeOwner_.notify_all();
  lock.lock();
  callDone_.wait(lock, [&] {
    return pending.state == Pending::State::kDone ||
           (pending.state == Pending::State::kQueued && abandoned.load());
  });
  if (pending.state == Pending::State::kQueued) {
    calls_.erase(std::find(calls_.begin(), calls_.end(), &pending));
    queuedCalls_.fetch_sub(1);
    return false;
  }
  return true;
}

void OwnerLoop::Wake() {
  std::lock_guard lock(mutex_);
  callDone_.notify_all();
}

void OwnerLoop::SetTimer(uint32_t periodMs, Task onTick) {
  Call([&] {
    std::lock_guard lock(mutex_);
    periodMs_ = periodMs;
    onTick_ = std::move(onTick);
    msUntilDue_ = nullptr;
    nextTick_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs);
  });
  wakeOwner_.notify_all();
}

void OwnerLoop::SetDeadlineTimer(Task onTick, std::function<int64_t()> msUntilDue) {
  Call([&] {
    std::lock_guard lock(mutex_);
    periodMs_ = 0;
    onTick_ = std::move(onTick);
    msUntilDue_ = std::move(msUntilDue);
  });
  wakeOwner_.notify_all();
}

bool OwnerLoop::DeadlineMode() const {
  std::lock_guard lock(mutex_);
  return msUntilDue_ != nullptr;
}

uint32_t OwnerLoop::TimerPeriod() const {
  std::lock_guard lock(mutex_);
  return periodMs_;
}

void OwnerLoop::Pause(uint32_t ms) {
  if (!IsOwnerThread()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  const SteadyTime until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (RunOneCall(lock, true)) continue;
    if (wakeOwner_.wait_until(lock, until) == std::cv_status::timeout) break;
  }
}

bool OwnerLoop::RunOneCall(std::unique_lock<std::mutex>& lock, bool callsOnly) {
  const auto next = callsOnly ? std::find_if(calls_.begin(), calls_.end(),
                                             [](const Pending* p) { return !p->fromWorker; })
                              : calls_.begin();
  if (next == calls_.end()) return false;
  Pending* pending = *next;
  calls_.erase(next);
  queuedCalls_.fetch_sub(1);
  pending->state = Pending::State::kRunning;
  lock.unlock();
  (*pending->task)();
  lock.lock();
  pending->state = Pending::State::kDone;
  lock.unlock();
  callDone_.notify_all();
  lock.lock();
  return true;
}

void OwnerLoop::WaitForEdge(std::unique_lock<std::mutex>& lock, SteadyTime edge) {
  using std::chrono::nanoseconds;
  // A timed sleep ends some tens of microseconds after the time asked for (more on a virtual
  // machine), which would delay every send of the precise timer by as much. So the thread sleeps
  // until a little before the edge, by how late its recent wake-ups were, and spins the rest.
  const nanoseconds margin = std::min(2 * wakeLateness_ + kSpinFloor, kSpinCeiling);
  const SteadyTime wakeAt = edge - margin;
  if (std::chrono::steady_clock::now() < wakeAt) {
    if (wakeOwner_.wait_until(lock, wakeAt) == std::cv_status::no_timeout) return;
    const nanoseconds late = std::clamp<nanoseconds>(std::chrono::steady_clock::now() - wakeAt,
                                                     nanoseconds(0), kSpinCeiling);
    wakeLateness_ += (late - wakeLateness_) / 8;
  }
  if (!calls_.empty() || stopping_) return;
  lock.unlock();
  while (std::chrono::steady_clock::now() < edge && queuedCalls_.load() == 0) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  lock.lock();
}

void OwnerLoop::Run() {
  // The thread id is published by StartThread; wait for it so IsOwnerThread holds from the start.
  while (owner_.load() != std::this_thread::get_id()) std::this_thread::yield();
  // The owner thread times a serial line to the millisecond: let its timed waits end on time
  // instead of up to the kernel's default 50 us of slack later.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::unique_lock lock(mutex_);
  for (;;) {
    if (RunOneCall(lock)) continue;
    if (stopping_) break;
    if (msUntilDue_) {
      const auto due = msUntilDue_;
      lock.unlock();
      const int64_t ms = due();
      lock.lock();
      if (!calls_.empty() || stopping_ || !msUntilDue_) continue;
      if (ms == 0) {
        Task tick = onTick_;
        lock.unlock();
        if (tick) tick();
        lock.lock();
      } else if (ms < 0) {
        wakeOwner_.wait(lock);
      } else {
        // Due at the start of the tick ms ticks from now: the tick counts whole milliseconds of
        // the same monotonic clock, so the wait ends at that millisecond's edge, not ms after now.
        const auto now = std::chrono::steady_clock::now();
        const auto tickStart = std::chrono::floor<std::chrono::milliseconds>(now);
        WaitForEdge(lock, tickStart + std::chrono::milliseconds(ms));
      }
      continue;
    }
    if (periodMs_ == 0) {
      wakeOwner_.wait(lock);
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < nextTick_) {
      wakeOwner_.wait_until(lock, nextTick_);
      continue;
    }
    nextTick_ += std::chrono::milliseconds(periodMs_);
    if (nextTick_ <= now) nextTick_ = now + std::chrono::milliseconds(periodMs_);
    Task tick = onTick_;
    lock.unlock();
    if (tick) tick();
    lock.lock();
  }
}

}  // namespace qb
