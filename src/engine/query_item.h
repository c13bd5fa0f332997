// One request the host wants made of a device. The request lives entirely in the item's properties
// (keys of item_keys.h), so that refill and retry copies are plain copies and the frame builders of
// every protocol read the same record.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "props/property_map.h"
#include "style/frame_values.h"
#include "userprotocol/packet_style.h"

namespace qb {

class QueryItem : public PropertyMap {
 public:
  QueryItem();                                  // "^.ItmId" = -1
  QueryItem(const QueryItem& other) = default;  // copies every property and both texts
  QueryItem& operator=(const QueryItem& other) = default;
  ~QueryItem() override = default;

  int32_t Id() const;
  int32_t Int(std::u16string_view key) const { return GetInt(key, 0); }

  // Set for user-protocol packet items only.
  std::u16string packetName;
  std::u16string txSituation;
  // A user packet's Style settings and the values read from the host's values text when it was
  // built; every send builds the frame from these, so the item never refers to the definition.
  struct UserPacketFrame {
    PacketFrame frame;
    FrameValues values;
  };
  std::optional<UserPacketFrame> userPacket;
};

// The text qbGetLastItmExp returns for an item, e.g. "WordRead: 0x0064(=100)(Len=10)".
std::u16string ItemDescription(const QueryItem& item, bool hasDeviceNames, bool hasBitPositions);

}  // namespace qb
