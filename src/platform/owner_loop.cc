#include "platform/owner_loop.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace qb {
namespace {

// Without a wake-up descriptor (the process ran out of them) the owner looks for calls this
// often instead: slower, but nothing waits forever.
constexpr std::chrono::milliseconds kWithoutWakeFd{1};

}  // namespace

OwnerLoop::OwnerLoop() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

OwnerLoop::~OwnerLoop() {
  Stop();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void OwnerLoop::StartThread() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  stopping_ = false;
  // The owner thread is the library's, started when the library loads: a signal sent to the
  // process (SIGTERM, SIGINT, SIGALRM, ...) must reach the host's threads, which may block it and
  // take it with sigwait. Were the owner to take it, its default action would end the host. The
  // thread starts with every such signal blocked; those its own faults raise stay deliverable.
  sigset_t asynchronous, hostMask;
  sigfillset(&asynchronous);
  for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) {
    sigdelset(&asynchronous, fault);
  }
  pthread_sigmask(SIG_BLOCK, &asynchronous, &hostMask);
  thread_ = std::thread([this] { Run(); });
  pthread_sigmask(SIG_SETMASK, &hostMask, nullptr);
  owner_.store(thread_.get_id());
}

void OwnerLoop::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
  }
  Signal();
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // stopping from inside a call: the thread ends after it returns
  } else {
    thread_.join();
  }
  owner_.store(std::thread::id());
}

void OwnerLoop::Signal() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  // Fails only when the counter is about to overflow, and then the descriptor is readable anyway.
  const ssize_t written = ::write(wakeFd_, &one, sizeof one);
  static_cast<void>(written);
}

void OwnerLoop::Call(const Task& task) {
  if (IsOwnerThread()) {
    task();
    return;
  }
  std::unique_lock lock(mutex_);
  if (!thread_.joinable() || stopping_) {
    // No owner thread: the caller runs the task, one caller at a time.
    lock.unlock();
    std::lock_guard inlineLock(inlineMutex_);
    task();
    return;
  }
  Pending pending{&task};
  calls_.push_back(&pending);
  lock.unlock();
  Signal();
  lock.lock();
  callDone_.wait(lock, [&] { return pending.state == Pending::State::kDone; });
}

void OwnerLoop::WatchDescriptor(int fd, DescriptorWatcher* watcher) {
  std::lock_guard lock(mutex_);
  const bool watch = fd >= 0 && watcher != nullptr;
  watchFd_ = watch ? fd : -1;
  watcher_ = watch ? watcher : nullptr;
  holdUntil_ = SteadyTime{};
}

void OwnerLoop::HoldDescriptorUntil(SteadyTime until) {
  std::lock_guard lock(mutex_);
  holdUntil_ = until;
}

bool OwnerLoop::DescriptorHeld() const {
  std::lock_guard lock(mutex_);
  return holdUntil_ > std::chrono::steady_clock::now();
}

void OwnerLoop::SetTimer(uint32_t periodMs, Task onTick) {
  Call([&] {
    std::lock_guard lock(mutex_);
    periodMs_ = periodMs;
    onTick_ = std::move(onTick);
    msUntilDue_ = nullptr;
    nextTick_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs);
  });
}

void OwnerLoop::SetDeadlineTimer(Task onTick, std::function<int64_t()> msUntilDue) {
  Call([&] {
    std::lock_guard lock(mutex_);
    periodMs_ = 0;
    onTick_ = std::move(onTick);
    msUntilDue_ = std::move(msUntilDue);
  });
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
  while (!stopping_ && std::chrono::steady_clock::now() < until) {
    if (RunOneCall(lock)) continue;
    WaitOwner(lock, until, false);
  }
}

bool OwnerLoop::RunOneCall(std::unique_lock<std::mutex>& lock) {
  if (calls_.empty()) return false;
  Pending* pending = calls_.front();
  calls_.pop_front();
  pending->state = Pending::State::kRunning;
  lock.unlock();
  (*pending->task)();
  lock.lock();
  pending->state = Pending::State::kDone;
  // Woken with the lock still held, the caller would only wake to find it taken and sleep again.
  lock.unlock();
  callDone_.notify_all();
  lock.lock();
  return true;
}

