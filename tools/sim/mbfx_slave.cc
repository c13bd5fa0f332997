// The MBFX controller of the computer link. A request is ENQ, the station number (two decimal
// digits), the controller number FF, the command (BR bit read, WR word read, BW bit write, WW word
// write), a wait digit (tens of milliseconds before the reply), the head device (five
// characters: D0100), the point count (two hexadecimal digits), the data of a write (one digit
// 0/1 per bit, four hexadecimal digits per word) and a two-digit sum of every byte after ENQ.
// A read is answered STX, station, FF, data, ETX and a sum of every byte after STX through ETX;
// the controller then waits for the master's acknowledgement ACK, station, FF, and serves no
// request before it. A write is answered ACK, station, FF; a refusal is NAK, station, FF and a
// two-digit error code.
#include <string>
#include <utility>

#include "sim/ascii_frames.h"
#include "sim/plc_slave.h"

namespace qb::sim {
namespace {

using namespace ascii;

// The NAK codes of this controller.
constexpr uint32_t kBadCommand = 0x03;    // a command other than BR, WR, BW, WW
constexpr uint32_t kBadArea = 0x06;       // unknown device, bits of a word device, points past the
                                          // area's end, or more points than a request takes
constexpr uint32_t kBadCharacter = 0x07;  // a bit value other than 0 or 1

constexpr size_t kHeader = 15;  // ENQ through the point count
constexpr size_t kAckFrame = 5;

struct Limits {
  const char* command;
  uint32_t maxPoints;
};
constexpr Limits kLimits[] = {{"BR", 256}, {"WR", 64}, {"BW", 160}, {"WW", 64}};

class MbfxSlave : public PlcSlave {
 public:
  explicit MbfxSlave(PlcModel* model) : model_(model) {}

  int FrameLength(std::span<const uint8_t> bytes) const override {
    if (bytes.empty()) return 0;
    if (bytes[0] == kAck) return bytes.size() >= kAckFrame ? static_cast<int>(kAckFrame) : 0;
    if (bytes[0] != kEnq) return -1;
    if (bytes.size() < kHeader) return 0;
    const auto count = ReadHex(bytes, 13, 2);
    if (!count) return -1;
    size_t data = 0;
    if (bytes[5] == 'B' && bytes[6] == 'W') data = *count;
    if (bytes[5] == 'W' && bytes[6] == 'W') data = *count * 4;
    const size_t length = kHeader + data + 2;
    return bytes.size() >= length ? static_cast<int>(length) : 0;
  }

