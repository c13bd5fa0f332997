// Gathering the reply of the outstanding Modbus request from the pieces in which the line delivers
// it. A reply is complete at exactly the length that the request set; only then is it checked
// against the request (slave, function code, framing, checksum) and handed to OnPacket. Anything
// beyond the awaited length is refused whole, so the reply buffer can never overflow.
//
// In detailed mode an exception reply, which is shorter than the awaited reply and would otherwise
// end in a time-out, is recognised as soon as its last byte is in, and refusals are reported.
#include <algorithm>
#include <cstring>
#include <optional>

#include "protocols/modbus_master.h"
#include "style/checksum.h"

namespace qb {
namespace {

using Reason = ModbusMaster::RejectReason;

// An RTU exception reply: slave, function code | 0x80, exception code, CRC low, CRC high.
constexpr int32_t kRtuExceptionLength = 5;
// An ASCII exception reply: ':', slave, function, exception code and LRC as hex pairs, CR LF.
constexpr int32_t kAsciiExceptionLength = 11;

bool CrcMatches(const uint8_t* frame, int32_t count) {
  uint8_t first = 0;
  uint8_t second = 0;
  Crc16(frame, static_cast<size_t>(count - 2), first, second);
  return frame[count - 2] == first && frame[count - 1] == second;
}

bool LrcMatches(const uint8_t* frame, int32_t count) {
  uint8_t first = 0;
  uint8_t second = 0;
  Lrc(frame + 1, static_cast<size_t>(count - 5), first, second);
  return frame[count - 4] == first && frame[count - 3] == second;
}

// Empty: accepted. Otherwise why the reply is refused.
std::optional<Reason> CheckRtuReply(const uint8_t* reply, int32_t count, int32_t slave,
                                    int32_t code) {
  if (count < 3) return Reason::kFraming;
  if (reply[1] != code) return Reason::kFunction;
  if (reply[0] != slave) return Reason::kSlave;
  if (!CrcMatches(reply, count)) return Reason::kChecksum;
  return std::nullopt;
}

std::optional<Reason> CheckAsciiReply(const uint8_t* reply, int32_t count, int32_t slave,
                                      int32_t code) {
  if (count < 5) return Reason::kFraming;
  if (static_cast<int32_t>(HexPairValue(reply + 3, 2)) != code) return Reason::kFunction;
  if (static_cast<int32_t>(HexPairValue(reply + 1, 2)) != slave) return Reason::kSlave;
  if (reply[count - 2] != '\r' || reply[count - 1] != '\n') return Reason::kFraming;
  if (!LrcMatches(reply, count)) return Reason::kChecksum;
  return std::nullopt;
}

}  // namespace

int32_t ModbusMaster::ExceptionLength() const {
  const int32_t exceptionCode = functionCode_ | 0x80;
  if (rtu_ == 1) {
    if (received_ < kRtuExceptionLength || reply_[0] != slave_ || reply_[1] != exceptionCode ||
        !CrcMatches(reply_, kRtuExceptionLength)) {
      return 0;
    }
    return kRtuExceptionLength;
  }
  if (received_ < kAsciiExceptionLength || reply_[0] != ':' ||
      static_cast<int32_t>(HexPairValue(reply_ + 1, 2)) != slave_ ||
      static_cast<int32_t>(HexPairValue(reply_ + 3, 2)) != exceptionCode ||
      reply_[kAsciiExceptionLength - 2] != '\r' || reply_[kAsciiExceptionLength - 1] != '\n' ||
      !LrcMatches(reply_, kAsciiExceptionLength)) {
    return 0;
  }
  return kAsciiExceptionLength;
}

int32_t ModbusMaster::BytesBeforeReplyCanEnd() const {
  if (remaining_ <= 0 || !detailed_) return std::max(remaining_, 0);
  const int32_t exceptionCode = functionCode_ | 0x80;
  // The function code is byte 1 of an RTU reply and the hex pair at 3 of an ASCII one; until it
  // is in, an exception reply cannot be ruled out.
  const bool rtu = rtu_ == 1;
  const int32_t length = rtu ? kRtuExceptionLength : kAsciiExceptionLength;
  const int32_t codeEnd = rtu ? 2 : 5;
  const bool maybeException =
      received_ < length &&
      (received_ < codeEnd ||
       (rtu ? reply_[1] == exceptionCode
            : static_cast<int32_t>(HexPairValue(reply_ + 3, 2)) == exceptionCode));
  return maybeException ? std::min(remaining_, length - received_) : remaining_;
}

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
    if (detailed_) OnRejected(bytes, count, Reason::kUnexpected);
    return 0;
  }
  // Every build and raw-frame preparation keeps received + remaining within the reply buffer.
  std::memcpy(reply_ + received_, bytes, static_cast<size_t>(count));
  remaining_ -= count;
  received_ += count;
  if (remaining_ != 0) {
    if (detailed_) {
      if (const int32_t length = ExceptionLength(); length > 0) {
        remaining_ = 0;  // the request is answered: later bytes are unexpected
        OnException(reply_, length);
      }
    }
    return 1;
  }

  const std::optional<Reason> refused =
      rtu_ == 1 ? CheckRtuReply(reply_, received_, slave_, functionCode_)
                : CheckAsciiReply(reply_, received_, slave_, functionCode_);
  if (refused == Reason::kChecksum && rtu_ == 1) platform_.DebugNote(u"CRC Error");
  if (refused) {
    if (detailed_) OnRejected(reply_, received_, *refused);
    return 0;
  }
  OnPacket(reply_, received_);
  return 1;
}

}  // namespace qb
