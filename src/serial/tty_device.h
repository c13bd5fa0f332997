// One open terminal device and the driver operations the port needs of it: exclusive open, line
// settings, queue flushes, bounded writes, the RTS and DTR lines, and the driver options that the
// port turns on for its own use (low latency, kernel RS-485 direction control), which are given
// back as they were when the device is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "serial/line_settings.h"

namespace qb {

enum class ModemLine { kRts, kDtr };

// The current settings of any open terminal descriptor (the port's, or another descriptor of the
// same terminal, which shares them).
bool ReadLineSettings(int fd, LineSettings* out);

class TtyDevice {
 public:
  TtyDevice() = default;
  ~TtyDevice() { Close(); }
  TtyDevice(const TtyDevice&) = delete;
  TtyDevice& operator=(const TtyDevice&) = delete;

  // Opens path for reading and writing without blocking and without making it the controlling
  // terminal, and claims it: an advisory lock that any other open of the device (in this process
  // or another) fails to get, and the driver's exclusive mode for processes that do not lock.
  // 0 on success, else the errno value of the step that failed (EBUSY when the device is held).
  int Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  // Gives the driver options back, leaves exclusive mode and closes. Nothing when not open.
  void Close();
  // Closes the descriptor only: no request reaches the device (for a child made by fork).
  void ForgetAfterFork();

  // The driver's current settings.
  bool ReadSettings(LineSettings* out) const;
  // Writes settings over the driver's current ones (the line discipline and the control
  // characters other than VMIN and VTIME stay as they are). True when the driver took the call;
  // whether it kept every value shows only in ReadSettings.
  bool ApplySettings(const LineSettings& settings);

  bool FlushBoth();
  bool FlushOutput();
  // Waits until the driver has sent every byte, the UART's own buffer included.
  bool Drain();
  // Writes all count bytes, waiting for room in the driver's queue up to budgetMs in total.
  // 0, ETIMEDOUT, or the errno of the write that failed.
  int WriteAll(const uint8_t* data, size_t count, uint64_t budgetMs);

  // False when the device has no modem lines (a pseudo-terminal, some USB adapters): the driver
  // refuses the first call, and later ones are not made at all, as every frame sent would make
  // them again.
  bool SetModemLine(ModemLine line, bool raised);

  // Turns the driver's low-latency mode on (received bytes are passed on at once instead of being
  // collected for up to 16 ms, as USB adapters do). False when the driver has no such mode.
  bool EnableLowLatency();
  // Lets the driver switch RTS around each transmission: cleared from delayBeforeMs before the
  // first bit until delayAfterMs after the last, raised otherwise, as the port's own sequence does.
  // False when the driver cannot.
  bool EnableKernelRs485(uint32_t delayBeforeMs, uint32_t delayAfterMs);
  // Gives the driver's RS-485 configuration back as it was before the first EnableKernelRs485.
  void DisableKernelRs485();

 private:
  struct SavedRs485 {
    uint32_t flags;
    uint32_t delayBefore;
    uint32_t delayAfter;
  };

  int fd_ = -1;
  bool noModemLines_ = false;             // the driver refused a modem-line call as unsupported
  std::optional<int> savedSerialFlags_;   // before low latency was turned on
  std::optional<SavedRs485> savedRs485_;  // before kernel direction control was turned on
};

}  // namespace qb
