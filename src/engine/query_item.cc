#include "engine/query_item.h"

#include "engine/item_keys.h"
#include "engine/text_format.h"
#include "style/checksum.h"

namespace qb {
QueryItem::QueryItem() { SetInt(keys::kItmId, -1); }

int32_t QueryItem::Id() const { return GetInt(keys::kItmId, 0); }

std::u16string ItemDescription(const QueryItem& item, bool hasDeviceNames, bool hasBitPositions) {
  const int32_t code = item.Int(keys::kFncCode);
  std::u16string text;
  switch (code) {
    case 1:
    case 2:
      text = u"BitRead: ";
      break;
    case 3:
    case 4:
      text = u"WordRead: ";
      break;
    case 5:
      text = u"BitWrite: ";
      break;
    case 6:
      text = u"WordWrite: ";
      break;
    default:
      break;
  }
  if (hasDeviceNames) text += item.GetStr(keys::kDeviceName) + u",";
  const int32_t start = item.Int(keys::kSttAddr);
  const std::string hex = HexText(static_cast<uint32_t>(start), 4);
  text += u"0x" + std::u16string(hex.begin(), hex.end()) + u"(=" + DecimalText(start) + u")";
  if (hasBitPositions && (code == 5 || code == 1 || code == 2)) {
    text += u",Bit=" + item.GetStr(keys::kBitPos);
  }
  const int32_t length = item.Int(keys::kLength);
  if (code != 5 && code != 6 && length != 1) text += u"(Len=" + DecimalText(length) + u")";
  return text;
}

}  // namespace qb
