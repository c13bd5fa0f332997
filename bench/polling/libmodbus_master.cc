// libmodbus has no thread of its own: the calling thread is its owner thread, so its CPU time over
// the measured calls is the master's; it has no idle cost to measure.
#include "libmodbus_master.h"

#include <modbus.h>

#include <time.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "monotonic_time.h"
#include "simulated_device.h"

namespace qb::bench {
namespace {

struct ModbusFree {
  void operator()(modbus_t* ctx) const {
    modbus_close(ctx);
    modbus_free(ctx);
  }
};

bool ValuesAreRight(const uint16_t* values, int item) {
  const uint32_t start = static_cast<uint32_t>(item * kRegistersPerItem);
  for (int i = 0; i < kRegistersPerItem; ++i) {
    if (values[i] != RegisterValue(start + static_cast<uint32_t>(i))) return false;
  }
  return true;
}

// Waits until `edge` (CLOCK_MONOTONIC ns): a timed sleep to 150 us before it, then a spin, so that
// the wake-up's own lateness does not count.
void WaitUntilEdge(int64_t edge) {
  constexpr int64_t kSpinNs = 150'000;
  const int64_t wakeAt = edge - kSpinNs;
  if (MonotonicNs() < wakeAt) {
    const timespec when{static_cast<time_t>(wakeAt / 1'000'000'000), wakeAt % 1'000'000'000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
  }
  while (MonotonicNs() < edge) {
  }
}

}  // namespace

MasterRun RunLibmodbus(const LibmodbusConfig& config, const std::string& devicePath) {
  MasterRun run;
  run.warmUp = config.warmUp;
  run.measured = config.measured;
  std::unique_ptr<modbus_t, ModbusFree> ctx(
      modbus_new_rtu(devicePath.c_str(), config.baud, 'N', 8, 1));
  if (ctx == nullptr) {
    run.failure = std::string("modbus_new_rtu: ") + modbus_strerror(errno);
    return run;
  }
  modbus_set_slave(ctx.get(), kSlave);
  modbus_set_response_timeout(ctx.get(), static_cast<uint32_t>(config.timeOutMs / 1000),
                              static_cast<uint32_t>(config.timeOutMs % 1000) * 1000u);
  if (modbus_connect(ctx.get()) != 0) {
    run.failure = std::string("modbus_connect: ") + modbus_strerror(errno);
    return run;
  }

  const size_t last = config.warmUp + config.measured;
  run.replyTimes.reserve(last + 1);
  run.ruleWaitNs.reserve(last + 1);
  int64_t cpuAtStart = 0;
  int64_t sleepsAtStart = 0;
  int64_t hostCpuAtStart = 0;
  uint16_t values[kRegistersPerItem];
  for (size_t k = 0; k <= last; ++k) {
    const int item = static_cast<int>(k % kItems);
    const int read =
        modbus_read_registers(ctx.get(), item * kRegistersPerItem, kRegistersPerItem, values);
    const int64_t replyTime = MonotonicNs();
    run.replyTimes.push_back(replyTime);
    if (config.waitRuleMs > 0) {
      const int64_t edge = (replyTime / 1'000'000 + config.waitRuleMs + 1) * 1'000'000;
      run.ruleWaitNs.push_back(edge - replyTime);
      WaitUntilEdge(edge);
    }
    if (read < 0 && errno == ETIMEDOUT) {
      ++run.timeOuts;
    } else if (read != kRegistersPerItem || !ValuesAreRight(values, item)) {
      ++run.badReplies;
    }
    if (k == config.warmUp) {
      cpuAtStart = CpuNs(CLOCK_THREAD_CPUTIME_ID);
      sleepsAtStart = ThreadSleeps();
      hostCpuAtStart = config.hostCpuNs ? config.hostCpuNs() : 0;
    }
  }
  run.busyCpuNs = CpuNs(CLOCK_THREAD_CPUTIME_ID) - cpuAtStart;
  run.sleeps = ThreadSleeps() - sleepsAtStart;
  run.hostCpuNs = config.hostCpuNs ? config.hostCpuNs() - hostCpuAtStart : 0;
  return run;
}

}  // namespace qb::bench
