// Pseudo-terminals for the integration tests: a single pty whose master side the test plays as a
// device, and a link of two ptys joined by a relay thread, so that the library and an independent
// peer (libmodbus, pymodbus) each open a device path of their own.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace qb::test {

class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) == 0) path_ = name;
    // Until somebody opens the slave side, reads on the master fail; keep the line configured raw
    // by opening it once here and closing again.
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Ok() const { return master_ >= 0 && !path_.empty(); }
  const std::string& Path() const { return path_; }
  std::u16string WidePath() const { return std::u16string(path_.begin(), path_.end()); }
  int Master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && std::chrono::steady_clock::now() < deadline) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }
  // Reads until count bytes have come or timeoutMs has passed.
  std::vector<uint8_t> Read(size_t count, int timeoutMs) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 5) <= 0 || (p.revents & POLLIN) == 0) continue;
      uint8_t buffer[512];
      const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - out.size()));
      if (n > 0) out.insert(out.end(), buffer, buffer + n);
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string path_;
};

// Two ptys whose master sides a thread joins, byte for byte, in both directions.
class PtyLink {
 public:
  PtyLink() {
    relay_ = std::thread([this] { Relay(); });
  }
  ~PtyLink() {
    stop_ = true;
    relay_.join();
  }
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  Pty& Library() { return a_; }
  Pty& Peer() { return b_; }

 private:
  void Relay() {
    while (!stop_) {
      pollfd fds[2] = {{a_.Master(), POLLIN, 0}, {b_.Master(), POLLIN, 0}};
      if (::poll(fds, 2, 10) <= 0) {
        continue;
      }
      for (int i = 0; i < 2; ++i) {
        if ((fds[i].revents & POLLIN) == 0) {
          // POLLHUP while nobody has the slave side open: wait for an open.
          if (fds[i].revents & POLLHUP) std::this_thread::sleep_for(std::chrono::milliseconds(2));
          continue;
        }
        uint8_t buffer[256];
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n <= 0) continue;
        const int to = fds[1 - i].fd;
        ssize_t done = 0;
        while (done < n && !stop_) {
          const ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
          if (w > 0) {
            done += w;
          } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }
      }
    }
  }

  Pty a_;
  Pty b_;
  std::atomic<bool> stop_{false};
  std::thread relay_;
};

}  // namespace qb::test
