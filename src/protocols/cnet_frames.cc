// Cnet ("LSMK") requests: the individual read of up to 16 device blocks and the one-block write.
#include <algorithm>

#include "props/item_keys.h"
#include "protocols/link_frames.h"
#include "style/int_to_str.h"

namespace qb {
namespace {

constexpr std::u16string_view kReadText =
    u"0x05,SlvAddr[2h],'r','S','S',BlocCnt~16[2h],SpecLen[2h],Spec[SpecLen~16s],0x04,Bcc[2h]";
constexpr std::u16string_view kWordWriteText =
    u"0x05,SlvAddr[2h],'w','S','S',BlocCnt~16[2h],SpecLen[2h],Spec[SpecLen~16s],Data[4h],0x04,"
    u"Bcc[2h]";
constexpr std::u16string_view kBitWriteText =
    u"0x05,SlvAddr[2h],'w','S','S',BlocCnt~16[2h],SpecLen[2h],Spec[SpecLen~16s],Data[2h],0x04,"
    u"Bcc[2h]";
// Every block names its device in 7 characters (%MW0100), whatever the device name really takes.
constexpr int32_t kSpecLength = 7;

std::u16string Indexed(std::u16string_view name, size_t index) {
  std::u16string key(name);
  key += u':';
  key += IntToStr(static_cast<int32_t>(index), 10, -1);
  return key;
}

// One more block for item: its Spec under the next round index, its id at the end of the list.
void AddBlock(Style& style, const PropertyMap& item, bool bits, LinkFrame& out) {
  const size_t round = out.itemIds.size();
  style.SetInt(Indexed(u"SpecLen", round), kSpecLength);
  style.SetStr(Indexed(u"Spec", round), CnetDeviceSpec(item, bits));
  out.itemIds.push_back(item.GetInt(keys::kItmId, 0));
}

bool IsRead(int32_t code, bool bits) {
  return bits ? code == 1 || code == 2 : code == 3 || code == 4;
}

}  // namespace

void LinkFrame::Clear() {
  bytes.clear();
  itemIds.clear();
  taken.clear();
  current = 0;
  bitFlag = 0;
}

std::u16string CnetDeviceSpec(const PropertyMap& item, bool bits) {
  std::u16string deviceText = u"%";
  deviceText += item.GetStr(keys::kDeviceName);
  deviceText += bits ? u'X' : u'W';
  deviceText += IntToStr(item.GetInt(keys::kSttAddr, 0), 10, bits ? 3 : 4);
  if (bits) deviceText += IntToStr(item.GetInt(keys::kBitPos, 0), 16, 1);
  return deviceText;
}

CnetBuilder::CnetBuilder(Platform& platform) : platform_(platform) {}

CnetBuilder::~CnetBuilder() = default;

bool CnetBuilder::BuildRead(ItemQueueView queue, bool bits, LinkFrame& out) {
  out.Clear();
  if (!readStyle_) {
    readStyle_ = std::make_unique<Style>(platform_);
    readStyle_->MakeStyle(kReadText, true);
    readStyle_->SetChecksumRange(u"Bcc", 0, 9, u"plus");
    readStyle_->SetRepeatRange(u"BlocCnt", 6, 2);
  }
  Style& style = *readStyle_;
  int32_t slave = 0;
  for (size_t i = 0; i < queue.size() && out.taken.size() < kItemsPerRead; ++i) {
    const PropertyMap& item = *queue[i];
    if (!IsRead(item.GetInt(keys::kFncCode, 0), bits)) continue;
    const int32_t itemSlave = item.GetInt(keys::kSlvAddr, 0);
    if (out.taken.empty()) {
      slave = itemSlave;
      style.SetInt(u"SlvAddr", slave);
    } else if (itemSlave != slave) {
      continue;  // waits for a frame of its own slave
    }
    AddBlock(style, item, bits, out);
    out.taken.push_back(i);
    out.current = i;
  }
  if (out.taken.empty()) return false;
  // The controller takes a frame with the block count of the one before it as a repetition, so
  // the last item goes in twice rather than let two frames in a row carry the same count.
  if (static_cast<int32_t>(out.taken.size()) == previousReadBlockCount_) {
    AddBlock(style, *queue[out.current], bits, out);
  }
  out.bitFlag = bits ? 1 : 0;
  previousReadBlockCount_ = static_cast<int32_t>(out.itemIds.size());
  style.SetInt(u"BlocCnt", previousReadBlockCount_);
  style.BuildFrame(out.bytes);
  return true;
}

bool CnetBuilder::BuildWrite(ItemQueueView queue, bool bits, LinkFrame& out) {
  out.Clear();
  const int32_t writeCode = bits ? 5 : 6;
  const auto found = std::find_if(queue.begin(), queue.end(), [&](const PropertyMap* item) {
    return item->GetInt(keys::kFncCode, 0) == writeCode;
  });
  if (found == queue.end()) return false;
  const PropertyMap& item = **found;
  Style style(platform_);
  style.MakeStyle(bits ? kBitWriteText : kWordWriteText, true);
  style.SetChecksumRange(u"Bcc", 0, 10, u"plus");
  style.SetRepeatRange(u"BlocCnt", 6, 3);
  style.SetInt(u"SlvAddr", item.GetInt(keys::kSlvAddr, 0));
  AddBlock(style, item, bits, out);
  style.SetInt(u"Data:0", item.GetInt(bits ? keys::kWritingBit : keys::kWritingWord, 0));
  style.SetInt(u"BlocCnt", 1);
  out.current = static_cast<size_t>(found - queue.begin());
  out.taken.push_back(out.current);
  out.bitFlag = bits ? 1 : 0;
  style.BuildFrame(out.bytes);
  return true;
}

}  // namespace qb
