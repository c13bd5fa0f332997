// Choose-and-send for the PLC link protocols whose frames are Styles. Their frames always go
// through the library's own port; a builder that builds nothing leaves the query un-asked.
#include <vector>

#include "engine/item_keys.h"
#include "engine/query_engine.h"
#include "engine/text_format.h"
#include "protocols/protocol_capabilities.h"

namespace qb {

void QueryEngine::SendCnetFrame() {
  std::vector<const PropertyMap*> queue;
  queue.reserve(toDo_.Count());
  for (const auto& item : toDo_) queue.push_back(item.get());
  LinkFrame frame;
  // Words before bits; within each, a waiting write goes before the reads.
  for (const bool bits : {false, true}) {
    const bool write = cnet_.BuildWrite(queue, bits, frame);
    if (!write && !cnet_.BuildRead(queue, bits, frame)) continue;
    TakeServedItems(frame);
    if (write) {
      secondFrameItemIds_ = frame.itemIds;
    } else {
      frameItemIds_ = frame.itemIds;
      frameBitFlag_ = frame.bitFlag;
    }
    WriteToPort(frame.bytes);
    lastAskTime_ = StampNow();
    Note(u"LastAskTime=" + DecimalText(lastAskTime_));
    return;
  }
}

void QueryEngine::SendHeadItemFrame(bool mkld) {
  const QueryItem& head = *toDo_.Head();
  LinkFrame frame;
  frameItemIds_.clear();
  const bool built =
      mkld ? BuildMkldFrame(platform_, head, frame) : BuildMbfxFrame(platform_, head, frame);
  if (!built) {
    // The builders refuse a paused copy at the head. Left there it would hold every item behind
    // it until the watchdog's refill, and stop the cycle again at the same copy; so it is dropped
    // unsent, as the Modbus path drops it, and the next item follows at the next step.
    Note(u"ItemId : " + DecimalText(head.Id()) + u" - Skip Query (Paused)");
    toDo_.RemoveHead();
    return;
  }
  if (mkld) properties_.Assign(head);
  TakeServedItems(frame);
  frameItemIds_ = frame.itemIds;
  frameBitFlag_ = frame.bitFlag;
  WriteToPort(frame.bytes);
  lastAskTime_ = StampNow();
}

void QueryEngine::TakeServedItems(const LinkFrame& frame) {
  size_t position = 0;
  size_t next = 0;  // index into frame.taken, which is ascending
  for (auto it = toDo_.begin(); it != toDo_.end() && next < frame.taken.size(); ++position) {
    if (position == frame.current) {
      currentItemId_ = (*it)->Id();
      DescribeCurrentItem(**it);
    }
    if (position == frame.taken[next]) {
      it = toDo_.Remove(it);
      ++next;
    } else {
      ++it;
    }
  }
}

void QueryEngine::WriteToPort(const std::vector<uint8_t>& bytes) {
  if (port_ != nullptr) port_->Write(bytes.data(), bytes.size());
}

}  // namespace qb
