// The simulator's thread: poll the line and a wake-up pipe, frame the bytes, serve the requests,
// write the replies. Every wait of the thread (for bytes, for the line to take bytes, for a reply's
// time) also waits on the wake-up pipe, which Stop() makes readable for good.
#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "sim/ascii_frames.h"
#include "sim/modbus_slave.h"
#include "sim/plc_framer.h"

namespace qb::sim {
namespace {

// A line that takes no byte for this long is stuck (nobody reads the other side).
constexpr auto kWriteStall = std::chrono::seconds(2);
// How long to wait before looking again at a pseudo-terminal that nobody has open.
constexpr auto kHangUpRetry = std::chrono::milliseconds(20);

timespec ToTimespec(std::chrono::nanoseconds d) {
  if (d < std::chrono::nanoseconds::zero()) d = std::chrono::nanoseconds::zero();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(d);
  return timespec{static_cast<time_t>(seconds.count()), static_cast<long>((d - seconds).count())};
}

bool IsPseudoTerminalMaster(int fd) {
  char name[128];
  return ::ptsname_r(fd, name, sizeof name) == 0;
}

}  // namespace

Simulator::Simulator(int fd, DeviceModel* model, SimulatorOptions options)
    : fd_(fd),
      model_(model),
      options_(std::move(options)),
      pacing_(options_.line, options_.paced) {}

Simulator::Simulator(int fd, std::unique_ptr<PlcSlave> controller, SimulatorOptions options)
    : fd_(fd),
      controller_(std::move(controller)),
      options_(std::move(options)),
      pacing_(options_.line, options_.paced) {}

Simulator::~Simulator() {
  Stop();
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

bool Simulator::Start(std::string* error) {
  if (thread_.joinable()) {
    if (error != nullptr) *error = "the simulator runs already";
    return false;
  }
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    wakeRead_ = wakeWrite_ = -1;
    if (error != nullptr) *error = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
  {
    std::lock_guard lock(mutex_);
    failure_.clear();
    running_ = true;
  }
  lineFailed_ = false;
  origin_ = Clock::now();
  thread_ = std::thread([this] { Run(); });
  return true;
}

void Simulator::Stop() {
  if (!thread_.joinable()) return;
  const uint8_t byte = 1;
  while (::write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
}

bool Simulator::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

SimulatorCounters Simulator::Counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

bool Simulator::WaitFor(const std::function<bool(const SimulatorCounters&)>& done,
                        std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(counters_); });
}

std::string Simulator::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void Simulator::Update(const std::function<void(SimulatorCounters&)>& change) {
  {
    std::lock_guard lock(mutex_);
    change(counters_);
  }
  changed_.notify_all();
}

void Simulator::Fail(const std::string& reason) {
  lineFailed_ = true;
  {
    std::lock_guard lock(mutex_);
    failure_ = reason;
  }
  Log("line failed: " + reason);
}

void Simulator::Log(const std::string& line) const {
  if (options_.log) options_.log(line);
}

void Simulator::Run() {
  prctl(PR_SET_NAME, "sim-device", 0UL, 0UL, 0UL);  // told apart from the master in top and perf
  std::unique_ptr<RequestFramer> framerOwner;
  if (controller_) {
    framerOwner = std::make_unique<PlcFramer>(controller_.get());
  } else {
    framerOwner =
        std::make_unique<Framer>(options_.framing, pacing_.FrameSilence(), options_.boundary);
  }
  RequestFramer& framer = *framerOwner;
  const auto since = [this] {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin_);
  };
  const auto syncFramer = [&] {
    const FramerCounters& f = framer.Counters();
    Update([&](SimulatorCounters& c) {
      c.checksumErrors = f.checksumErrors + controllerChecksumErrors_;
      c.malformed = f.malformed + controllerMalformed_;
      c.strayBytes = f.strayBytes;
    });
  };
  if (pacing_.Paced()) {
    // Paced replies are timed to the character: let the thread's timed waits end on time instead
    // of up to the kernel's default 50 us of slack later.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  }
  while (!lineFailed_ && !StopRequested()) {
    // Frames that came together are served in turn; Stop() leaves the rest unanswered.
    while (!lineFailed_ && !StopRequested()) {
      auto frame = framer.Take(since());
      if (!frame) break;
      Serve(*frame);
    }
    syncFramer();
    if (lineFailed_ || StopRequested()) break;

    const auto deadline = framer.SilenceDeadline();
    timespec wait{};
    if (deadline) wait = ToTimespec(*deadline - since());
    pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {fd_, POLLIN, 0}};
    const int ready = ::ppoll(fds, 2, deadline ? &wait : nullptr, nullptr);
    if (ready < 0 && errno != EINTR) {
      Fail(std::string("poll: ") + std::strerror(errno));
      break;
    }
    if (ready <= 0) continue;
    if (fds[0].revents != 0) break;  // Stop()
    if ((fds[1].revents & POLLNVAL) != 0) {
      Fail("the line's descriptor is not open");
      break;
    }
    if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    uint8_t buffer[512];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      Update([&](SimulatorCounters& c) { c.bytesIn += static_cast<uint64_t>(n); });
      framer.Feed(std::span(buffer, static_cast<size_t>(n)), since());
    } else if (n == 0 || (errno == EIO && IsPseudoTerminalMaster(fd_))) {
      // A pseudo-terminal whose other side nobody has open: wait for a program to open it.
      if (!SleepUntil(Clock::now() + kHangUpRetry)) break;
    } else if (errno != EAGAIN && errno != EINTR) {
      Fail(std::string("read: ") + std::strerror(errno));
      break;
    }
  }
  syncFramer();
  {
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  changed_.notify_all();
}

