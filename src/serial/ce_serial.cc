// The serial port on Linux (see ce_serial.h): open and close, the RS-485 write sequence, and the
// reader thread with its hand-off of chunks to the owner thread.
#include "serial/ce_serial.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "platform/code_page.h"
#include "serial/line_settings.h"

namespace qb {
namespace {

// The driver must take a frame within 10 ms per byte, or the write gives up.
constexpr uint64_t kWriteMsPerByte = 10;

const char* ErrorText(int err) {
  const char* text = strerrordesc_np(err);
  return text != nullptr ? text : "unknown error";
}

// An open that failed with err, as a user reads it: what is meant, and what to do.
std::string OpenErrorText(const std::string& path, int err) {
  switch (err) {
    case EBUSY:
      return path + ": busy: opened by another program";
    case EACCES:
    case EPERM:
      return path + ": permission denied: is the user in the dialout group?";
    default:
      return path + ": " + ErrorText(err);
  }
}

}  // namespace

CESerial::CESerial(Platform& platform, OwnerLoop& loop) : platform_(platform), loop_(loop) {}

CESerial::~CESerial() { Close(); }

void CESerial::Note(const std::string& text) { platform_.DebugNote(Utf8ToUtf16(text)); }

void CESerial::SetReadParams(uint32_t chunkSize, std::atomic<int32_t>* runFlag) {
  SetChunkSize(chunkSize);
  runFlag_ = runFlag;
}

void CESerial::SetChunkSize(uint32_t chunkSize) {
  chunkSize_ = std::clamp<uint32_t>(chunkSize, 1, kMaxChunkSize);
}

void CESerial::SetRtsDelayFront(uint32_t ms) {
  rtsDelayFront_ = std::min(ms, kMaxRtsDelayMs);
  if (rs485Active_) ApplyKernelRs485();
}

void CESerial::SetRtsDelayBack(uint32_t ms) {
  rtsDelayBack_ = std::min(ms, kMaxRtsDelayMs);
  if (rs485Active_) ApplyKernelRs485();
}

void CESerial::SetRs485Kernel(bool on) {
  rs485Kernel_ = on;
  if (!device_.IsOpen()) return;
  if (on) {
    ApplyKernelRs485();
  } else if (rs485Active_) {
    device_.DisableKernelRs485();
    rs485Active_ = false;
  }
}

void CESerial::ApplyKernelRs485() {
  rs485Active_ = device_.EnableKernelRs485(rtsDelayFront_, rtsDelayBack_);
  if (!rs485Active_) {
    Note("RS-485 direction control by the driver is not available: Device=" + devicePath_ +
         "; RTS is switched by the port");
  }
}

bool CESerial::SetPortDevice(int32_t port, std::u16string_view path) {
  return devices_.Set(port, path);
}

bool CESerial::SetModemLine(ModemLine line, bool raised) {
  return device_.SetModemLine(line, raised);
}

void CESerial::SetLines(bool rts, bool dtr) {
  SetModemLine(ModemLine::kRts, rts);
  SetModemLine(ModemLine::kDtr, dtr);
}

void CESerial::Purge() {
  device_.FlushBoth();
  OnPortReset();
}

bool CESerial::FailOpen(uint32_t baud, std::string_view reason, std::string userText) {
  const int32_t port = portNumber_;
  lastOpenError_ =
      userText.empty() ? devicePath_ + ": " + std::string(reason) : std::move(userText);
  // Whatever this open obtained is given back: the device stays free for another program.
  device_.Close();
  if (wakeFd_ >= 0) {
    ::close(wakeFd_);
    wakeFd_ = -1;
  }
  rs485Active_ = false;
  portNumber_ = 0;
  Note("Cannot open port : Port=" + std::to_string(port) + ",BaudRate=" + std::to_string(baud) +
       ",Device=" + devicePath_ + " (" + std::string(reason) + ")");
  return false;
}

bool CESerial::Open(int32_t port, uint32_t baud, std::u16string_view parity,
                    std::u16string_view dataBits, std::u16string_view stopBits) {
  Close();
  if (runFlag_ != nullptr) runFlag_->store(1);
  portNumber_ = port;
  devicePath_ = ResolvePortDevice(port, devices_, ProcessEnvironment);
  if (devicePath_.empty()) {
    return FailOpen(baud, "no device for this port number",
                    "COM" + std::to_string(port) +
                        ": no device for this port number (see qbSetPortDevice)");
  }

  if (const int err = device_.Open(devicePath_); err != 0) {
    return FailOpen(baud, ErrorText(err), OpenErrorText(devicePath_, err));
  }
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) return FailOpen(baud, ErrorText(errno));
  Purge();

