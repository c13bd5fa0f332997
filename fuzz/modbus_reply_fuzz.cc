// Feeds line bytes, in pieces of any size, to the engine while a Modbus request of any kind is
// outstanding, in RTU or ASCII framing: the reply accumulation, its checks and, for each reply
// that completes, the event delivery and the decoding into the last-event record.
// Input: [framing and kind][quantity][slave][piece length, piece bytes]...
// Run with -max_len=1100: a reply is never kept beyond the reply buffer (512 bytes), and 1100 bytes
// carry more than that even in pieces of one byte (two input bytes each). The engine is made anew
// for every run (a fresh engine with one request outstanding); the platform is made once.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/item_factory.h"
#include "engine/query_engine.h"
#include "platform/quiet_platform.h"
#include "protocols/modbus_master.h"

namespace {

std::unique_ptr<qb::QueryItem> MakeItem(int kind, int32_t quantity, int32_t slave) {
  // Enough for the largest quantity the input can give (2047 registers).
  static const uint8_t kData[4096] = {0x5A};
  switch (kind) {
    case 0:
    case 1:
    case 2:
    case 3:
      return qb::MakeReadItem(1, kind + 1, slave, 0, quantity);
    case 4:
      return qb::MakeBitWriteItem(1, slave, quantity, 1, u"", -1);
    case 5:
      return qb::MakeWordWriteItem(1, slave, quantity, 0x1234, u"");
    case 6:
      return qb::MakeMultipleWriteItem(1, 15, slave, 0, quantity, (quantity + 7) / 8, kData);
    case 7:
      return qb::MakeMultipleWriteItem(1, 16, slave, 0, quantity, 2 * quantity, kData);
    case 8:
      return qb::MakeMaskWriteItem(1, slave, quantity, 0xF0F0, 0x0F0F);
    case 9:
      return qb::MakeReadWriteItem(1, slave, 0, quantity, 0, quantity % 8, kData);
    default: {
      const uint8_t frame[] = {static_cast<uint8_t>(slave), 3, 0, 0, 0, 1};
      return qb::MakeHostFrameItem(1, quantity, frame, sizeof frame);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool rtu = (data[0] & 1) != 0;
  const int kind = (data[0] >> 1) % 11;
  const int32_t quantity = data[1] + ((data[0] >> 5) << 8);
  const int32_t slave = data[2];
  static qb::QuietPlatform platform;
  qb::QueryEngine engine(platform);
  engine.Init(nullptr, 1);
  engine.SetQueryDirectSerial(0);
  if (rtu) engine.SetRtuMode();
  engine.RegisterManual(MakeItem(kind, quantity, slave));
  engine.Step();
  const int32_t awaited = engine.Modbus().Remaining();
  if (awaited < 0 || awaited > qb::ModbusMaster::kReplyBufferSize) __builtin_trap();

  for (size_t at = 3; at < size;) {
    const size_t piece = std::min<size_t>(data[at] % 65, size - at - 1);
    ++at;
    const int32_t before = engine.LastRx().eventType;
    engine.OnSerialReceive(data + at, static_cast<int32_t>(piece));
    at += piece;
    const qb::LastRxRecord& rx = engine.LastRx();
    if (rx.eventType == 2 && before != 2) {
      // A delivered reply is exactly as long as the request awaited and its words come from it.
      if (static_cast<int32_t>(rx.raw.size()) != awaited) __builtin_trap();
      if (rx.words.size() > 8 * rx.raw.size()) __builtin_trap();
      if (rx.dataType == 1 && kind < 2 && static_cast<int32_t>(rx.words.size()) > quantity)
        __builtin_trap();
    }
    if (engine.Modbus().Received() + engine.Modbus().Remaining() >
        qb::ModbusMaster::kReplyBufferSize)
      __builtin_trap();
  }
  return 0;
}
