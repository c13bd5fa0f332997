// The serial port on Linux (see ce_serial.h): open and close, the RS-485 write sequence, and the
// reception on the owner thread.
#include "serial/ce_serial.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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
    return FailOpen(
        baud, "no device for this port number",
        "COM" + std::to_string(port) + ": no device for this port number (see qbSetPortDevice)");
  }

  if (const int err = device_.Open(devicePath_); err != 0) {
    return FailOpen(baud, ErrorText(err), OpenErrorText(devicePath_, err));
  }
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

  openRunFlag_ = runFlag_;
  openChunkSize_ = chunkSize_;
  const uint32_t bits = BitsPerCharacter(parity, dataBits, stopBits);
  replyWait_ = ReplyWait(std::chrono::nanoseconds(uint64_t{1'000'000'000} * bits / baud));
  if (buffer_.size() < openChunkSize_ + size_t{1}) {
    // An open from inside OnReceive: the chunk being handled lies in the old buffer.
    retiredBuffer_ = std::move(buffer_);
    buffer_.assign(openChunkSize_ + size_t{1}, 0);
  }
  open_.store(true);
  OnPortReset();
  loop_.WatchDescriptor(device_.Fd(), this);
  watching_ = true;
  Note("Open port success: Port=" + std::to_string(port) + ",BaudRate=" + std::to_string(baud) +
       ",Device=" + devicePath_);
  return true;
}

void CESerial::ForgetAfterFork() {
  open_.store(false);
  watching_ = false;
  device_.ForgetAfterFork();
}

void CESerial::Close() {
  if (open_.exchange(false) && openRunFlag_ != nullptr) openRunFlag_->store(0);
  if (watching_) {
    loop_.WatchDescriptor(-1, nullptr);
    watching_ = false;
  }
  if (device_.IsOpen()) {
    Purge();
    device_.Close();
  }
  rs485Active_ = false;
  portNumber_ = 0;
}

void CESerial::Write(const uint8_t* bytes, size_t count) {
  if (!open_.load() || !device_.IsOpen()) return;
  // A new exchange starts: whatever arrives is looked at as it comes.
  if (watching_) loop_.HoldDescriptorUntil({});
  const bool switchRts = !rs485Active_;
  if (switchRts) {
    SetModemLine(ModemLine::kRts, false);
    SetModemLine(ModemLine::kDtr, false);
    if (rtsDelayFront_ != 0) platform_.SleepMs(rtsDelayFront_);
  }
  const auto sentAt = std::chrono::steady_clock::now();
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
  // The receiving side knows by now what the request asks for: no reply can have ended before
  // the request, the device's silence and the awaited bytes have passed on the line, so the first
  // look at the device can come when most of the reply is in, not at its first byte.
  if (err == 0 && count != 0 && watching_) {
    loop_.HoldDescriptorUntil(
        replyWait_.AfterWrite(sentAt, count, SilenceBeforeReply(), BytesStillAwaited()));
  }
}

void CESerial::OnDeviceGone(const char* reason) {
  if (!open_.exchange(false)) return;
  if (openRunFlag_ != nullptr) openRunFlag_->store(0);
  const int32_t port = portNumber_;
  // The device is released at once so that it can be opened again when it comes back.
  loop_.WatchDescriptor(-1, nullptr);
  watching_ = false;
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

void CESerial::OnDescriptorReady(short revents) {
  if (!open_.load()) return;
  retiredBuffer_ = {};
  if (openRunFlag_ != nullptr && openRunFlag_->load() == 0) {
    // The host's run flag ends reception; the port stays open for writing.
    loop_.WatchDescriptor(-1, nullptr);
    watching_ = false;
    return;
  }
  if ((revents & POLLNVAL) != 0) return OnDeviceGone("device closed");
  std::fill_n(buffer_.begin(), openChunkSize_, uint8_t{0});
  const ssize_t n = ::read(device_.Fd(), buffer_.data(), openChunkSize_);
  if (n > 0) {
    // The bytes read arrived by now at the latest, so the rest cannot have arrived before its
    // characters have passed from here.
    const auto readAt = std::chrono::steady_clock::now();
    OnReceive(buffer_.data(), static_cast<int32_t>(n));
    // OnReceive may have closed or reopened the port (a hold belongs to the open that read), or
    // written the next request, which set a hold of its own.
    if (!open_.load() || !watching_ || loop_.DescriptorHeld()) return;
    const auto until = replyWait_.AfterRead(readAt, static_cast<size_t>(n), BytesStillAwaited());
    if (until != ReplyWait::Time{}) loop_.HoldDescriptorUntil(until);
    return;
  }
  // With VMIN 1 and no blocking, an empty queue gives EAGAIN; 0 means the line hung up.
  if (n == 0) return OnDeviceGone("end of file");
  if (errno == EINTR) return;
  if (errno != EAGAIN) return OnDeviceGone(ErrorText(errno));
  if ((revents & (POLLHUP | POLLERR)) != 0) OnDeviceGone("hang-up");
}

}  // namespace qb
