// Gathering the reply of the outstanding Modbus request from the pieces in which the line delivers
// it. A reply is complete at exactly the length that the request set; only then is it checked
// against the request (slave, function code, framing, checksum) and handed to OnPacket. Anything
// beyond the awaited length is refused whole, so the reply buffer can never overflow.
#include <cstring>

#include "protocols/modbus_master.h"
#include "style/checksum.h"

namespace qb {
namespace {

enum class Verdict { kAccept, kReject, kCrcError };

Verdict CheckRtuReply(const uint8_t* reply, int32_t count, int32_t slave, int32_t code) {
  if (count < 3) return Verdict::kReject;
  if (reply[1] != code || reply[0] != slave) return Verdict::kReject;
  uint8_t first = 0;
  uint8_t second = 0;
  Crc16(reply, static_cast<size_t>(count - 2), first, second);
  if (reply[count - 2] != first || reply[count - 1] != second) return Verdict::kCrcError;
  return Verdict::kAccept;
}

// ':' + hex text + two LRC characters + CR LF.
Verdict CheckAsciiReply(const uint8_t* reply, int32_t count, int32_t slave, int32_t code) {
  if (count < 5) return Verdict::kReject;
  if (static_cast<int32_t>(HexPairValue(reply + 3, 2)) != code) return Verdict::kReject;
  if (static_cast<int32_t>(HexPairValue(reply + 1, 2)) != slave) return Verdict::kReject;
  if (reply[count - 2] != '\r' || reply[count - 1] != '\n') return Verdict::kReject;
  uint8_t first = 0;
  uint8_t second = 0;
  Lrc(reply + 1, static_cast<size_t>(count - 5), first, second);
  if (reply[count - 4] != first || reply[count - 3] != second) return Verdict::kReject;
  return Verdict::kAccept;
}

}  // namespace

int32_t ModbusMaster::Accumulate(const uint8_t* bytes, int32_t count) {
  if (count < 0 || (count > 0 && bytes == nullptr)) return 0;
  // An empty piece completes nothing; without this a finished reply would be checked, and
  // delivered, a second time.
  if (count == 0) return remaining_ > 0 ? 1 : 0;

  if (count > remaining_) {
    if (rtu_ == 1) {
      platform_.DebugNote(u"응답된 패킷량이 초과했습니다.(2)");
      TraceLine(u"Overflowed packet amount !!\r\n");
    } else {
      platform_.DebugNote(u"응답된 패킷량이 초과했습니다.(1)");
    }
    return 0;
  }
  // Every build and raw-frame preparation keeps received + remaining within the reply buffer.
  std::memcpy(reply_ + received_, bytes, static_cast<size_t>(count));
  remaining_ -= count;
  received_ += count;
  if (remaining_ != 0) return 1;

  const Verdict verdict = rtu_ == 1 ? CheckRtuReply(reply_, received_, slave_, functionCode_)
                                    : CheckAsciiReply(reply_, received_, slave_, functionCode_);
  if (verdict == Verdict::kCrcError) platform_.DebugNote(u"CRC Error");
  if (verdict != Verdict::kAccept) return 0;
  OnPacket(reply_, received_);
  return 1;
}

}  // namespace qb
