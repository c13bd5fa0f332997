// "MKLD" and "MBFX" requests: one item per frame, the item at the head of the queue.
#include "props/item_keys.h"
#include "protocols/link_frames.h"
#include "style/int_to_str.h"

namespace qb {
namespace {

struct Kind {
  bool read;
  bool bits;
};

Kind Classify(int32_t code) {
  return {code >= 1 && code <= 4, code == 1 || code == 2 || code == 5};
}

// The loader port takes its words low byte first.
int32_t Swap16(uint32_t word) {
  return static_cast<int32_t>(((word & 0xFFu) << 8) | ((word >> 8) & 0xFFu));
}

uint32_t Swap24(uint32_t value) {
  value &= 0xFFFFFFu;
  return ((value & 0xFFu) << 16) | (value & 0xFF00u) | ((value >> 16) & 0xFFu);
}

struct DeviceOffset {
  std::u16string_view device;
  uint32_t offset;
};
constexpr DeviceOffset kMkldDevices[] = {
    {u"D", 0x0000}, {u"T", 0x5000}, {u"C", 0x5200}, {u"P", 0x5C00}, {u"M", 0x5D00},
    {u"L", 0x5F00}, {u"K", 0x6000}, {u"F", 0x6300}, {u"S", 0x6400},
};

void Finish(const PropertyMap& head, Kind kind, Style& style, LinkFrame& out) {
  style.BuildFrame(out.bytes);
  out.itemIds.push_back(head.GetInt(keys::kItmId, 0));
  out.taken.push_back(0);
  out.current = 0;
  out.bitFlag = kind.bits ? 1 : 0;
}

}  // namespace

uint32_t MkldStartAddress(std::u16string_view device, int32_t address) {
  for (const DeviceOffset& d : kMkldDevices) {
    if (d.device == device) return Swap24(2u * static_cast<uint32_t>(address)) + d.offset;
  }
  return 0;
}

bool BuildMkldFrame(Platform& platform, const PropertyMap& head, LinkFrame& out) {
  out.Clear();
  if (head.GetInt(keys::kPaused, 0) != 0) return false;
  const Kind kind = Classify(head.GetInt(keys::kFncCode, 0));
  const int32_t bitPos = head.GetInt(keys::kBitPos, 0);
  const uint32_t bitMask = bitPos >= 0 && bitPos < 16 ? 1u << bitPos : 0u;
  const bool setBit = head.GetInt(keys::kWritingBit, 0) != 0;

  Style style(platform);
  if (kind.read) {
    style.MakeStyle(u"0x02,'r','M',StartAddr[6h],ByteCnt[2h],Bcc[2h],0x03", true);
    style.SetChecksumRange(u"Bcc", 1, 4, u"plus");
  } else if (!kind.bits) {
    style.MakeStyle(u"0x02,'w','M',StartAddr[6h],ByteCnt[2h],WritingWordData[4h],Bcc[2h],0x03",
                    true);
    style.SetChecksumRange(u"Bcc", 1, 5, u"plus");
    style.SetInt(u"WritingWordData",
                 Swap16(static_cast<uint32_t>(head.GetInt(keys::kWritingWord, 0))));
  } else if (!setBit) {
    style.MakeStyle(u"0x02,'n','M',StartAddr[6h],AndData[4h],Bcc[2h],0x03", true);
    style.SetChecksumRange(u"Bcc", 1, 4, u"plus");
    style.SetInt(u"AndData", Swap16(~bitMask & 0xFFFFu));
  } else {
    style.MakeStyle(u"0x02,'o','M',StartAddr[6h],OrData[4h],Bcc[2h],0x03", true);
    style.SetChecksumRange(u"Bcc", 1, 4, u"plus");
    style.SetInt(u"OrData", Swap16(bitMask));
  }
  style.SetInt(u"StartAddr", static_cast<int32_t>(MkldStartAddress(
                                 head.GetStr(keys::kDeviceName), head.GetInt(keys::kSttAddr, 0))));
  if (kind.read || !kind.bits) style.SetInt(u"ByteCnt", 2);
  Finish(head, kind, style, out);
  return true;
}

bool BuildMbfxFrame(Platform& platform, const PropertyMap& head, LinkFrame& out) {
  out.Clear();
  if (head.GetInt(keys::kPaused, 0) != 0) return false;
  const Kind kind = Classify(head.GetInt(keys::kFncCode, 0));
  std::u16string text = u"0x05,SlvAddr[2d],PlcNum[2h],";
  text += kind.bits ? u"'B'" : u"'W'";
  text += kind.read ? u",'R'" : u",'W'";
  text += u",'0',StartAddr[5s],ItemCnt[2h],";
  if (!kind.read)
    text += kind.bits ? u"WritingBlock[ItemCnt~200s]," : u"WritingBlock[ItemCnt*4~200s],";
  text += u"Sum[2h]";

  Style style(platform);
  style.MakeStyle(text, true);
  style.SetChecksumRange(u"Sum", 1, kind.read ? 7 : 8, u"plus");
  style.SetInt(u"SlvAddr", head.GetInt(keys::kSlvAddr, 0));
  style.SetInt(u"PlcNum", 0xFF);
  // The head device is five characters: the device letter, then the address padded with zeros.
  std::u16string device = head.GetStr(keys::kDeviceName);
  const std::u16string digits = IntToStr(head.GetInt(keys::kSttAddr, 0), 10, -1);
  if (device.size() + digits.size() < 5) device.append(5 - device.size() - digits.size(), u'0');
  style.SetStr(u"StartAddr", device + digits);
  style.SetInt(u"ItemCnt", kind.read ? head.GetInt(keys::kLength, 0) : 1);
  if (!kind.read) {
    style.SetStr(u"WritingBlock", kind.bits ? (head.GetInt(keys::kWritingBit, 0) == 0 ? u"0" : u"1")
                                            : IntToStr(head.GetInt(keys::kWritingWord, 0), 16, 4));
  }
  Finish(head, kind, style, out);
  return true;
}

std::vector<uint8_t> BuildMbfxAck(Platform& platform, int32_t station) {
  Style style(platform);
  style.MakeStyle(u"0x06,SlaveAddr[2d],'F','F'", true);
  style.SetInt(u"SlaveAddr", station);
  std::vector<uint8_t> frame;
  style.BuildFrame(frame);
  return frame;
}

}  // namespace qb
