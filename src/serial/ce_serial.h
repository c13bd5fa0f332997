// The library's own serial port: opens a numbered COM port (a device path on Linux), configures it
// for the frame protocols (RS-232, or two-wire RS-485 with the transmitter switched by RTS),
// writes request frames, and receives: the owner loop watches the device, and every chunk read
// goes to OnReceive on the owner thread. The engine derives from it and implements OnReceive.
//
// Threads: every member function is called on the owner thread (the thread of the OwnerLoop),
// and the object is destroyed there too. Reception needs the loop's owner thread: the chunks are
// read there, one at a time and in order, so OnReceive never overlaps itself.
//
// While the reply in progress still lacks bytes that the receiving side knows of
// (BytesStillAwaited), the device is not looked at again before all but the last of them can
// have arrived on the wire (ReplyWait), counted from the request's write or from the last read: a
// reply that comes a byte per character time costs one or two wake-ups, not one per byte.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/owner_loop.h"
#include "platform/platform.h"
#include "serial/port_device.h"
#include "serial/reply_wait.h"
#include "serial/tty_device.h"

namespace qb {

class CESerial : private DescriptorWatcher {
 public:
  static constexpr uint32_t kDefaultChunkSize = 128;
  // A chunk larger than this is taken in pieces of this size; each read allocates nothing.
  static constexpr uint32_t kMaxChunkSize = 65536;

  CESerial(Platform& platform, OwnerLoop& loop);
  // Closes the port. A derived class whose OnReceive uses its own members must be destroyed on the
  // owner thread (then no chunk can be handed over while it is half destroyed).
  virtual ~CESerial();
  CESerial(const CESerial&) = delete;
  CESerial& operator=(const CESerial&) = delete;

  // Opens the device that port maps to, configures it and starts reception. An open port is
  // closed first. Texts: "Even"/"Odd" parity, "7" data bits, "2" stop bits, exactly as written;
  // anything else gives no parity, 8 data bits, one stop bit. Gives the debug note
  // "Open port success: Port=<n>,BaudRate=<baud>,Device=<path>" or
  // "Cannot open port : Port=<n>,BaudRate=<baud>,Device=<path> (<reason>)". Settings that the
  // driver does not keep show the message box "Can't Config" and fail the open.
  bool Open(int32_t port, uint32_t baud, std::u16string_view parity, std::u16string_view dataBits,
            std::u16string_view stopBits);
  // Ends reception, purges, gives the driver options back and closes the device. May be called
  // from inside OnReceive. Nothing visible happens when not open.
  void Close();
  // False once closed, and also after the device disappeared under the open port.
  bool IsOpen() const { return open_.load(); }
  // The port number while open, else 0.
  int32_t PortNumber() const { return portNumber_; }
  // The device path resolved by the last Open.
  const std::string& DevicePath() const { return devicePath_; }
  // Why the last failed Open failed, for a user: the device path and what to do about it.
  const std::string& LastOpenError() const { return lastOpenError_; }

  // Writes a frame in transmit direction: RTS and DTR cleared, the front delay, the bytes (at most
  // 10 ms per byte for the driver to take them), the wait until the UART has sent the last bit,
  // the back delay, RTS raised and DTR cleared again. With kernel direction control active the
  // driver switches RTS and applies both delays itself. Failures are not reported; the unsent
  // rest of the frame is discarded so that the line is never left transmitting.
  void Write(const uint8_t* bytes, size_t count);
  // Discards both driver queues, then calls OnPortReset.
  void Purge();
  // Raises or drops RTS, then DTR. Refused silently by devices without modem lines.
  void SetLines(bool rts, bool dtr);

  // The most bytes one read takes (1 to kMaxChunkSize; 128 by default), and the external run flag
  // (null = none): Open writes 1 there, Close writes 0, and reception ends when it reads 0 there.
  // Both take effect at the next Open.
  void SetReadParams(uint32_t chunkSize, std::atomic<int32_t>* runFlag);
  void SetChunkSize(uint32_t chunkSize);
  uint32_t ChunkSize() const { return chunkSize_; }
  void SetRunFlag(std::atomic<int32_t>* runFlag) { runFlag_ = runFlag; }