void Simulator::Serve(const ReceivedFrame& frame) {
  if (controller_) {
    ServeController(frame);
    return;
  }
  const uint8_t address = frame.adu[0];
  const std::span<const uint8_t> pdu(frame.adu.data() + 1, frame.adu.size() - 1);
  ModbusSlave slave(model_);
  SlaveResult result = slave.Handle(address, pdu);
  Log("request " + HexDump(frame.adu));
  if (result.outcome == Outcome::kNotAddressed) {
    Update([](SimulatorCounters& c) { ++c.notAddressed; });
    Log("  not a simulated slave: no reply");
    return;
  }
  Update([&](SimulatorCounters& c) {
    ++c.requests;
    if (result.outcome == Outcome::kBroadcast) ++c.broadcasts;
  });
  if (result.outcome == Outcome::kBroadcast) {
    Log("  broadcast: no reply");
    return;
  }

  std::vector<uint8_t> adu{address};
  adu.insert(adu.end(), result.pdu.begin(), result.pdu.end());
  const ShapedReply reply =
      ShapeReply(options_.faults, ++replyNumber_, options_.framing, Encode(options_.framing, adu));
  if (reply.dropped) {
    Update([](SimulatorCounters& c) { ++c.dropped; });
    Log("  reply " + HexDump(adu) + " dropped");
    return;
  }

  const auto silence = options_.framing == Framing::kRtu ? pacing_.FrameSilence()
                                                         : std::chrono::microseconds::zero();
  // The request cannot have ended before its last character was on the wire.
  const auto requestEnd = origin_ + frame.firstByte + pacing_.WireTime(frame.wireBytes);
  if (!SendReply(requestEnd, reply, silence, std::chrono::milliseconds::zero())) return;
  const bool exception = result.outcome == Outcome::kException;
  Update([&](SimulatorCounters& c) {
    ++c.replies;
    if (exception) ++c.exceptions;
    if (reply.corrupted) ++c.corrupted;
    if (reply.noisy) ++c.noisy;
    if (reply.split) ++c.split;
  });
  std::string note;
  if (reply.corrupted) note += " corrupted";
  if (reply.noisy) note += " with noise";
  if (reply.split) note += " split";
  Log("  reply " + HexDump(adu) + note);
}

