// Pseudo-terminals and serial devices through POSIX terminal calls.
#include "sim/serial_line.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qb::sim {
namespace {

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

bool SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

speed_t SpeedConstant(int baud) {
  switch (baud) {
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return B0;
  }
}

// UNIX 98 pseudo-terminal slaves (/dev/pts/N) have the device majors 136 to 143.
bool IsPseudoTerminalSlave(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned int devMajor = major(info.st_rdev);
  return devMajor >= 136 && devMajor <= 143;
}

void MakeRaw(termios* t, const LineFormat& format) {
  ::cfmakeraw(t);
  t->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t->c_cflag |= CLOCAL | CREAD | (format.dataBits == 7 ? CS7 : CS8);
  if (format.parity != 'N') t->c_cflag |= PARENB;
  if (format.parity == 'O') t->c_cflag |= PARODD;
  if (format.stopBits == 2) t->c_cflag |= CSTOPB;
  t->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
}

}  // namespace

PseudoTerminal::~PseudoTerminal() { Close(); }

bool PseudoTerminal::Open(std::string* error) {
  Close();
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) return SetError(error, Reason("cannot create a pseudo-terminal"));
  char name[256];
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0) {
    const std::string reason = Reason("cannot unlock the pseudo-terminal");
    Close();
    return SetError(error, reason);
  }
  keepSlave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  if (keepSlave_ < 0 || ::tcgetattr(keepSlave_, &t) != 0) {
    const std::string reason = Reason(std::string("cannot open ") + name);
    Close();
    return SetError(error, reason);
  }
  MakeRaw(&t, LineFormat{});
  ::cfsetspeed(&t, B9600);
  if (::tcsetattr(keepSlave_, TCSANOW, &t) != 0) {
    const std::string reason = Reason(std::string("cannot configure ") + name);
    Close();
    return SetError(error, reason);
  }
  path_ = name;
  return true;
}

void PseudoTerminal::Close() {
  if (keepSlave_ >= 0) ::close(keepSlave_);
  if (master_ >= 0) ::close(master_);
  keepSlave_ = -1;
  master_ = -1;
  path_.clear();
}

int OpenSerialDevice(const std::string& path, const LineFormat& format, std::string* error) {
  const std::string bad = CheckLineFormat(format);
  if (!bad.empty()) {
    SetError(error, bad);
    return -1;
  }
  const speed_t speed = SpeedConstant(format.baud);
  if (speed == B0) {
    SetError(error, "baud rate " + std::to_string(format.baud) + " is not offered by the driver");
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, Reason("cannot open " + path));
    return -1;
  }
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    SetError(error, Reason(path + " is not a serial device"));
    ::close(fd);
    return -1;
  }
  // A pseudo-terminal carries 8-bit characters without parity whatever it is told, and the C
  // library reports a setting the terminal did not take as an error. The line's format still
  // decides the character time of a paced simulator.
  LineFormat settable = format;
  if (IsPseudoTerminalSlave(fd)) {
    settable.dataBits = 8;
    settable.parity = 'N';
  }
  MakeRaw(&t, settable);
  if (::cfsetspeed(&t, speed) != 0 || ::tcsetattr(fd, TCSANOW, &t) != 0) {
    SetError(error, Reason("cannot configure " + path));
    ::close(fd);
    return -1;
  }
  ::tcflush(fd, TCIOFLUSH);
  return fd;
}

}  // namespace qb::sim
