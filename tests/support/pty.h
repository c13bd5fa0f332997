// Serial lines for the tests: one end of a line as a descriptor (writes, reads with a deadline,
// silence), a pseudo-terminal whose master side the test plays as the
// device, and a link of two pseudo-terminals joined by a relay thread, so that the library and an
// independent peer (libmodbus, pymodbus) each open a device path of their own.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace qb::test {

class LineEnd {
 public:
  using Clock = std::chrono::steady_clock;
  explicit LineEnd(int fd) : fd_(fd) {}
  // The device path opened raw, as a master program opens it.
  explicit LineEnd(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~LineEnd() { Close(); }
  LineEnd(const LineEnd&) = delete;
  LineEnd& operator=(const LineEnd&) = delete;

  bool Ok() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  // For a pty's master side: the device disappears, the slave side is hung up.
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Writes all bytes, waiting while the line is full (5 s at most).
  bool Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && Clock::now() < deadline) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    return done == bytes.size();
  }
  // Reads until count bytes have come or timeoutMs has passed.
  std::vector<uint8_t> Read(size_t count, int timeoutMs = 5000) {
    std::vector<uint8_t> out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd p{fd_, POLLIN, 0};
    while (out.size() < count && Clock::now() < deadline) {
      if (::poll(&p, 1, 5) <= 0 || (p.revents & POLLIN) == 0) continue;
      uint8_t buffer[512];
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
      if (n > 0) out.insert(out.end(), buffer, buffer + n);
    }
    return out;
  }
  // True when nothing (more) arrives within ms.
  bool Quiet(int ms) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
  }

 protected:
  int fd_;
};

// The port opens Path(); the test is the device on the master side.
class Pty : public LineEnd {
 public:
  Pty() : LineEnd(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    char name[128];
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0 ||
        ::ptsname_r(fd_, name, sizeof name) != 0) {
      return;
    }
    // Raw from the start: in its default cooked mode the terminal would echo what the test writes
    // before the program under test has opened and configured it.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (slave >= 0 && ::tcgetattr(slave, &t) == 0) {
      ::cfmakeraw(&t);
      if (::tcsetattr(slave, TCSANOW, &t) == 0) path_ = name;
    }
    if (slave >= 0) ::close(slave);
  }
  ~Pty() {
    if (slave_ >= 0) ::close(slave_);
  }
  bool Ok() const { return LineEnd::Ok() && !path_.empty(); }
  const std::string& Path() const { return path_; }
  std::u16string WidePath() const { return std::u16string(path_.begin(), path_.end()); }

  // Opens the slave side before the port claims the device and keeps it (never reading from it),
  // so that the test can look at the terminal's settings and input queue.
  bool HoldSlave() {
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return slave_ >= 0;
  }
  int Slave() const { return slave_; }
  // Bytes written on the master side that the port has not read yet (the terminal is raw).
  int SlaveQueued() const {
    int n = -1;
    ::ioctl(slave_, FIONREAD, &n);
    return n;
  }
  bool WaitSlaveQueued(int count, int timeoutMs = 5000) const {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (SlaveQueued() != count) {
      if (Clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  std::string path_;
  int slave_ = -1;
};

// Two ptys whose master sides a thread joins, byte for byte, in both directions.
class PtyLink {
 public:
  PtyLink() : relay_([this] { Relay(); }) {}
  ~PtyLink() {
    stop_ = true;
    relay_.join();
  }
  Pty& Library() { return a_; }
  Pty& Peer() { return b_; }

 private:
  void Relay() {
    while (!stop_) {
      pollfd fds[2] = {{a_.Fd(), POLLIN, 0}, {b_.Fd(), POLLIN, 0}};
      if (::poll(fds, 2, 10) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if ((fds[i].revents & POLLIN) == 0) {
          // POLLHUP while nobody has the slave side open: wait for an open.
          if (fds[i].revents & POLLHUP) std::this_thread::sleep_for(std::chrono::milliseconds(2));
          continue;
        }
        uint8_t buffer[256];
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) (i == 0 ? b_ : a_).Write(std::vector<uint8_t>(buffer, buffer + n));
      }
    }
  }

  Pty a_;
  Pty b_;
  std::atomic<bool> stop_{false};
  std::thread relay_;
};

}  // namespace qb::test
