// Helpers of the simulator tests: byte literals, a table-driven reference CRC and an LRC of the
// test's own, the master end of a pseudo-terminal served by an in-process simulator, and other
// programs (the quillbox command, mbpoll, Python) run with their output captured.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/serial_line.h"
#include "sim/simulator.h"

extern char** environ;

namespace qb::simtest {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using sim::SimulatorCounters;

// "01 03 0A" -> {0x01, 0x03, 0x0A}.
inline Bytes Hex(std::string text) {
  std::erase(text, ' ');
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return out;
}
inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// adu + CRC-16/MODBUS (low byte first), computed with a table built from the polynomial.
inline Bytes WithCrc(Bytes adu) {
  uint16_t table[256];
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int k = 0; k < 8; ++k) r = (r & 1) != 0 ? (r >> 1) ^ 0xA001 : r >> 1;
    table[i] = static_cast<uint16_t>(r);
  }
  uint16_t crc = 0xFFFF;
  for (const uint8_t b : adu) crc = static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ b) & 0xFF]);
  adu.push_back(static_cast<uint8_t>(crc & 0xFF));
  adu.push_back(static_cast<uint8_t>(crc >> 8));
  return adu;
}

// ':' + hex of adu + LRC (256 - byte sum) + CR LF.
inline Bytes AsciiFrame(const Bytes& adu) {
  std::string text = ":";
  unsigned sum = 0;
  char pair[3];
  for (const uint8_t b : adu) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
    sum += b;
  }
  std::snprintf(pair, sizeof pair, "%02X", (256 - (sum & 0xFF)) & 0xFF);
  return Text(text + pair + "\r\n");
}

// A master program's end of the line: the pseudo-terminal's path opened raw.
class LineClient {
 public:
  explicit LineClient(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~LineClient() { ::close(fd_); }
  bool Ok() const { return fd_ >= 0; }

  bool Write(const Bytes& bytes) {
    return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until count bytes have come or timeoutMs has passed; ArrivalTimes() has one entry per
  // byte.
  Bytes Read(size_t count, int timeoutMs) {
    Bytes out;
    arrivals_.clear();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd p{fd_, POLLIN, 0};
    while (out.size() < count && Clock::now() < deadline) {
      if (::poll(&p, 1, 10) <= 0) continue;
      uint8_t buffer[512];
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
      const auto now = Clock::now();
      for (ssize_t i = 0; i < n; ++i) {
        out.push_back(buffer[i]);
        arrivals_.push_back(now);
      }
    }
    return out;
  }
  bool Quiet(int ms) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
  }
  const std::vector<Clock::time_point>& ArrivalTimes() const { return arrivals_; }

 private:
  int fd_;
  std::vector<Clock::time_point> arrivals_;
};

// A simulator on a new pseudo-terminal with its own model.
struct SimOnPty {
  explicit SimOnPty(sim::SimulatorOptions options = {}, std::vector<uint8_t> slaves = {1},
                    sim::TableSizes sizes = {})
      : model(sizes) {
    for (const uint8_t s : slaves) model.AddSlave(s);
    std::string error;
    opened = pty.Open(&error);
    simulator = std::make_unique<sim::Simulator>(pty.MasterFd(), &model, std::move(options));
    started = opened && simulator->Start(&error);
  }
  bool Ready() const { return opened && started; }
  const std::string& Path() const { return pty.SlavePath(); }
  bool WaitCount(uint64_t SimulatorCounters::*field, uint64_t value) {
    return simulator->WaitFor([&](const SimulatorCounters& c) { return c.*field >= value; },
                              std::chrono::seconds(5));
  }
  // The counters once the picked one has reached value: a master can have a whole reply before
  // the simulator has counted it.
  SimulatorCounters CountersOnce(uint64_t SimulatorCounters::*field, uint64_t value) {
    WaitCount(field, value);
    return simulator->Counters();
  }

  sim::DeviceModel model;
  sim::PseudoTerminal pty;
  std::unique_ptr<sim::Simulator> simulator;
  bool opened = false;
  bool started = false;
};

struct ProcessResult {
  int exitCode = -1;  // -1 when killed
  std::string out;
  std::string err;
};

// A program started with its standard output and error read through pipes.
class Process {
 public:
  explicit Process(const std::vector<std::string>& argv) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    fds_[0] = {out[0], POLLIN, 0};
    fds_[1] = {err[0], POLLIN, 0};
  }
  ~Process() {
    Signal(SIGKILL);
    Finish(5000);
    ::close(fds_[0].fd);
    ::close(fds_[1].fd);
  }

  // The first line of standard output, without its newline.
  std::string ReadLine(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (result_.out.find('\n') == std::string::npos && Clock::now() < deadline) Pump();
    return result_.out.substr(0, result_.out.find('\n'));
  }
  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  // Waits for the end (killing the program at the deadline) and returns all it wrote.
  ProcessResult Finish(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
      Pump();
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
      } else if (Clock::now() > deadline) {
        Signal(SIGKILL);
      }
    }
    while (Pump()) {
    }
    return result_;
  }

 private:
  bool Pump() {
    if (::poll(fds_, 2, 10) <= 0) return false;
    bool got = false;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if ((fds_[i].revents & POLLIN) == 0) continue;
      const ssize_t n = ::read(fds_[i].fd, buffer, sizeof buffer);
      if (n > 0) (i == 0 ? result_.out : result_.err).append(buffer, static_cast<size_t>(n));
      got = got || n > 0;
    }
    return got;
  }

  pid_t pid_ = -1;
  pollfd fds_[2] = {{-1, 0, 0}, {-1, 0, 0}};
  ProcessResult result_;
};

inline ProcessResult Run(const std::vector<std::string>& argv, int timeoutMs = 10000) {
  return Process(argv).Finish(timeoutMs);
}

}  // namespace qb::simtest