  LineSettings wanted;
  LineSettings readBack;
  if (!MakeLineSettings(baud, parity, dataBits, stopBits, &wanted) ||
      !device_.ApplySettings(wanted) || !device_.ReadSettings(&readBack) ||
      !SettingsTook(wanted, readBack)) {
    platform_.ShowMessageBox(u"Can't Config");
    return FailOpen(baud, "line settings refused",
                    devicePath_ + ": the device does not keep the line settings (baud rate " +
                        std::to_string(baud) + ", data bits, parity, stop bits)");
  }
  // Both are offers of the driver; a device without them (a pseudo-terminal, a plain UART without
  // RS-485 support) works as well, only without the option.
  device_.EnableLowLatency();
  if (rs485Kernel_) ApplyKernelRs485();
  // RTS raised while idle, DTR low: the line is in receive direction between frames.
  SetLines(true, false);

  closing_.store(false);
  open_.store(true);
  OnPortReset();
  try {
    std::vector<uint8_t> buffer(static_cast<size_t>(chunkSize_) + 1);
    readerBuffer_ = buffer.data();
    reader_ = std::thread(&CESerial::ReaderMain, this, device_.Fd(), wakeFd_, chunkSize_,
                          std::move(buffer), runFlag_);
  } catch (const std::exception& e) {
    open_.store(false);
    return FailOpen(baud, e.what());
  }
  Note("Open port success: Port=" + std::to_string(port) + ",BaudRate=" + std::to_string(baud) +
       ",Device=" + devicePath_);
  return true;
}

void CESerial::ForgetAfterFork() {
  open_.store(false);
  device_.ForgetAfterFork();
  if (wakeFd_ >= 0) ::close(wakeFd_);
  wakeFd_ = -1;
}

void CESerial::StopReader() {
  if (!reader_.joinable()) return;
  if (handOffThread_.load() == std::this_thread::get_id()) {
    // Close from inside a hand-off of this port (OnReceive, or a callback of the note about a
    // vanished device). The reader is parked in the loop waiting for this very hand-off, so
    // joining it would wait for ourselves. Instead its quit flag (on the reader's own stack) is
    // set and the thread is let go: when the hand-off returns, the reader reads that flag and
    // ends without touching this object again, so the object may even be destroyed meanwhile
    // (CallUnless looks at the closing flag only while the hand-off is still queued, never once
    // it has started).
    // The device and the wake-up descriptor can be closed now: the reader uses neither again.
    *parkedQuit_ = true;
    parkedQuit_ = nullptr;
    handOffThread_.store(std::thread::id());
    reader_.detach();
    return;
  }
  // The reader is in poll (the eventfd wakes it), or waiting for a hand-off that the owner has not
  // started (the closing flag and Wake abandon it), or between the two (it sees the flag).
  closing_.store(true);
  loop_.Wake();
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    // Cannot fail short of a counter overflow, which would leave the eventfd readable anyway.
    const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    static_cast<void>(written);
  }
  reader_.join();
}

void CESerial::Close() {
  if (open_.exchange(false) && runFlag_ != nullptr) runFlag_->store(0);
  StopReader();
  if (device_.IsOpen()) {
    Purge();
    device_.Close();
  }
  if (wakeFd_ >= 0) {
    ::close(wakeFd_);
    wakeFd_ = -1;
  }
  rs485Active_ = false;
  portNumber_ = 0;
}

