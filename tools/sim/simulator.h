// The simulated device on a line: a thread that reads requests from a file descriptor (the master
// side of a pseudo-terminal or a serial device), serves them from the device model and writes the
// replies, with the configured faults and, when asked, at the pace of a real line. Start() and
// Stop() may be called from any one controlling thread; Stop() returns within a few milliseconds
// even in the middle of a slow, paced reply.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/device_model.h"
#include "sim/fault_options.h"
#include "sim/framer.h"
#include "sim/line_pacing.h"
#include "sim/modbus_codec.h"
#include "sim/plc_slave.h"

namespace qb::sim {

struct SimulatorOptions {
  Framing framing = Framing::kRtu;
  RtuBoundary boundary = RtuBoundary::kLengthOrSilence;
  LineFormat line{};
  // Paced: every reply byte goes out one character time after the one before, and a reply starts
  // no earlier than the request could have ended on a real line (its first byte's arrival plus
  // its own wire time), plus the 3.5-character silence in RTU.
  bool paced = false;
  FaultOptions faults{};
  // Called on the simulator's thread with one line of text per request and per reply; optional.
  std::function<void(const std::string&)> log{};
};

struct SimulatorCounters {
  uint64_t bytesIn = 0;
  uint64_t bytesOut = 0;
  uint64_t requests = 0;          // good frames for a simulated slave, broadcasts included
  uint64_t broadcasts = 0;        // requests to address 0 (never answered)
  uint64_t notAddressed = 0;      // good frames for slaves that are not simulated (not answered)
  uint64_t replies = 0;           // replies written in full, exception replies included
  uint64_t exceptions = 0;        // exception replies (a controller's NAKs) written
  uint64_t acknowledgements = 0;  // MBFX: the master's acknowledgements of read replies
  uint64_t unacknowledged = 0;    // MBFX: requests that came instead, not served
  uint64_t checksumErrors = 0;
  uint64_t malformed = 0;
  uint64_t strayBytes = 0;
  uint64_t dropped = 0;  // replies left out by the drop fault
  uint64_t corrupted = 0;
  uint64_t noisy = 0;
  uint64_t split = 0;
};

class Simulator {
 public:
  // fd stays the caller's: it must stay open until Stop() and is not closed here.
  Simulator(int fd, DeviceModel* model, SimulatorOptions options);
  // A controller of an ASCII link protocol instead of Modbus slaves; options.framing and
  // options.boundary are not used.
  Simulator(int fd, std::unique_ptr<PlcSlave> controller, SimulatorOptions options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Starts the thread; false (with the reason) when it runs already or cannot start.
  bool Start(std::string* error);
  // Ends the thread; a reply in progress is cut off. Counters stay readable.
  void Stop();
  bool Running() const;

  SimulatorCounters Counters() const;
  // Waits until done(Counters()) holds; false when timeout passed first.
  bool WaitFor(const std::function<bool(const SimulatorCounters&)>& done,
               std::chrono::milliseconds timeout) const;
  // Set when the line failed (an error reading or writing other than a pseudo-terminal with no
  // program on its other side) and the thread ended by itself.
  std::string Failure() const;

 private:
  using Clock = std::chrono::steady_clock;

  void Run();
  void Serve(const ReceivedFrame& frame);
  void ServeController(const ReceivedFrame& frame);
  // Writes one shaped reply at its time (paced: `silence` after requestEnd, when the request
  // could have ended on the wire; then `wait`); false when it was cut off.
  bool SendReply(Clock::time_point requestEnd, const ShapedReply& reply,
                 std::chrono::microseconds silence, std::chrono::milliseconds wait);
  bool StopRequested() const;
  // Sleeps until `when`; false when Stop() came first.
  bool SleepUntil(Clock::time_point when);
  bool WriteAll(const std::vector<uint8_t>& bytes);
  bool WriteSome(const uint8_t* data, size_t count);
  void Update(const std::function<void(SimulatorCounters&)>& change);
  void Fail(const std::string& reason);
  void Log(const std::string& line) const;

  int fd_;
  DeviceModel* model_ = nullptr;
  std::unique_ptr<PlcSlave> controller_;
  SimulatorOptions options_;
  LinePacing pacing_;
  Clock::time_point origin_;
  uint64_t replyNumber_ = 0;
  bool lineFailed_ = false;  // the thread's own: set by Fail(), ends the thread
  // The controller's own counts of frames it could not take, added to the framer's.
  uint64_t controllerChecksumErrors_ = 0;
  uint64_t controllerMalformed_ = 0;
  // Paced controller: when the master's last frame (an MBFX acknowledgement included) could have
  // ended on the wire; the next one cannot start before.
  Clock::time_point masterLineFree_{};

  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  SimulatorCounters counters_;
  std::string failure_;
  bool running_ = false;
};

}  // namespace qb::sim