  // Milliseconds between RTS dropped and the first byte, and between the last byte sent and RTS
  // raised; used from the next Write. Each is held to at most kMaxRtsDelayMs: the owner thread
  // sleeps through them, and every export waits for it meanwhile.
  static constexpr uint32_t kMaxRtsDelayMs = 1000;
  void SetRtsDelayFront(uint32_t ms);
  void SetRtsDelayBack(uint32_t ms);
  uint32_t RtsDelayFront() const { return rtsDelayFront_; }
  uint32_t RtsDelayBack() const { return rtsDelayBack_; }

  // Lets a UART driver that offers RS-485 direction control switch RTS instead of Write, with the
  // two RTS delays as its delays before and after sending. Applied now when open, else at Open;
  // where the driver cannot, a debug note says so and Write keeps switching RTS itself.
  void SetRs485Kernel(bool on);
  bool Rs485Kernel() const { return rs485Kernel_; }
  // Whether the driver currently does the switching.
  bool Rs485KernelActive() const { return rs485Active_; }

  // In a child made by fork: closes the descriptor without touching the device (the parent still
  // uses it), so the child holds neither the port's lock nor the device. The object is never used
  // again.
  void ForgetAfterFork();

  // Maps a port number to a device path for later opens; an empty path removes the mapping.
  // False for a port number below 1 or an unusable path.
  bool SetPortDevice(int32_t port, std::u16string_view path);

 protected:
  // A chunk of received bytes, on the owner thread; count is 1 to the chunk size.
  virtual void OnReceive(const uint8_t* bytes, int32_t count) = 0;
  // After every purge and once more when an open has succeeded.
  virtual void OnPortReset() {}
  // Once, on the owner thread, when the device went away under the open port (the port is closed
  // by then); what says which device and why, for a user.
  virtual void OnDeviceLost(const std::string& /*what*/) {}
  // Drives one modem line of the device. Write and SetLines go through here.
  virtual bool SetModemLine(ModemLine line, bool raised);
  // After each chunk: how many more bytes the reply in progress needs at the least before it can
  // be complete; 0 when unknown or nothing is awaited (the device is looked at again at once).
  virtual int32_t BytesStillAwaited() const { return 0; }
  // Characters of silence the device keeps between a request's end and its reply.
  virtual double SilenceBeforeReply() const { return 0; }

 private:
  // A chunk can be read (or the device is gone): on the owner thread.
  void OnDescriptorReady(short revents) override;
  void OnDeviceGone(const char* reason);
  void ApplyKernelRs485();
  bool FailOpen(uint32_t baud, std::string_view reason, std::string userText = {});
  void Note(const std::string& text);

  Platform& platform_;
  OwnerLoop& loop_;
  PortDeviceMap devices_;
  std::atomic<int32_t>* runFlag_ = nullptr;
  uint32_t chunkSize_ = kDefaultChunkSize;
  uint32_t rtsDelayFront_ = 0;
  uint32_t rtsDelayBack_ = 0;
  bool rs485Kernel_ = false;
  bool rs485Active_ = false;

  TtyDevice device_;
  int32_t portNumber_ = 0;
  std::string devicePath_;
  std::string lastOpenError_;
  std::atomic<bool> open_{false};
  bool watching_ = false;
  std::atomic<int32_t>* openRunFlag_ = nullptr;       // the run flag of the current open
  uint32_t openChunkSize_ = kDefaultChunkSize;        // the chunk size of the current open
  ReplyWait replyWait_{std::chrono::nanoseconds{0}};  // from the open's baud rate and framing
  // Received bytes are read here. A buffer that an open from inside OnReceive replaces is kept
  // until the next chunk, as the chunk being handled still lies in it.
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> retiredBuffer_;
};

}  // namespace qb
