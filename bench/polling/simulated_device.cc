// Setting up the simulated device for a run and noting its request times from the simulator's
// log, which it writes on its own thread once per request and once per reply.
#include "simulated_device.h"

#include "monotonic_time.h"
#include "sim/line_pacing.h"

namespace qb::bench {

uint16_t RegisterValue(uint32_t address) {
  // Distinct in both bytes, so that a swapped or shifted word shows.
  return static_cast<uint16_t>(0x1100 + address * 0x0101u);
}

SimulatedDevice::~SimulatedDevice() { Stop(); }

bool SimulatedDevice::Start(const Options& options, std::string* error) {
  options_ = options;
  if (!terminal_.Open(error)) return false;
  model_ = std::make_unique<sim::DeviceModel>();
  model_->AddSlave(kSlave);
  std::vector<uint16_t> values(kItems * kRegistersPerItem);
  for (size_t i = 0; i < values.size(); ++i) values[i] = RegisterValue(static_cast<uint32_t>(i));
  model_->Set(kSlave, sim::Table::kHoldingRegisters, 0, values);

  sim::SimulatorOptions sim;
  sim.framing = sim::Framing::kRtu;
  sim.line.baud = options.baud;
  sim.paced = true;
  sim.faults.replyDelayMs = options.replyDelayMs;
  requestTimes_.clear();
  requestTimes_.reserve(options.maxRequests);
  replyEndTimes_.clear();
  replyEndTimes_.reserve(options.maxRequests);
  // Called on the simulator's thread right after a request is taken in, and right after the last
  // character time of a reply has passed. The vectors never grow past what was reserved, so they
  // never reallocate under that thread.
  sim.log = [this](const std::string& line) {
    if (!hasThreadClock_.load() && pthread_getcpuclockid(pthread_self(), &threadClock_) == 0) {
      hasThreadClock_.store(true);
    }
    std::vector<int64_t>* times = nullptr;
    if (line.rfind("request ", 0) == 0) times = &requestTimes_;
    if (line.rfind("  reply ", 0) == 0) times = &replyEndTimes_;
    if (times != nullptr && times->size() < times->capacity()) times->push_back(MonotonicNs());
  };

  // The request's own wire time, the silence, the delay, then the reply's characters.
  const sim::LinePacing pacing(sim.line, true);
  const size_t replyChars = 5 + 2 * kRegistersPerItem;
  replyEndAfterNs_ =
      (pacing.WireTime(8) + pacing.FrameSilence() + pacing.WireTime(replyChars)).count() * 1000 +
      int64_t{options.replyDelayMs} * 1'000'000;
  charNs_ = pacing.CharTime().count() * 1000;

  simulator_ = std::make_unique<sim::Simulator>(terminal_.MasterFd(), model_.get(), std::move(sim));
  return simulator_->Start(error);
}

void SimulatedDevice::Stop() {
  if (simulator_ != nullptr) simulator_->Stop();
}

int64_t SimulatedDevice::ThreadCpuNs() const {
  return hasThreadClock_.load() ? CpuNs(threadClock_) : 0;
}

sim::SimulatorCounters SimulatedDevice::Counters() const {
  return simulator_ != nullptr ? simulator_->Counters() : sim::SimulatorCounters{};
}

}  // namespace qb::bench
