// The MKLD controller of the loader port: one controller on the line, no station number. Requests
// are STX, a command letter, 'M', a 24-bit byte address sent low byte first (6 hexadecimal
// digits), the command's fields, the BCC (low byte of the sum of the bytes from the command letter
// to the BCC) and ETX:
//   'r' ByteCnt              read ByteCnt bytes
//   'w' ByteCnt Data         write, the bytes in memory order
//   'n' Mask / 'o' Mask      AND / OR the word at the address with the mask (memory order)
// Replies end with EOT: ACK 'r' Data BCC, ACK 'w' BCC, ACK 'n' BCC, ACK 'o' BCC, or NAK Code BCC.
// The data of a read reply go out word by word, high byte first; the BCC of a reply sums its
// bytes from the one after ACK or NAK.
#include <string>
#include <utility>

#include "sim/ascii_frames.h"
#include "sim/plc_slave.h"

namespace qb::sim {
namespace {

using namespace ascii;

// The NAK codes of this controller.
constexpr uint8_t kBadAddress = '1';  // bytes outside the memory
constexpr uint8_t kBadCount = '2';    // a byte count of 0
constexpr uint8_t kBadCommand = '3';  // a command letter the controller does not know

uint32_t Swap24(uint32_t v) { return (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF); }

class MkldSlave : public PlcSlave {
 public:
  explicit MkldSlave(PlcModel* model) : model_(model) {}

  int FrameLength(std::span<const uint8_t> bytes) const override {
    if (bytes.empty() || bytes[0] != kStx) return -1;
    return TerminatedLength(bytes, kEtx, 0, 1024);
  }

  PlcAnswer Handle(std::span<const uint8_t> frame) override {
    PlcAnswer answer;
    const size_t n = frame.size();
    if (n < 13 || frame[2] != 'M') return Malformed(std::move(answer), "too short, or no 'M'");
    const std::span<const uint8_t> body = frame.subspan(1, n - 4);
    const auto bcc = ReadHex(frame, n - 3, 2);
    if (!bcc || *bcc != PlusSum(body)) {
      answer.outcome = PlcOutcome::kChecksumError;
      return answer;
    }
    const uint8_t command = body[0];
    const auto wire = ReadHex(body, 2, 6);
    if (!wire) return Malformed(std::move(answer), "no address");
    const uint32_t address = Swap24(*wire);
    answer.note =
        std::string(1, static_cast<char>(command)) + " at byte " + std::to_string(address);

    uint8_t refusal = 0;
    std::vector<uint8_t> data;  // read: what goes out; w, n, o: the bytes given, memory order
    if (command == 'r' || command == 'w') {
      const auto count = ReadHex(body, 8, 2);
      if (!count) return Malformed(std::move(answer), "no byte count");
      if (body.size() != 10 + (command == 'w' ? 2 * *count : 0))
        return Malformed(std::move(answer), "length does not match the byte count");
      for (uint32_t i = 0; command == 'w' && i < *count; ++i)
        data.push_back(static_cast<uint8_t>(*ReadHex(body, 10 + 2 * i, 2)));
      if (command == 'r') data.resize(*count);
      if (*count == 0) refusal = kBadCount;
    } else if (command == 'n' || command == 'o') {
      const auto mask = ReadHex(body, 8, 4);
      if (!mask || body.size() != 12) return Malformed(std::move(answer), "no mask");
      data = {static_cast<uint8_t>(*mask >> 8), static_cast<uint8_t>(*mask & 0xFF)};
    } else {
      refusal = kBadCommand;
    }
    if (refusal == 0 && static_cast<uint64_t>(address) + data.size() > kMkldImageBytes)
      refusal = kBadAddress;

    if (refusal == 0) {
      model_->WithStation(0, [&](PlcMemory& memory) {
        for (size_t i = 0; i < data.size(); ++i) {
          const auto at = static_cast<uint32_t>(address + i);
          if (command == 'r') data[i] = *memory.Byte(at);
          if (command == 'w') memory.SetByte(at, data[i]);
          if (command == 'n') memory.SetByte(at, *memory.Byte(at) & data[i]);
          if (command == 'o') memory.SetByte(at, *memory.Byte(at) | data[i]);
        }
      });
      answer.reply = {kAck, command};
      for (size_t i = 0; command == 'r' && i < data.size(); i += 2) {
        if (i + 1 < data.size()) AppendHex(&answer.reply, data[i + 1], 2);
        AppendHex(&answer.reply, data[i], 2);
      }
    } else {
      answer.reply = {kNak, refusal};
      answer.note += ": refused with code " + std::string(1, static_cast<char>(refusal));
    }
    answer.outcome = refusal == 0 ? PlcOutcome::kReply : PlcOutcome::kRefused;
    AppendHex(&answer.reply, PlusSum(std::span(answer.reply).subspan(1)), 2);
    answer.reply.push_back(kEot);
    return answer;
  }

  bool Corrupt(std::vector<uint8_t>* reply) const override {
    return reply->size() >= 3 && DamageHexSum(reply, reply->size() - 3);
  }

 private:
  static PlcAnswer Malformed(PlcAnswer answer, std::string why) {
    answer.outcome = PlcOutcome::kMalformed;
    answer.note = std::move(why);
    return answer;
  }

  PlcModel* model_;
};

}  // namespace

std::unique_ptr<PlcSlave> MakeMkldSlave(PlcModel* model) {
  return std::make_unique<MkldSlave>(model);
}

}  // namespace qb::sim
