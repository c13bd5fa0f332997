// What one measured run of a master gives, and the figures derived from it. A run is a number of
// warm-up transactions followed by the measured ones; every figure is taken over the measured
// ones only, between the reply that ends the warm-up and the reply that ends the last measured
// transaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qb::bench {

struct MasterRun {
  size_t warmUp = 0;    // transactions before the measurement starts
  size_t measured = 0;  // transactions measured
  // When each reply reached the master (the library's event, libmodbus's return), CLOCK_MONOTONIC
  // ns, for every transaction of the run in order; warmUp + measured + 1 of them when complete.
  std::vector<int64_t> replyTimes;
  // For each reply, how long the master's own rule made it wait before it might send the next
  // request (the library's query interval or RTU gap, counted in its millisecond ticks); empty
  // for a master that does not wait.
  std::vector<int64_t> ruleWaitNs;
  // When the master wrote each request to its port (CLOCK_MONOTONIC ns), in order.
  std::vector<int64_t> writeTimes;
  int64_t busyCpuNs = 0;  // the master's thread over the measured transactions
  int64_t sleeps = 0;     // the master's thread's voluntary sleeps over them
  // Every thread of the process but the device's over the measured transactions: the library's
  // owner thread and any other thread it runs, or libmodbus's calling thread.
  int64_t hostCpuNs = 0;
  std::optional<double> idleCpuUsPerSecond;  // the master's thread while it has nothing to do
  size_t timeOuts = 0;
  size_t badReplies = 0;  // replies with the wrong item, count or values
  std::string failure;    // set when the run could not be made or did not finish

  bool Complete() const { return failure.empty() && replyTimes.size() >= warmUp + measured + 1; }
};

// Figures of a complete run, in microseconds per transaction unless named otherwise.
struct RunFigures {
  double transactionUs = 0;  // measured time per transaction
  double ruleWaitUs = 0;     // mean wait the master's rule imposed after each reply
  double ownerCpuUs = 0;     // CPU time of the master's thread per transaction
  double wakeUps = 0;        // times the master's thread slept and woke per transaction
  double hostCpuUs = 0;      // CPU time of every thread but the device's per transaction
  // From the device's own times; empty when they do not line up with the replies.
  // How much later than its schedule the device finished each reply: its own thread's lateness,
  // which every master inherits.
  std::optional<double> deviceLateUs;
  // From the device handing the reply's last byte over until the master had the reply.
  std::optional<double> readPathUs;
  // From the moment the master might send the next request (at once, or when its own rule allows
  // it), though not before the reply's last character time has run out, until the device had the
  // request.
  std::optional<double> sendPathUs;
  // From that same moment until the master wrote the request: the send path's own part, which is
  // all of it on a UART.
  std::optional<double> writePathUs;
};

// What the device recorded during a run.
struct DeviceTimes {
  const std::vector<int64_t>* requests = nullptr;   // when it took in each request
  const std::vector<int64_t>* replyEnds = nullptr;  // when it finished each reply
  int64_t replyEndAfterNs = 0;  // from a request to the end of its reply, as scheduled
  // One character time: the last byte is handed over this long before the reply's end.
  int64_t charNs = 0;
};

RunFigures Figure(const MasterRun& run, const DeviceTimes& device);

}  // namespace qb::bench
