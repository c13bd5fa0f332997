// Building the one outstanding Modbus request: the request fields of each function code, the RTU
// and ASCII framing with their checksums, the length of the reply that the request calls for, and
// the least RTU gap between a reply and the next request.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "protocols/modbus_master.h"
#include "style/checksum.h"

namespace qb {
namespace {

// The reply buffer bounds every length that is awaited, so wider values only need to stay
// recognisably out of range rather than wrap.
int32_t Saturate(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// Every 16-bit field travels high byte first; values wider than 16 bits keep their low 16 bits.
void PutWord(std::vector<uint8_t>& pdu, int32_t value) {
  pdu.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
  pdu.push_back(static_cast<uint8_t>(value & 0xFF));
}

// The byte count field and the first count data bytes of the multiple writes. The caller has
// checked that data holds at least count bytes.
void PutData(std::vector<uint8_t>& pdu, int64_t count, std::span<const uint8_t> data) {
  pdu.push_back(static_cast<uint8_t>(count & 0xFF));
  pdu.insert(pdu.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(count));
}

// The RTU reply length, nothing for a code without a builder. The ASCII reply carries every byte
// but the CRC as two characters and adds the colon, the two LRC characters and CR LF, which makes
// it 2 x RTU length + 1 characters.
std::optional<int64_t> RtuReplyLength(int32_t code, int32_t quantity) {
  switch (code) {
    case 1:
    case 2:
      return static_cast<int64_t>(std::ceil(quantity * 0.125)) + 5;
    case 3:
    case 4:
    case 23:
      return 2 * static_cast<int64_t>(quantity) + 5;
    case 5:
    case 6:
    case 15:
    case 16:
      return 8;
    case 22:
      return 10;
    default:
      return std::nullopt;
  }
}

}  // namespace

int32_t ExpectedReplyLength(int32_t code, int32_t quantity, bool rtu) {
  const std::optional<int64_t> rtuLength = RtuReplyLength(code, quantity);
  if (!rtuLength) return -1;
  return Saturate(rtu ? *rtuLength : 2 * *rtuLength + 1);
}

int32_t RtuTimeGap(uint32_t baud) {
  if (baud == 0) return 10;
  return 1 - static_cast<int32_t>(std::trunc(-38400.0 / baud));
}

std::span<const uint8_t> ModbusMaster::Build(int32_t code, int32_t slave, int32_t start,
                                             int32_t quantity, int32_t coilValue,
                                             int32_t registerValue, int32_t andMask,
                                             int32_t orMask) {
  std::vector<uint8_t> pdu;
  PutWord(pdu, start);
  switch (code) {
    case 1:
    case 2:
    case 3:
    case 4:
      PutWord(pdu, quantity);
      break;
    case 5:
      PutWord(pdu, coilValue != 0 ? 0xFF00 : 0x0000);
      break;
    case 6:
      PutWord(pdu, registerValue);
      break;
    case 22:
      PutWord(pdu, andMask);
      PutWord(pdu, orMask);
      break;
    default:
      return {};
  }
  return Finish(pdu, code, slave, Saturate(*RtuReplyLength(code, quantity)));
}

std::span<const uint8_t> ModbusMaster::BuildMultipleWrite(int32_t code, int32_t slave,
                                                          int32_t start, int32_t quantity,
                                                          std::span<const uint8_t> data) {
  if (code != 15 && code != 16) return {};
  // A negative quantity has no byte count to send.
  if (quantity < 0) return {};
  const int64_t byteCount =
      code == 15 ? (static_cast<int64_t>(quantity) + 7) / 8 : 2 * static_cast<int64_t>(quantity);
  if (static_cast<int64_t>(data.size()) < byteCount) return {};
  std::vector<uint8_t> pdu;
  PutWord(pdu, start);
  PutWord(pdu, quantity);
  PutData(pdu, byteCount, data);
  return Finish(pdu, code, slave, Saturate(*RtuReplyLength(code, quantity)));
}

std::span<const uint8_t> ModbusMaster::BuildReadWrite(int32_t slave, int32_t readAddress,
                                                      int32_t readQuantity, int32_t writeAddress,
                                                      int32_t writeQuantity,
                                                      std::span<const uint8_t> data) {
  if (writeQuantity < 0) return {};
  const int64_t byteCount = 2 * static_cast<int64_t>(writeQuantity);
  if (static_cast<int64_t>(data.size()) < byteCount) return {};
  std::vector<uint8_t> pdu;
  PutWord(pdu, readAddress);
  PutWord(pdu, readQuantity);
  PutWord(pdu, writeAddress);
  PutWord(pdu, writeQuantity);
  PutData(pdu, byteCount, data);
  return Finish(pdu, 23, slave, Saturate(*RtuReplyLength(23, readQuantity)));
}

void ModbusMaster::PrepareRawFrameReply(int32_t responseLength) {
  // A host-made frame may announce any length; one that cannot be awaited in the reply buffer is
  // refused by awaiting nothing, so its bytes are rejected and the query ends in its time-out.
  const bool fits = responseLength >= 0 && responseLength <= kReplyBufferSize;
  remaining_ = fits ? responseLength : 0;
  received_ = 0;
}

// pdu holds the request fields that follow the slave address and the function code; the framing
// adds those two and the checksum. The outstanding request changes only once a frame exists.
std::span<const uint8_t> ModbusMaster::Finish(std::vector<uint8_t>& pdu, int32_t code,
                                              int32_t slave, int32_t rtuReplyLength) {
  const int64_t replyLength =
      rtu_ == 1 ? rtuReplyLength : 2 * static_cast<int64_t>(rtuReplyLength) + 1;
  if (replyLength < 0 || replyLength > kReplyBufferSize) return {};

  pdu.insert(pdu.begin(), {static_cast<uint8_t>(slave & 0xFF), static_cast<uint8_t>(code & 0xFF)});
  std::vector<uint8_t> frame;
  if (rtu_ == 1) {
    frame = std::move(pdu);
    uint8_t first = 0;
    uint8_t second = 0;
    Crc16(frame.data(), frame.size(), first, second);
    frame.push_back(first);
    frame.push_back(second);
  } else {
    frame.reserve(pdu.size() * 2 + 5);
    frame.push_back(':');
    for (uint8_t byte : pdu) {
      const std::string digits = HexText(byte, 2);
      frame.insert(frame.end(), digits.begin(), digits.end());
    }
    uint8_t first = 0;
    uint8_t second = 0;
    Lrc(frame.data() + 1, frame.size() - 1, first, second);
    frame.insert(frame.end(), {first, second, '\r', '\n'});
  }
  if (frame.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return {};

  ByteBuffer built;
  if (!built.Append(frame.data(), static_cast<int32_t>(frame.size()))) return {};
  frame_ = std::move(built);
  remaining_ = static_cast<int32_t>(replyLength);
  received_ = 0;
  functionCode_ = code;
  slave_ = slave;
  return frame_.Bytes();
}

}  // namespace qb