  PlcAnswer Handle(std::span<const uint8_t> frame) override {
    PlcAnswer answer;
    const auto station = ReadDecimal(frame, 1, 2);
    if (!station || frame[3] != 'F' || frame[4] != 'F') {
      answer.outcome = PlcOutcome::kNotAddressed;
      return answer;
    }
    if (frame[0] == kAck) {
      const bool expected = awaitingAck_ && static_cast<int>(*station) == ackStation_;
      awaitingAck_ = false;
      answer.outcome = expected ? PlcOutcome::kAcknowledged : PlcOutcome::kMalformed;
      answer.note = expected ? "acknowledged" : "an acknowledgement nobody waited for";
      return answer;
    }
    const size_t n = frame.size();
    const auto sum = ReadHex(frame, n - 2, 2);
    if (!sum || *sum != PlusSum(frame.subspan(1, n - 3))) {
      answer.outcome = PlcOutcome::kChecksumError;
      return answer;
    }
    if (awaitingAck_) {
      awaitingAck_ = false;
      answer.outcome = PlcOutcome::kUnacknowledged;
      answer.note = "a request instead of the acknowledgement of the last reply: not served";
      return answer;
    }
    if (!model_->HasStation(static_cast<int>(*station))) {
      answer.outcome = PlcOutcome::kNotAddressed;
      return answer;
    }
    const std::string command(frame.begin() + 5, frame.begin() + 7);
    const auto wait = ReadHex(frame, 7, 1);
    const auto head =
        ParsePlcAddress(std::string_view(reinterpret_cast<const char*>(frame.data()) + 8, 5));
    const uint32_t count = *ReadHex(frame, 13, 2);
    answer.waitMs = wait ? static_cast<int>(*wait) * 10 : 0;
    answer.note = command + " " + std::string(frame.begin() + 8, frame.begin() + 13) + " x" +
                  std::to_string(count);

    uint32_t refusal = kBadCommand;
    for (const Limits& l : kLimits) {
      if (command == l.command) refusal = count == 0 || count > l.maxPoints ? kBadArea : 0;
    }
    const bool bits = command[0] == 'B';
    const bool write = command[1] == 'W';
    std::vector<uint8_t> data;
    model_->WithStation(static_cast<int>(*station), [&](PlcMemory& memory) {
      if (refusal == 0 && (!wait || !head || head->bit >= 0 || !memory.HasDevice(head->device) ||
                           (bits && !memory.IsBitDevice(head->device))))
        refusal = kBadArea;
      if (refusal != 0) return;
      // Word reads and writes of a bit device take 16 bits per point.
      const uint32_t step = bits || !memory.IsBitDevice(head->device) ? 1 : 16;
      for (uint32_t i = 0; i < count && refusal == 0; ++i) {
        const uint32_t at = head->address + i * step;
        const bool fits = bits ? memory.Bit(head->device, at, -1).has_value()
                               : memory.Word(head->device, at).has_value();
        if (!fits) refusal = kBadArea;
        if (write && bits && frame[kHeader + i] != '0' && frame[kHeader + i] != '1')
          refusal = kBadCharacter;
        if (write && !bits && !ReadHex(frame, kHeader + 4 * i, 4)) refusal = kBadCharacter;
      }
      for (uint32_t i = 0; i < count && refusal == 0; ++i) {
        const uint32_t at = head->address + i * step;
        if (write && bits) memory.SetBit(head->device, at, -1, frame[kHeader + i] == '1');
        if (write && !bits)
          memory.SetWord(head->device, at,
                         static_cast<uint16_t>(*ReadHex(frame, kHeader + 4 * i, 4)));
        if (!write && bits) data.push_back(*memory.Bit(head->device, at, -1) ? '1' : '0');
        if (!write && !bits) AppendHex(&data, *memory.Word(head->device, at), 4);
      }
    });

    if (refusal != 0) {
      answer.outcome = PlcOutcome::kRefused;
      answer.reply = {kNak};
      AppendDecimal(&answer.reply, *station, 2);
      AppendText(&answer.reply, "FF");
      AppendHex(&answer.reply, refusal, 2);
      answer.note += ": refused with error " + std::to_string(refusal);
      return answer;
    }
    answer.outcome = PlcOutcome::kReply;
    if (write) {
      answer.reply = {kAck};
      AppendDecimal(&answer.reply, *station, 2);
      AppendText(&answer.reply, "FF");
      return answer;
    }
    answer.reply = {kStx};
    AppendDecimal(&answer.reply, *station, 2);
    AppendText(&answer.reply, "FF");
    answer.reply.insert(answer.reply.end(), data.begin(), data.end());
    answer.reply.push_back(kEtx);
    AppendHex(&answer.reply, PlusSum(std::span(answer.reply).subspan(1)), 2);
    awaitingAck_ = true;
    ackStation_ = static_cast<int>(*station);
    return answer;
  }

  bool Corrupt(std::vector<uint8_t>* reply) const override {
    return !reply->empty() && (*reply)[0] == kStx && DamageHexSum(reply, reply->size() - 2);
  }

  void ReplyLost() override { awaitingAck_ = false; }

 private:
  PlcModel* model_;
  bool awaitingAck_ = false;
  int ackStation_ = -1;
};

}  // namespace

std::unique_ptr<PlcSlave> MakeMbfxSlave(PlcModel* model) {
  return std::make_unique<MbfxSlave>(model);
}

std::unique_ptr<PlcSlave> MakePlcSlave(PlcModel* model) {
  switch (model->Protocol()) {
    case PlcProtocol::kLsmk:
      return MakeLsmkSlave(model);
    case PlcProtocol::kMkld:
      return MakeMkldSlave(model);
    case PlcProtocol::kMbfx:
      return MakeMbfxSlave(model);
  }
  return nullptr;
}

}  // namespace qb::sim
