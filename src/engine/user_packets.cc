// User packets: query items built from the Tx packets of the loaded user protocol. The host is
// asked for the values once, while the item is built (event 101); every send of the item builds
// its frame from those values.
#include <vector>

#include "engine/item_keys.h"
#include "engine/query_engine.h"
#include "engine/text_format.h"
#include "quillbox/quillbox.h"
#include "style/style.h"
#include "userprotocol/packet_style.h"
#include "userprotocol/values_text.h"

namespace qb {

int32_t QueryEngine::AddUserPacket(std::u16string_view packetName, std::u16string_view txSituation,
                                   uint32_t id, bool isAuto) {
  const UserPacket* packet = userProtocol_.FindPacket(packetName);
  if (packet == nullptr) return QB_NO;
  auto item = std::make_unique<QueryItem>();
  item->SetInt(keys::kItmId, static_cast<int32_t>(id));
  item->packetName.assign(packetName);
  item->txSituation.assign(txSituation);
  Style style(platform_);
  const PacketFrame frame = FrameOf(*packet);
  if (!CompilePacket(frame, style)) return QB_NO;

  lastPacketName_ = item->packetName;
  lastTxSituation_ = item->txSituation;
  lastRx_.eventType = QB_EVENT_USER_PACKET_PREPARED;
  if (hostWindowSet_) {
    // lParam is the item's is-auto flag, which only the refill's copies carry: 0 for a new item.
    platform_.SendHostMessage(hostWindow_, hostMessage_, id, item->Int(keys::kIsAuto));
  }
  // The host may have set the values text and the delimiter while it handled the message.
  ReadValuesText(tempStr_, arrDelimiter_, style);
  item->userPacket = QueryItem::UserPacketFrame{frame, style.Values()};
  if (isAuto) {
    RegisterAuto(std::move(item));
  } else {
    RegisterManual(std::move(item));
  }
  return QB_YES;
}

void QueryEngine::SendUserPacketHead() {
  // Items that are not user packets cannot be sent under this protocol, and paused copies are
  // skipped: either is taken off the queue without a frame, so the cycle never stalls on one.
  std::unique_ptr<QueryItem> item = toDo_.TakeHead();
  if (!item->userPacket || item->Int(keys::kPaused) != 0) {
    Note(u"ItemId : " + DecimalText(item->Id()) + u" - Skip Query");
    return;
  }
  currentItemId_ = item->Id();
  currentItemIsAuto_ = item->Int(keys::kIsAuto);
  lastTxSituation_ = item->txSituation;
  Style style(platform_);
  if (!CompilePacket(item->userPacket->frame, style)) return;
  style.Values() = item->userPacket->values;
  std::vector<uint8_t> bytes;
  if (!style.BuildFrame(bytes) || bytes.empty()) return;
  if (port_ != nullptr) port_->Write(bytes.data(), bytes.size());
  lastAskTime_ = StampNow();
  Note(u"Set LastAskTime 3242");
}

}  // namespace qb