void Simulator::ServeController(const ReceivedFrame& frame) {
  PlcAnswer answer = controller_->Handle(frame.adu);
  masterLineFree_ =
      std::max(origin_ + frame.firstByte, masterLineFree_) + pacing_.WireTime(frame.wireBytes);
  Log("request " + ascii::Printable(frame.adu) + (answer.note.empty() ? "" : "  " + answer.note));
  switch (answer.outcome) {
    case PlcOutcome::kChecksumError:
      ++controllerChecksumErrors_;
      Log("  bad check sum: no reply");
      return;
    case PlcOutcome::kMalformed:
      ++controllerMalformed_;
      return;
    case PlcOutcome::kNotAddressed:
      Update([](SimulatorCounters& c) { ++c.notAddressed; });
      return;
    case PlcOutcome::kAcknowledged:
      Update([](SimulatorCounters& c) { ++c.acknowledgements; });
      return;
    case PlcOutcome::kUnacknowledged:
      Update([](SimulatorCounters& c) { ++c.unacknowledged; });
      return;
    case PlcOutcome::kReply:
    case PlcOutcome::kRefused:
      break;
  }
  Update([](SimulatorCounters& c) { ++c.requests; });
  const ShapedReply reply =
      ShapeReply(options_.faults, ++replyNumber_, answer.reply,
                 [this](std::vector<uint8_t>* f) { return controller_->Corrupt(f); });
  if (reply.dropped) {
    controller_->ReplyLost();
    Update([](SimulatorCounters& c) { ++c.dropped; });
    Log("  reply " + ascii::Printable(answer.reply) + " dropped");
    return;
  }
  if (!SendReply(masterLineFree_, reply, std::chrono::microseconds::zero(),
                 std::chrono::milliseconds(answer.waitMs)))
    return;
  const bool refused = answer.outcome == PlcOutcome::kRefused;
  Update([&](SimulatorCounters& c) {
    ++c.replies;
    if (refused) ++c.exceptions;
    if (reply.corrupted) ++c.corrupted;
    if (reply.noisy) ++c.noisy;
    if (reply.split) ++c.split;
  });
  Log("  reply " + ascii::Printable(answer.reply) + (reply.corrupted ? " corrupted" : "") +
      (reply.noisy ? " with noise" : "") + (reply.split ? " split" : ""));
}

bool Simulator::SendReply(Clock::time_point requestEnd, const ShapedReply& reply,
                          std::chrono::microseconds silence, std::chrono::milliseconds wait) {
  auto start = Clock::now();
  if (pacing_.Paced()) start = std::max(start, requestEnd) + silence;
  start += wait + std::chrono::milliseconds(std::max(options_.faults.replyDelayMs, 0));
  if (!SleepUntil(start) || !WriteAll(reply.first)) return false;
  if (reply.split) {
    const auto gap = std::chrono::milliseconds(std::max(options_.faults.splitGapMs, 0));
    if (!SleepUntil(Clock::now() + gap) || !WriteAll(reply.second)) return false;
  }
  return true;
}

bool Simulator::StopRequested() const {
  pollfd wake{wakeRead_, POLLIN, 0};
  return ::poll(&wake, 1, 0) > 0;
}

bool Simulator::SleepUntil(Clock::time_point when) {
  for (;;) {
    const auto left = when - Clock::now();
    pollfd wake{wakeRead_, POLLIN, 0};
    const timespec wait = ToTimespec(left);
    const int ready = ::ppoll(&wake, 1, &wait, nullptr);
    if (ready > 0) return false;
    if (ready == 0 && Clock::now() >= when) return true;
  }
}

bool Simulator::WriteAll(const std::vector<uint8_t>& bytes) {
  if (!pacing_.Paced()) return WriteSome(bytes.data(), bytes.size());
  // One character at a time, each at its own place on a schedule, so that delays do not add up.
  const auto begin = Clock::now();
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (!SleepUntil(begin + pacing_.CharTime() * static_cast<int64_t>(i))) return false;
    if (!WriteSome(&bytes[i], 1)) return false;
  }
  // The last character leaves the line one character time after it was started.
  return SleepUntil(begin + pacing_.WireTime(bytes.size()));
}

bool Simulator::WriteSome(const uint8_t* data, size_t count) {
  size_t done = 0;
  auto stallSince = Clock::now();
  while (done < count) {
    const ssize_t n = ::write(fd_, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      Update([&](SimulatorCounters& c) { c.bytesOut += static_cast<uint64_t>(n); });
      stallSince = Clock::now();
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
      Fail(std::string("write: ") + std::strerror(errno));
      return false;
    }
    if (Clock::now() - stallSince > kWriteStall) {
      Log("  the line takes no bytes: reply abandoned");
      return false;
    }
    pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {fd_, POLLOUT, 0}};
    const timespec wait = ToTimespec(std::chrono::milliseconds(10));
    if (::ppoll(fds, 2, &wait, nullptr) > 0 && fds[0].revents != 0) return false;
  }
  return true;
}

}  // namespace qb::sim
