// A pseudo-terminal standing in for a serial device: the port opens the slave by its path, the
// test plays the device on the master side. A slave descriptor opened before the port claims the
// device lets the test look at the terminal's settings and input queue (it never reads from it).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace qb::test {

class PtyPair {
 public:
  ~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  bool Open() {
    char name[128];
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
      return false;
    }
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return slave_ >= 0;
  }
  const std::string& Path() const { return path_; }
  int Master() const { return master_; }
  int Slave() const { return slave_; }
  // The device disappears: the slave side is hung up.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  bool WriteMaster(const std::vector<uint8_t>& bytes) {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until count bytes have come or timeoutMs has passed.
  std::vector<uint8_t> ReadMaster(size_t count, int timeoutMs = 5000) {
    std::vector<uint8_t> out(count);
    size_t got = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd p{master_, POLLIN, 0};
    while (got < count && std::chrono::steady_clock::now() < end) {
      const ssize_t n = ::poll(&p, 1, 10) > 0 ? ::read(master_, &out[got], count - got) : 0;
      got += static_cast<size_t>(std::max<ssize_t>(n, 0));
    }
    out.resize(got);
    return out;
  }
  // True when nothing (more) arrives at the master within ms.
  bool MasterQuiet(int ms) {
    pollfd p{master_, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
  }
  // Bytes written by the master that the port has not read yet (the terminal is in raw mode).
  int SlaveQueued() const {
    int n = -1;
    ::ioctl(slave_, FIONREAD, &n);
    return n;
  }
  bool WaitSlaveQueued(int count, int timeoutMs = 5000) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (SlaveQueued() != count) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace qb::test
