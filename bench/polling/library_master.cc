// Drives the library through its C interface only. The window procedure runs on the library's
// owner thread: it stamps every reply, checks what was read, and takes the thread's CPU clock at
// the start and the end of the measurement; the main thread only starts, waits and stops.
#include "library_master.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "monotonic_time.h"
#include "quillbox/quillbox.h"
#include "simulated_device.h"

namespace qb::bench {
namespace {

constexpr uint32_t kEventMessage = 0x8001;
constexpr int32_t kComPort = 1;
constexpr uint8_t kReplyEvent = 2;
constexpr uint8_t kTimeOutEvent = 3;

// Everything the window procedure touches. Between qbStart and the return of qbStop only the
// owner thread writes it; the main thread reads it after qbStop, which returns only once the
// owner thread has carried it out, or waits on `done` under the mutex.
class Recorder {
 public:
  Recorder(size_t warmUp, size_t measured, int32_t waitRuleMs, std::function<int64_t()> hostCpuNs)
      : warmUp_(warmUp),
        last_(warmUp + measured),
        waitRuleMs_(waitRuleMs),
        hostCpuNs_(std::move(hostCpuNs)) {
    run_.warmUp = warmUp;
    run_.measured = measured;
    run_.replyTimes.reserve(last_ + 1);
    run_.ruleWaitNs.reserve(last_ + 1);
  }

  static intptr_t Proc(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == kEventMessage && window != nullptr && wParam != 0 && lParam >= 2) {
      static_cast<Recorder*>(window)->OnEvent(reinterpret_cast<const uint8_t*>(wParam));
    }
    return 0;
  }

  bool WaitDone(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [&] { return finished_; });
  }
  bool HasCpuClock() {
    std::lock_guard lock(mutex_);
    return hasCpuClock_;
  }
  clockid_t CpuClock() {
    std::lock_guard lock(mutex_);
    return cpuClock_;
  }
  MasterRun& Run() { return run_; }

 private:
  void OnEvent(const uint8_t* block) {
    const int64_t now = MonotonicNs();
    if (!hasCpuClock_) {
      clockid_t clock{};
      if (pthread_getcpuclockid(pthread_self(), &clock) == 0) {
        std::lock_guard lock(mutex_);
        cpuClock_ = clock;
        hasCpuClock_ = true;
      }
    }
    const size_t index = events_++;
    if (block[0] == kTimeOutEvent) ++run_.timeOuts;
    if (block[0] == kReplyEvent && !ReplyIsRight(block[1], index)) ++run_.badReplies;
    if (index > last_) return;
    run_.replyTimes.push_back(now);
    if (index == warmUp_) {
      cpuAtStart_ = CpuNs(CLOCK_THREAD_CPUTIME_ID);
      sleepsAtStart_ = ThreadSleeps();
      hostCpuAtStart_ = hostCpuNs_ ? hostCpuNs_() : 0;
    }
    if (index == last_) {
      run_.busyCpuNs = CpuNs(CLOCK_THREAD_CPUTIME_ID) - cpuAtStart_;
      run_.sleeps = ThreadSleeps() - sleepsAtStart_;
      run_.hostCpuNs = hostCpuNs_ ? hostCpuNs_() - hostCpuAtStart_ : 0;
      // Stopped here, before the next request goes: a query left outstanding by the stop would
      // be reported as timed out by the first tick after the next run's qbStart.
      qbStop();
      std::lock_guard lock(mutex_);
      finished_ = true;
      done_.notify_all();
    }
    // The library stamps the reply with its millisecond tick when this procedure returns, and
    // sends the next request at the first tick more than the wait rule after it: taken at the
    // return, the tick is the library's even where the procedure ran across a millisecond's edge.
    const int64_t tick = MonotonicNs() / 1'000'000;
    run_.ruleWaitNs.push_back((tick + waitRuleMs_ + 1) * 1'000'000 - now);
  }

  // The items are asked in registration order, item id i reading registers (i-1)*10 on.
  static bool ReplyIsRight(uint8_t itemId, size_t index) {
    if (itemId != index % kItems + 1) return false;
    if (qbGetLastRxItemId() != itemId || qbGetLastRxDataCount() != kRegistersPerItem) return false;
    const uint32_t start = (itemId - 1u) * kRegistersPerItem;
    for (int i = 0; i < kRegistersPerItem; ++i) {
      if (qbGetLastRxDataAtIndex(i) != RegisterValue(start + static_cast<uint32_t>(i)))
        return false;
    }
    return true;
  }

  const size_t warmUp_;
  const size_t last_;
  const int32_t waitRuleMs_;
  const std::function<int64_t()> hostCpuNs_;
  size_t events_ = 0;
  int64_t cpuAtStart_ = 0;
  int64_t sleepsAtStart_ = 0;
  int64_t hostCpuAtStart_ = 0;
  MasterRun run_;

  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  bool hasCpuClock_ = false;
  clockid_t cpuClock_{};
};

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Every transaction takes far less than this even at 9600 baud; a run that is slower has failed.
std::chrono::milliseconds Deadline(const LibraryConfig& config) {
  return std::chrono::milliseconds(10'000 + 200 * (config.warmUp + config.measured));
}

}  // namespace

MasterRun RunLibrary(const LibraryConfig& config, const std::string& devicePath) {
  qbSetHostWindowProc(&Recorder::Proc);
  qbSetRtuMode();
  qbSetPortDevice(kComPort, Widen(devicePath).c_str());
  if (qbOpenSerial(kComPort, config.baud) != 1) {
    MasterRun run;
    run.failure = "qbOpenSerial failed for " + devicePath;
    return run;
  }
  const int32_t gap = qbGetRtuTimeGap();
  const int32_t waitRule = config.queryIntervalMs <= gap ? gap : config.queryIntervalMs;
  Recorder recorder(config.warmUp, config.measured, waitRule, config.hostCpuNs);
  qbInit(&recorder, kEventMessage);
  qbSetTimeOut(config.timeOutMs);
  qbSetQueryInterval(config.queryIntervalMs);
  qbSetTimerPeriod(config.timerPeriodMs);
  for (int i = 0; i < kItems; ++i) {
    qbAutoWordRead(i + 1, kSlave, i * kRegistersPerItem, kRegistersPerItem);
  }

  qbStart();
  const bool finished = recorder.WaitDone(Deadline(config));
  qbStop();

  MasterRun run = std::move(recorder.Run());
  if (!finished) run.failure = "the library did not finish the run in time";
  if (finished && recorder.HasCpuClock() && config.idleSeconds > 0) {
    // Stopped with the port open: what the owner thread costs while the host polls nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The owner thread is the library's only thread.
    const clockid_t clock = recorder.CpuClock();
    const int64_t cpuBefore = CpuNs(clock);
    const int64_t wallBefore = MonotonicNs();
    std::this_thread::sleep_for(std::chrono::duration<double>(config.idleSeconds));
    const double cpuUs = static_cast<double>(CpuNs(clock) - cpuBefore) / 1e3;
    const double wallSeconds = static_cast<double>(MonotonicNs() - wallBefore) / 1e9;
    run.idleCpuUsPerSecond = cpuUs / wallSeconds;
  }
  qbUnregisterAllAutoItems();
  qbCloseSerial();
  qbInit(nullptr, kEventMessage);
  return run;
}

}  // namespace qb::bench
