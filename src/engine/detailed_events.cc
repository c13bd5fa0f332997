// Detailed events, a Linux extension that a host turns on with qbSetDetailedEvents: what the
// system leaves to a time-out (an exception reply, a refused reply, a port that went away) is
// reported as it happens. With them off nothing here sends anything.
#include <string>
#include <vector>

#include "engine/query_engine.h"
#include "engine/text_format.h"
#include "platform/code_page.h"
#include "quillbox/quillbox.h"
#include "style/checksum.h"

namespace qb {
namespace {

// The reasons travel to the host as numbers: they are the header's.
static_assert(static_cast<int>(QueryEngine::DropReason::kQueueFull) == QB_DROP_QUEUE_FULL &&
              static_cast<int>(QueryEngine::DropReason::kWatchdogRefill) == QB_DROP_WATCHDOG &&
              static_cast<int>(QueryEngine::DropReason::kStart) == QB_DROP_START &&
              static_cast<int>(QueryEngine::DropReason::kInsertStyle) == QB_DROP_INSERT_STYLE);
static_assert(static_cast<int>(ModbusMaster::RejectReason::kChecksum) == QB_REJECT_CHECKSUM &&
              static_cast<int>(ModbusMaster::RejectReason::kSlave) == QB_REJECT_SLAVE &&
              static_cast<int>(ModbusMaster::RejectReason::kFunction) == QB_REJECT_FUNCTION &&
              static_cast<int>(ModbusMaster::RejectReason::kFraming) == QB_REJECT_FRAMING &&
              static_cast<int>(ModbusMaster::RejectReason::kUnexpected) == QB_REJECT_UNEXPECTED);

const char16_t* DropText(QueryEngine::DropReason reason) {
  switch (reason) {
    case QueryEngine::DropReason::kQueueFull:
      return u"beyond the 1024 waiting items";
    case QueryEngine::DropReason::kWatchdogRefill:
      return u"discarded by the watchdog's refill";
    case QueryEngine::DropReason::kStart:
      return u"discarded by qbStart";
    case QueryEngine::DropReason::kInsertStyle:
      return u"an insert style the library does not know";
  }
  return u"";
}

const char16_t* ReasonText(ModbusMaster::RejectReason reason) {
  switch (reason) {
    case ModbusMaster::RejectReason::kChecksum:
      return u"checksum (CRC or LRC) does not match";
    case ModbusMaster::RejectReason::kSlave:
      return u"reply from another slave";
    case ModbusMaster::RejectReason::kFunction:
      return u"reply to another function";
    case ModbusMaster::RejectReason::kFraming:
      return u"not a complete frame";
    case ModbusMaster::RejectReason::kUnexpected:
      return u"more bytes than the outstanding request awaits";
  }
  return u"";
}

}  // namespace

void QueryEngine::SetDetailedEvents(bool on) {
  detailedEvents_ = on;
  modbus_.SetDetailed(on);
}

void QueryEngine::DeliverDetailedEvent(int32_t code, const uint8_t* data, int32_t length,
                                       std::vector<uint16_t> words) {
  DeliverDetailedEvent(code, data, length, std::move(words), currentItemId_);
}

void QueryEngine::DeliverDetailedEvent(int32_t code, const uint8_t* data, int32_t length,
                                       std::vector<uint16_t> words, int32_t itemId) {
  lastRx_.eventType = code;
  lastRx_.itemId = itemId;
  lastRx_.raw.clear();
  if (data != nullptr) lastRx_.raw.assign(data, data + length);
  lastRx_.words = std::move(words);
  lastRx_.dataType = QB_DATA_WORDS;
  SendEventBlock(code, data, length, itemId);
}

void QueryEngine::EngineModbusMaster::OnException(const uint8_t* bytes, int32_t count) {
  // Only a host window can be told; without one the query ends as the system ends it, by time-out.
  if (!engine_.hostWindowSet_) return;
  const uint32_t exceptionCode = engine_.IsRtuMode() ? bytes[2] : HexPairValue(bytes + 5, 2);
  engine_.DeliverDetailedEvent(
      QB_EVENT_EXCEPTION, bytes, count,
      {static_cast<uint16_t>(FunctionCode()), static_cast<uint16_t>(exceptionCode)});
  engine_.lastAskTime_ = 0;
  engine_.lastReplyTime_ = engine_.StampNow();
}

void QueryEngine::EngineModbusMaster::OnRejected(const uint8_t* bytes, int32_t count,
                                                 RejectReason reason) {
  engine_.lastErrorText_ = std::u16string(u"reply refused: ") + ReasonText(reason);
  if (!engine_.hostWindowSet_) return;
  engine_.DeliverDetailedEvent(QB_EVENT_REJECTED, bytes, count,
                               {static_cast<uint16_t>(static_cast<int32_t>(reason))});
}

void QueryEngine::OnPortLost(std::string_view reason) {
  lastErrorText_ = Utf8ToUtf16(std::string(reason));
  if (!detailedEvents_ || !hostWindowSet_) return;
  DeliverDetailedEvent(QB_EVENT_PORT_LOST, nullptr, 0, {});
}

void QueryEngine::ReportDropped(const std::vector<int32_t>& manualIds, DropReason reason) {
  if (!detailedEvents_ || !hostWindowSet_) return;
  for (const int32_t id : manualIds) {
    lastErrorText_ = u"manual item " + DecimalText(id) + u" dropped unsent: " + DropText(reason);
    DeliverDetailedEvent(QB_EVENT_ITEM_DROPPED, nullptr, 0, {static_cast<uint16_t>(reason)}, id);
  }
}

void QueryEngine::ReportDiscardedReply(const uint8_t* bytes, int32_t count) {
  if (!detailedEvents_ || !hostWindowSet_) return;
  if (lastAskTime_ == 0 || lastAskTime_ == discardReportedAsk_) return;
  discardReportedAsk_ = lastAskTime_;
  lastErrorText_ =
      u"reply to item " + DecimalText(currentItemId_) + u" discarded: it came while stopped";
  DeliverDetailedEvent(QB_EVENT_REPLY_DISCARDED, bytes, count, {});
}

}  // namespace qb
