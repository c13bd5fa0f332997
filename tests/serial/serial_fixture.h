// The setting of the port tests: a real owner loop on its own thread, a fake platform (virtual
// clock, recorded notes and boxes) whose sleeps are logged, a pseudo-terminal mapped to port 3, and
// a port that records the chunks it receives and logs its modem line changes. Every call into the
// port and every look at its records goes through the owner thread.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>

#include "platform/owner_loop.h"
#include "serial/ce_serial.h"
#include "support/fake_platform.h"
#include "support/modbus_frames.h"
#include "support/pty.h"

namespace qb::test {

class LoggingPlatform : public FakePlatform {
 public:
  explicit LoggingPlatform(std::vector<std::string>& log) : log_(log) {}
  void SleepMs(uint32_t ms) override {
    FakePlatform::SleepMs(ms);
    log_.push_back("sleep " + std::to_string(ms));
    if (onSleep) onSleep(ms);
  }
  std::function<void(uint32_t)> onSleep;

 private:
  std::vector<std::string>& log_;
};

class TestPort : public CESerial {
 public:
  TestPort(Platform& platform, OwnerLoop& loop, std::vector<std::string>& log,
           std::atomic<bool>& misuse)
      : CESerial(platform, loop), loop_(loop), log_(log), misuse_(misuse) {}
  ~TestPort() override { Close(); }

  std::vector<std::vector<uint8_t>> chunks;
  int resets = 0;
  std::function<void()> onReceive;  // after the chunk is recorded; may close or reopen the port
  // The length of the reply the port is told to await, counted from the first byte received.
  int32_t awaitedLength = 0;

 protected:
  void OnReceive(const uint8_t* bytes, int32_t count) override {
    // Always on the owner thread, never overlapping itself.
    if (!loop_.IsOwnerThread() || inside_++ != 0) misuse_ = true;
    chunks.emplace_back(bytes, bytes + count);
    if (onReceive) onReceive();
    --inside_;
  }
  void OnPortReset() override { ++resets; }
  int32_t BytesStillAwaited() const override {
    int32_t received = 0;
    for (const auto& chunk : chunks) received += static_cast<int32_t>(chunk.size());
    return std::max(awaitedLength - received, 0);
  }
  bool SetModemLine(ModemLine line, bool raised) override {
    log_.push_back(std::string(line == ModemLine::kRts ? "RTS " : "DTR ") + (raised ? "1" : "0"));
    return CESerial::SetModemLine(line, raised);
  }

 private:
  OwnerLoop& loop_;
  std::vector<std::string>& log_;
  std::atomic<bool>& misuse_;
  int inside_ = 0;
};

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loop_.StartThread();
    ASSERT_TRUE(pty_.Ok() && pty_.HoldSlave());
    port_ = loop_.Invoke([&] { return MakePort(); });
  }
  void TearDown() override {
    loop_.Call([&] { port_.reset(); });
    loop_.Stop();
    EXPECT_FALSE(misuse_.load());
  }
  std::unique_ptr<TestPort> MakePort() {
    auto port = std::make_unique<TestPort>(platform_, loop_, log_, misuse_);
    port->SetPortDevice(3, U16(pty_.Path()));
    port->SetReadParams(128, &running_);
    return port;
  }
  // Runs f on the owner thread and returns its result.
  template <class F>
  auto Owner(F f) {
    return loop_.Invoke(f);
  }
  bool Open(uint32_t baud = 9600, std::u16string_view parity = u"N",
            std::u16string_view dataBits = u"8", std::u16string_view stopBits = u"1") {
    return Owner([&] { return port_->Open(3, baud, parity, dataBits, stopBits); });
  }
  bool IsOpen() {
    return Owner([&] { return port_->IsOpen(); });
  }
  std::vector<std::vector<uint8_t>> Chunks() {
    return Owner([&] { return port_->chunks; });
  }
  std::vector<uint8_t> Received() {
    std::vector<uint8_t> all;
    for (const auto& chunk : Chunks()) all.insert(all.end(), chunk.begin(), chunk.end());
    return all;
  }
  std::vector<std::u16string> Notes() {
    return Owner([&] { return platform_.notes; });
  }
  template <class Pred>
  static bool WaitUntil(Pred pred, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  bool WaitReceived(size_t count) {
    return WaitUntil([&] { return Received().size() >= count; });
  }
  std::u16string Note(std::string_view head, uint32_t baud, std::string_view tail = "") {
    return U16(std::string(head) + ": Port=3,BaudRate=" + std::to_string(baud) +
               ",Device=" + pty_.Path() + std::string(tail));
  }

  std::vector<std::string> log_;
  std::atomic<int32_t> running_{7};
  std::atomic<bool> misuse_{false};
  LoggingPlatform platform_{log_};
  OwnerLoop loop_;
  Pty pty_;
  std::unique_ptr<TestPort> port_;
};

inline std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13);
  return bytes;
}

}  // namespace qb::test
