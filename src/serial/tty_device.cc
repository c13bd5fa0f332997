// The Linux driver operations of the port. The kernel's termios2 record is used instead of the C
// library's termios because it carries any baud rate (BOTHER); the two cannot be included together,
// so the terminal requests are issued here as the raw ioctl calls that the C library would make.
#include "serial/tty_device.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace qb {
namespace {

int ModemBit(ModemLine line) { return line == ModemLine::kRts ? TIOCM_RTS : TIOCM_DTR; }

}  // namespace

bool ReadLineSettings(int fd, LineSettings* out) {
  termios2 t{};
  if (fd < 0 || ::ioctl(fd, TCGETS2, &t) != 0) return false;
  out->inputFlags = t.c_iflag;
  out->outputFlags = t.c_oflag;
  out->controlFlags = t.c_cflag;
  out->localFlags = t.c_lflag;
  out->minBytes = t.c_cc[VMIN];
  out->interByteTime = t.c_cc[VTIME];
  out->inputSpeed = t.c_ispeed;
  out->outputSpeed = t.c_ospeed;
  return true;
}

bool TtyDevice::ReadSettings(LineSettings* out) const { return ReadLineSettings(fd_, out); }

int TtyDevice::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  // The lock is what keeps a second open out, including one of ours in this process and one by a
  // privileged process (the driver's exclusive mode does not stop those).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return err;
  }
  // Any terminal takes this request; a device that does not is not a serial port.
  if (::ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno;
    ::close(fd);
    return err;
  }
  fd_ = fd;
  noModemLines_ = false;
  return 0;
}

void TtyDevice::Close() {
  if (fd_ < 0) return;
  DisableKernelRs485();
  if (savedSerialFlags_) {
    serial_struct serial{};
    if (::ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
      serial.flags = *savedSerialFlags_;
      ::ioctl(fd_, TIOCSSERIAL, &serial);
    }
    savedSerialFlags_.reset();
  }
  // Exclusive mode belongs to the terminal, not to this open: it would outlive the close while
  // another descriptor of the terminal stays open.
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

void TtyDevice::ForgetAfterFork() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TtyDevice::ApplySettings(const LineSettings& settings) {
  termios2 t{};
  if (fd_ < 0 || ::ioctl(fd_, TCGETS2, &t) != 0) return false;
  t.c_iflag = settings.inputFlags;
  t.c_oflag = settings.outputFlags;
  t.c_cflag = settings.controlFlags;
  t.c_lflag = settings.localFlags;
  t.c_cc[VMIN] = settings.minBytes;
  t.c_cc[VTIME] = settings.interByteTime;
  t.c_ispeed = settings.inputSpeed;
  t.c_ospeed = settings.outputSpeed;
  return ::ioctl(fd_, TCSETS2, &t) == 0;
}

bool TtyDevice::FlushBoth() { return fd_ >= 0 && ::ioctl(fd_, TCFLSH, TCIOFLUSH) == 0; }

bool TtyDevice::FlushOutput() { return fd_ >= 0 && ::ioctl(fd_, TCFLSH, TCOFLUSH) == 0; }

bool TtyDevice::Drain() {
  if (fd_ < 0) return false;
  for (;;) {
    if (::ioctl(fd_, TCSBRK, 1) == 0) return true;
    if (errno != EINTR) return false;
  }
}

int TtyDevice::WriteAll(const uint8_t* data, size_t count, uint64_t budgetMs) {
  if (fd_ < 0) return EBADF;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(budgetMs);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return errno;
    // The driver's queue is full: wait for room, but not past the write's time budget.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return ETIMEDOUT;
    pollfd p{fd_, POLLOUT, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left > 60000 ? 60000 : left));
    if (r < 0 && errno != EINTR) return errno;
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return EIO;
  }
  return 0;
}

bool TtyDevice::SetModemLine(ModemLine line, bool raised) {
  if (fd_ < 0 || noModemLines_) return false;
  const int bit = ModemBit(line);
  if (::ioctl(fd_, raised ? TIOCMBIS : TIOCMBIC, &bit) == 0) return true;
  if (errno == ENOTTY) noModemLines_ = true;
  return false;
}

bool TtyDevice::EnableLowLatency() {
  serial_struct serial{};
  if (fd_ < 0 || ::ioctl(fd_, TIOCGSERIAL, &serial) != 0) return false;
  if ((serial.flags & ASYNC_LOW_LATENCY) != 0) return true;
  const int before = serial.flags;
  serial.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(fd_, TIOCSSERIAL, &serial) != 0) return false;
  if (!savedSerialFlags_) savedSerialFlags_ = before;
  return true;
}

bool TtyDevice::EnableKernelRs485(uint32_t delayBeforeMs, uint32_t delayAfterMs) {
  if (fd_ < 0) return false;
  serial_rs485 current{};
  const bool known = ::ioctl(fd_, TIOCGRS485, &current) == 0;
  serial_rs485 wanted{};
  // RTS_ON_SEND stays clear: RTS is cleared while sending and raised after, the polarity of the
  // port's own sequence, so that a transceiver wired for one works with the other.
  wanted.flags = SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND;
  wanted.delay_rts_before_send = delayBeforeMs;
  wanted.delay_rts_after_send = delayAfterMs;
  if (::ioctl(fd_, TIOCSRS485, &wanted) != 0) return false;
  if (!savedRs485_) {
    savedRs485_ = known ? SavedRs485{current.flags, current.delay_rts_before_send,
                                     current.delay_rts_after_send}
                        : SavedRs485{0, 0, 0};
  }
  return true;
}

void TtyDevice::DisableKernelRs485() {
  if (fd_ < 0 || !savedRs485_) return;
  serial_rs485 old{};
  old.flags = savedRs485_->flags;
  old.delay_rts_before_send = savedRs485_->delayBefore;
  old.delay_rts_after_send = savedRs485_->delayAfter;
  ::ioctl(fd_, TIOCSRS485, &old);
  savedRs485_.reset();
}

}  // namespace qb
