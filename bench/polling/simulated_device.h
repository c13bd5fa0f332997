// The device every master is measured against: the simulator on a fresh pseudo-terminal, paced
// like a real line (each reply byte one character time after the one before, and the reply only
// after the request's own wire time plus the 3.5-character silence), optionally answering late.
// It also notes when each request reached it and when each reply was done, so that a run can say
// where the time went.
#pragma once

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/device_model.h"
#include "sim/serial_line.h"
#include "sim/simulator.h"

namespace qb::bench {

// The polled registers: kItems items of kRegistersPerItem holding registers each, from address 0.
inline constexpr int kItems = 10;
inline constexpr int kRegistersPerItem = 10;
inline constexpr uint8_t kSlave = 1;

// The value the device holds in holding register `address`; every master checks what it reads.
uint16_t RegisterValue(uint32_t address);

class SimulatedDevice {
 public:
  struct Options {
    int baud = 9600;
    int replyDelayMs = 0;
    size_t maxRequests = 0;  // how many request times to keep
  };

  SimulatedDevice() = default;
  ~SimulatedDevice();
  SimulatedDevice(const SimulatedDevice&) = delete;
  SimulatedDevice& operator=(const SimulatedDevice&) = delete;

  // Opens the pseudo-terminal and starts serving; false with the reason.
  bool Start(const Options& options, std::string* error);
  // Stops serving; afterwards RequestTimes() and Counters() are final.
  void Stop();

  // The path a master opens as its serial port.
  const std::string& Path() const { return terminal_.SlavePath(); }
  // When each request was taken in and when each reply was finished (CLOCK_MONOTONIC ns), in
  // order; only valid after Stop().
  const std::vector<int64_t>& RequestTimes() const { return requestTimes_; }
  const std::vector<int64_t>& ReplyEndTimes() const { return replyEndTimes_; }
  sim::SimulatorCounters Counters() const;
  // The time from a request's arrival to the end of the last character of its reply, as the
  // simulator schedules it; it takes in nothing new before then.
  int64_t ReplyEndAfterNs() const { return replyEndAfterNs_; }
  // One character time of the line, as the simulator paces it.
  int64_t CharNs() const { return charNs_; }
  // CPU time of the simulator's thread so far (0 before its first request).
  int64_t ThreadCpuNs() const;

 private:
  Options options_;
  sim::PseudoTerminal terminal_;
  std::unique_ptr<sim::DeviceModel> model_;
  std::unique_ptr<sim::Simulator> simulator_;
  // Written only on the simulator's thread until Stop().
  std::vector<int64_t> requestTimes_;
  std::vector<int64_t> replyEndTimes_;
  std::atomic<bool> hasThreadClock_{false};
  clockid_t threadClock_{};  // written once, before hasThreadClock_ is set
  int64_t replyEndAfterNs_ = 0;
  int64_t charNs_ = 0;
};

}  // namespace qb::bench
