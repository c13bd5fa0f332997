// The LSMK (Cnet) controller: individual reads ('r' "SS") of up to 16 device blocks and individual
// writes ('w' "SS"), framed ENQ ... EOT BCC, answered ACK ... ETX BCC or NAK ... ETX BCC. The BCC
// is the low byte of the sum of every byte from the first control character through the last
// one. A block names its device as %, the device letter, the type (X bit, W word) and the
// address: decimal words for W (%MW0100), decimal words and a hexadecimal bit digit for X
// (%MX0105 is bit 5 of word 10).
#include <string>
#include <utility>

#include "sim/ascii_frames.h"
#include "sim/plc_slave.h"

namespace qb::sim {
namespace {

using namespace ascii;

// The NAK error codes this controller sends.
constexpr uint32_t kTooManyBlocks = 0x0003;  // no blocks, or more than 16
constexpr uint32_t kNameTooLong = 0x0004;    // a device name over 16 characters
constexpr uint32_t kBadDataType = 0x0007;    // a type other than X or W, or a bad value
constexpr uint32_t kBadDevice = 0x1132;      // a device the controller has not, or a bad name
constexpr uint32_t kBadAddress = 0x1232;     // an address past the end of the device's area
constexpr uint32_t kMaxBlocks = 16;

struct Block {
  std::string device;
  bool bit = false;
  uint32_t address = 0;
  int bitIndex = -1;
  uint32_t value = 0;  // writes
};

// "%MW0100" / "%MX0105"; the error code when the name is not one the controller takes.
uint32_t ParseName(std::string_view name, Block* block) {
  if (name.size() < 4 || name[0] != '%') return kBadDevice;
  size_t i = 1;
  while (i < name.size() && name[i] >= 'A' && name[i] <= 'Z') ++i;
  if (i < 3) return kBadDevice;
  const char type = name[i - 1];
  if (type != 'X' && type != 'W') return kBadDataType;
  block->device = std::string(name.substr(1, i - 2));
  block->bit = type == 'X';
  std::string_view digits = name.substr(i);
  if (block->bit) {
    if (digits.size() < 2) return kBadDevice;
    const auto bit = ReadHex(
        std::span(reinterpret_cast<const uint8_t*>(digits.data()) + digits.size() - 1, 1), 0, 1);
    if (!bit) return kBadDevice;
    block->bitIndex = static_cast<int>(*bit);
    digits.remove_suffix(1);
  }
  if (digits.empty() || digits.size() > 6) return kBadDevice;
  const auto address = ReadDecimal(
      std::span(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0, digits.size());
  if (!address) return kBadDevice;
  block->address = *address;
  return 0;
}

class LsmkSlave : public PlcSlave {
 public:
  explicit LsmkSlave(PlcModel* model) : model_(model) {}

  int FrameLength(std::span<const uint8_t> bytes) const override {
    if (bytes.empty() || bytes[0] != kEnq) return -1;
    return TerminatedLength(bytes, kEot, 2, 1024);
  }

  PlcAnswer Handle(std::span<const uint8_t> frame) override {
    PlcAnswer answer;
    const size_t n = frame.size();
    const auto bcc = ReadHex(frame, n - 2, 2);
    if (n < 11 || !bcc) return Note(std::move(answer), "too short, or no BCC digits");
    if (*bcc != PlusSum(frame.first(n - 2))) {
      answer.outcome = PlcOutcome::kChecksumError;
      return answer;
    }
    const auto station = ReadHex(frame, 1, 2);
    const uint8_t command = frame[3];
    if (!station || (command != 'r' && command != 'w') || frame[4] != 'S' || frame[5] != 'S')
      return Note(std::move(answer), "not an individual read or write");
    if (!model_->HasStation(static_cast<int>(*station))) {
      answer.outcome = PlcOutcome::kNotAddressed;
      return answer;
    }
    const auto count = ReadHex(frame, 6, 2);
    if (!count) return Note(std::move(answer), "no block count");

    // The blocks, as far as the frame's layout goes; what the controller refuses is sorted out
    // after, so that a refusal goes out only for a frame that was read whole.
    std::vector<Block> blocks;
    uint32_t refusal = 0;
    size_t at = 8;
    for (uint32_t b = 0; b < *count; ++b) {
      const auto length = ReadHex(frame, at, 2);
      if (!length || at + 2 + *length > n - 3) return Note(std::move(answer), "block cut short");
      const std::string_view name(reinterpret_cast<const char*>(frame.data()) + at + 2, *length);
      at += 2 + *length;
      Block block;
      uint32_t error = *length > 16 ? kNameTooLong : ParseName(name, &block);
      if (command == 'w') {
        // A block's data: one byte (two digits) for a bit, two (four digits) for a word.
        const size_t digits = error == 0 && !block.bit ? 4 : 2;
        const auto value = ReadHex(frame, at, digits);
        if (!value) return Note(std::move(answer), "block data cut short");
        at += digits;
        block.value = *value;
        if (error == 0 && block.bit && *value > 1) error = kBadDataType;
      }
      if (refusal == 0) refusal = error;
      blocks.push_back(std::move(block));
    }
    if (at != n - 3) return Note(std::move(answer), "bytes after the last block");
    if (*count == 0 || *count > kMaxBlocks) refusal = kTooManyBlocks;

    model_->WithStation(static_cast<int>(*station), [&](PlcMemory& memory) {
      for (const Block& block : blocks) {
        if (refusal != 0) break;
        if (!memory.HasDevice(block.device))
          refusal = kBadDevice;
        else if (!memory.Bit(block.device, block.address, block.bit ? block.bitIndex : 0))
          refusal = kBadAddress;
      }
      if (refusal != 0) return;
      answer.reply = {kAck};
      AppendHex(&answer.reply, *station, 2);
      answer.reply.push_back(command);
      AppendText(&answer.reply, "SS");
      if (command == 'r') AppendHex(&answer.reply, *count, 2);
      for (const Block& block : blocks) {
        if (!answer.note.empty()) answer.note += ' ';
        answer.note.append(block.device).append(std::to_string(block.address));
        if (block.bit) answer.note.append(1, '.').append(1, "0123456789ABCDEF"[block.bitIndex]);
        if (command == 'w') {
          if (block.bit) {
            memory.SetBit(block.device, block.address, block.bitIndex, block.value != 0);
          } else {
            memory.SetWord(block.device, block.address, static_cast<uint16_t>(block.value));
          }
          answer.note.append(1, '=').append(std::to_string(block.value));
        } else if (block.bit) {
          AppendText(&answer.reply, "01");
          AppendHex(&answer.reply, *memory.Bit(block.device, block.address, block.bitIndex), 2);
        } else {
          AppendText(&answer.reply, "02");
          AppendHex(&answer.reply, *memory.Word(block.device, block.address), 4);
        }
      }
    });
    if (refusal != 0) {
      answer.reply = {kNak};
      AppendHex(&answer.reply, *station, 2);
      answer.reply.push_back(command);
      AppendText(&answer.reply, "SS");
      AppendHex(&answer.reply, refusal, 4);
      answer.note = "refused with error " + std::string(answer.reply.end() - 4, answer.reply.end());
    }
    answer.outcome = refusal != 0 ? PlcOutcome::kRefused : PlcOutcome::kReply;
    answer.note = std::string(command == 'r' ? "read " : "write ") + answer.note;
    answer.reply.push_back(kEtx);
    AppendHex(&answer.reply, PlusSum(answer.reply), 2);
    return answer;
  }

  bool Corrupt(std::vector<uint8_t>* reply) const override {
    return reply->size() >= 2 && DamageHexSum(reply, reply->size() - 2);
  }

 private:
  static PlcAnswer Note(PlcAnswer answer, std::string why) {
    answer.outcome = PlcOutcome::kMalformed;
    answer.note = std::move(why);
    return answer;
  }

  PlcModel* model_;
};

}  // namespace

std::unique_ptr<PlcSlave> MakeLsmkSlave(PlcModel* model) {
  return std::make_unique<LsmkSlave>(model);
}

}  // namespace qb::sim