void CESerial::Write(const uint8_t* bytes, size_t count) {
  if (!open_.load() || !device_.IsOpen()) return;
  const bool switchRts = !rs485Active_;
  if (switchRts) {
    SetModemLine(ModemLine::kRts, false);
    SetModemLine(ModemLine::kDtr, false);
    if (rtsDelayFront_ != 0) platform_.SleepMs(rtsDelayFront_);
  }
  int err = count == 0 ? 0 : device_.WriteAll(bytes, count, kWriteMsPerByte * count);
  // write() returns once the bytes are in the driver's queue; the line may only turn around after
  // the UART has sent the last of them.
  if (err == 0 && !device_.Drain()) err = errno;
  if (err != 0) device_.FlushOutput();
  if (switchRts) {
    if (rtsDelayBack_ != 0) platform_.SleepMs(rtsDelayBack_);
    SetModemLine(ModemLine::kRts, true);
    SetModemLine(ModemLine::kDtr, false);
  }
}

void CESerial::RunHandOff(HandOff& handOff) {
  parkedQuit_ = &handOff.quit;
  handOffThread_.store(std::this_thread::get_id());
  if (handOff.goneReason != nullptr) {
    OnDeviceGone(handOff.goneReason);
  } else {
    OnReceive(handOff.bytes, handOff.count);
  }
  // Closed (or destroyed) from inside: this object may be gone, touch nothing of it.
  if (handOff.quit) return;
  handOffThread_.store(std::thread::id());
  parkedQuit_ = nullptr;
}

void CESerial::OnDeviceGone(const char* reason) {
  if (!open_.exchange(false)) return;
  if (runFlag_ != nullptr) runFlag_->store(0);
  const int32_t port = portNumber_;
  // The device is released at once so that it can be opened again when it comes back; the reader
  // ends right after this hand-off and is joined by the next Open or Close.
  device_.Close();
  rs485Active_ = false;
  portNumber_ = 0;
  // Last, as the event and the note may reach the host, which may close or reopen the port from
  // there; both use only what was known before.
  const std::string path = devicePath_;
  OnDeviceLost(path + ": device gone (" + reason + ")");
  Note("Port closed: device gone: Port=" + std::to_string(port) + ",Device=" + path + " (" +
       reason + ")");
}

void CESerial::ReaderMain(int fd, int wakeFd, uint32_t chunkSize, std::vector<uint8_t> buffer,
                          std::atomic<int32_t>* runFlag) {
  HandOff handOff{this, buffer.data(), 0, nullptr, false};
  // One task for every hand-off; it holds a single reference, so building it allocates nothing.
  const OwnerLoop::Task task = [&handOff] { handOff.port->RunHandOff(handOff); };
  const auto stopping = [&] {
    return closing_.load() || (runFlag != nullptr && runFlag->load() == 0);
  };

  pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  const char* gone = nullptr;
  while (gone == nullptr && !stopping()) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      gone = ErrorText(errno);
      break;
    }
    if (stopping()) return;
    const short events = fds[0].revents;
    if ((events & POLLNVAL) != 0) {
      gone = "device closed";
      break;
    }
    bool received = false;
    while (!stopping()) {
      std::fill_n(buffer.begin(), chunkSize, uint8_t{0});
      const ssize_t n = ::read(fd, buffer.data(), chunkSize);
      if (n > 0) {
        received = true;
        handOff.count = static_cast<int32_t>(n);
        // The owner runs OnReceive while this thread waits: strict alternation, one chunk at a
        // time. False: abandoned by Close before the owner started it.
        if (!loop_.CallUnless(task, closing_) || handOff.quit) return;
        continue;
      }
      // With VMIN 1 and no blocking, an empty queue gives EAGAIN; 0 means the line hung up.
      if (n == 0) {
        gone = "end of file";
      } else if (errno == EINTR) {
        continue;
      } else if (errno != EAGAIN) {
        gone = ErrorText(errno);
      }
      break;
    }
    if (gone == nullptr && !received && (events & (POLLHUP | POLLERR)) != 0) gone = "hang-up";
  }
  if (gone == nullptr || stopping()) return;
  // The reader does not touch the port's state itself: the owner marks it closed.
  handOff.goneReason = gone;
  loop_.CallUnless(task, closing_);
}

}  // namespace qb