short OwnerLoop::WaitOwner(std::unique_lock<std::mutex>& lock, std::optional<SteadyTime> deadline,
                           bool watch) {
  pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, POLLIN, 0}};
  const SteadyTime now = std::chrono::steady_clock::now();
  const int heldFd = watchFd_;
  bool holdEnds = false;  // the wait ends with the hold, not with the timer
  if (watch && watcher_ != nullptr) {
    if (holdUntil_ > now) {
      holdEnds = !deadline || holdUntil_ <= *deadline;
      deadline = deadline ? std::min(*deadline, holdUntil_) : holdUntil_;
    } else {
      fds[1].fd = watchFd_;
    }
  }
  if (wakeFd_ < 0)
    deadline = deadline ? std::min(*deadline, now + kWithoutWakeFd) : now + kWithoutWakeFd;
  timespec timeout{};
  if (deadline) {
    const auto ns = std::max<int64_t>(0, std::chrono::nanoseconds(*deadline - now).count());
    timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  }
  const bool timed = deadline && (timeout.tv_sec != 0 || timeout.tv_nsec != 0);
  lock.unlock();
  const int ready = ::ppoll(fds, 2, deadline ? &timeout : nullptr, nullptr);
  timerEnded_ = ready == 0 && timed && !holdEnds;
  if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
    uint64_t count = 0;
    const ssize_t taken = ::read(wakeFd_, &count, sizeof count);
    static_cast<void>(taken);
  }
  lock.lock();
  // The hold is over: the awaited bytes are due, so they are read now rather than after one
  // more poll that would only say so.
  if (ready == 0 && holdEnds && heldFd == watchFd_ && watcher_ != nullptr &&
      holdUntil_ <= std::chrono::steady_clock::now()) {
    return POLLIN;
  }
  // The watch may have ended while the lock was let go (a close from a thread of its own when
  // the loop had none); then what poll saw belongs to nobody.
  if (ready <= 0 || fds[1].fd < 0 || fds[1].fd != watchFd_) return 0;
  return fds[1].revents;
}

void OwnerLoop::Dispatch(std::unique_lock<std::mutex>& lock, short revents) {
  DescriptorWatcher* watcher = watcher_;
  if (watcher == nullptr || revents == 0) return;
  lock.unlock();
  watcher->OnDescriptorReady(revents);
  lock.lock();
}

void OwnerLoop::Run() {
  // The thread id is published by StartThread; wait for it so IsOwnerThread holds from the start.
  while (owner_.load() != std::this_thread::get_id()) std::this_thread::yield();
  // The owner thread times a serial line to the millisecond: let its timed waits end on time
  // instead of up to the kernel's default 50 us of slack later.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  // Named, so that top -H, perf and a debugger tell the library's thread from the host's.
  prctl(PR_SET_NAME, "quillbox", 0UL, 0UL, 0UL);
  std::unique_lock lock(mutex_);
  for (;;) {
    if (RunOneCall(lock)) continue;
    if (stopping_) break;
    std::optional<SteadyTime> deadline;
    bool tickWait = false;
    if (msUntilDue_) {
      const auto due = msUntilDue_;
      const auto askedIn =
          std::chrono::floor<std::chrono::milliseconds>(std::chrono::steady_clock::now());
      lock.unlock();
      const int64_t ms = due();
      lock.lock();
      if (!calls_.empty() || stopping_ || !msUntilDue_) continue;
      if (ms == 0) {
        Task tick = onTick_;
        lock.unlock();
        if (tick) tick();
        lock.lock();
        continue;
      }
      if (ms > 0) {
        // Due at the start of the tick ms ticks from now: the tick counts whole milliseconds of
        // the same monotonic clock, so the wait ends at that millisecond's edge, not ms after now.
        // The sleep is asked to end the learned lead before the edge; a thread that wakes before
        // the edge all the same finds the tick not yet due and polls on without sleeping.
        const auto tickStart =
            std::chrono::floor<std::chrono::milliseconds>(std::chrono::steady_clock::now());
        // The millisecond turned while the engine counted: its ms may be from the tick before,
        // and the wait would end a whole millisecond late. Asked again.
        if (tickStart != askedIn) continue;
        deadline = tickStart + std::chrono::milliseconds(ms) - lead_.Lead();
        tickWait = true;
      }
    } else if (periodMs_ != 0) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= nextTick_) {
        nextTick_ += std::chrono::milliseconds(periodMs_);
        if (nextTick_ <= now) nextTick_ = now + std::chrono::milliseconds(periodMs_);
        Task tick = onTick_;
        lock.unlock();
        if (tick) tick();
        lock.lock();
        continue;
      }
      deadline = nextTick_;
    }
    const short revents = WaitOwner(lock, deadline, true);
    if (tickWait && timerEnded_) lead_.Note(std::chrono::steady_clock::now() - *deadline);
    Dispatch(lock, revents);
  }
}

}  // namespace qb
