// Feeds arbitrary bytes, as they come from the line, to the reply Styles of the built-in protocols
// and a few more that use every format, the way the frame receiver does: try each Style, drop a
// byte when none matches and none needs more. A parse must answer 1, 0 or -1, leave the buffer
// alone unless it matched, and consume at least the frame's first byte when it did.
// Run with -max_len=1670: no parse of these Styles reads beyond the longest frame one can match
// (1541 bytes, the LSMK read reply with 255 blocks), so a line a little longer reaches every parse;
// a longer one only repeats them (every offset is parsed with every Style).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/quiet_platform.h"
#include "style/style.h"
#include "style/style_parser.h"

namespace {

struct Definition {
  const char16_t* text;
  const char16_t* checksum;  // variable, or null
  int first;
  int count;
  const char16_t* method;
  const char16_t* repeat;  // count variable, or null
  int repeatFirst;
  int repeatCount;
};

const Definition kDefinitions[] = {
    {u"0x06,SlvAddr[2h],'r','S','S',BlocCnt[2h],DataCnt[2h],Data[DataCnt*2~4h],0x03,Bcc[2h]",
     u"Bcc", 0, 9, u"plus", u"BlocCnt", 6, 2},
    {u"0x15,SlvAddr[2h],'r','S','S',ErrCode[4h],0x03,Bcc[2h]", u"Bcc", 0, 7, u"plus", nullptr, 0,
     0},
    {u"0x06,SlvAddr[2h],'w','S','S',0x03,Bcc[2h]", u"Bcc", 0, 6, u"plus", nullptr, 0, 0},
    {u"0x15,SlvAddr[2h],'w','S','S',ErrCode[4h],0x03,Bcc[2h]", u"Bcc", 0, 7, u"plus", nullptr, 0,
     0},
    {u"0x15,ErrMsg[1h],bcc[2h],0x04", nullptr, 0, 0, nullptr, nullptr, 0, 0},
    {u"0x06,'r',RxDataAndBcc[~516s],0x04", nullptr, 0, 0, nullptr, nullptr, 0, 0},
    {u"0x06,'w',bcc[2h],0x04", nullptr, 0, 0, nullptr, nullptr, 0, 0},
    {u"0x02,SlvAddr[2d],'F','F',DataBlock[~200s],0x03,Sum[2h]", u"Sum", 1, 5, u"plus", nullptr, 0,
     0},
    {u"0x06,SlvAddr[2d],'F','F'", nullptr, 0, 0, nullptr, nullptr, 0, 0},
    // Every format, a CRC in a big-endian num and a repeated group counted by a field.
    {u"0x3A,Addr[1n],N[1n],W[2n],F1[0;2]+F2[4;4],0x3B,Txt[~12s],0x0D,L[1d],Raw[L*2~8b],D[5d],"
     u"Crc[2n]",
     u"Crc", 1, 10, u"crc16-ibm", u"N", 3, 3},
    {u"0x3A,Hex[~8h],0x0D,Dec[~6d],0x0A,Lrc[2b]", u"Lrc", 0, 5, u"lrc", nullptr, 0, 0},
    {u"0x02,Len[2h],Raw[Len~8b],X[4n],0x03,Xor[2h]", u"Xor", 1, 4, u"xor", nullptr, 0, 0},
};

std::vector<std::unique_ptr<qb::Style>> MakeStyles(qb::Platform& platform) {
  std::vector<std::unique_ptr<qb::Style>> styles;
  for (const Definition& d : kDefinitions) {
    auto style = std::make_unique<qb::Style>(platform);
    if (!style->MakeStyle(d.text, true)) __builtin_trap();
    if (d.checksum != nullptr && !style->SetChecksumRange(d.checksum, d.first, d.count, d.method)) {
      __builtin_trap();
    }
    if (d.repeat != nullptr && !style->SetRepeatRange(d.repeat, d.repeatFirst, d.repeatCount)) {
      __builtin_trap();
    }
    styles.push_back(std::move(style));
  }
  return styles;
}

// Matches every received checksum, so that the walk goes on past it.
class AcceptingOwner : public qb::StyleOwner {
 public:
  bool CompareTextChecksum(std::u16string_view, uint32_t, int32_t) override { return true; }
  bool CompareBinaryChecksum(std::u16string_view, uint32_t, std::span<const uint8_t>) override {
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  static qb::QuietPlatform platform;
  static const std::vector<std::unique_ptr<qb::Style>> styles = MakeStyles(platform);
  qb::StyleOwner strict;
  AcceptingOwner accepting;
  // The first byte chooses the owner; the rest is the line.
  qb::StyleOwner& owner = (data[0] & 1) ? static_cast<qb::StyleOwner&>(accepting) : strict;
  const std::span<const uint8_t> line(data + 1, size - 1);
  size_t offset = 0;       // bytes consumed or dropped so far
  qb::FrameValues values;  // emptied before each try, as a receiver does
  while (offset < line.size()) {
    bool matched = false;
    bool needMore = false;
    for (const auto& style : styles) {
      values.Clear();
      size_t consumed = 0;
      const int result = qb::ParseFrameAt(*style, line.subspan(offset), values, owner, consumed);
      if (result == 1) {
        if (consumed == 0 || consumed > line.size() - offset) __builtin_trap();
        offset += consumed;
        matched = true;
        break;
      }
      if ((result != 0 && result != -1) || consumed != 0) __builtin_trap();
      needMore = needMore || result == -1;
    }
    if (matched) continue;
    if (needMore) break;
    ++offset;
  }
  // The buffer form removes exactly the matched bytes and nothing otherwise.
  std::vector<uint8_t> buffer(line.begin(), line.end());
  for (const auto& style : styles) {
    const std::vector<uint8_t> before = buffer;
    qb::FrameValues values;
    size_t consumed = 0;
    const int expected = qb::ParseFrameAt(*style, before, values, owner, consumed);
    qb::FrameValues again;
    const int result = qb::ParseFrame(*style, buffer, again, owner);
    if (result != expected) __builtin_trap();
    if (buffer.size() != before.size() - consumed) __builtin_trap();
    if (result == 1) break;
  }
  return 0;
}
