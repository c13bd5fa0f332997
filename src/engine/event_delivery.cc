// Event delivery: every event is first recorded in the last-event record, then sent to the host
// window synchronously, with a block of the event code, the item id and the frame bytes.
#include <algorithm>
#include <vector>

#include "engine/query_engine.h"
#include "engine/text_format.h"
#include "quillbox/quillbox.h"

namespace qb {

// The decoded data's kind reaches the host as it stands (qbGetLastRxDataType).
static_assert(kModbusWords == QB_DATA_WORDS && kModbusBits == QB_DATA_BITS);

void QueryEngine::DeliverEvent(const uint8_t* data, int32_t length, int32_t code) {
  if (data == nullptr || length < 0) length = 0;
  lastRx_.eventType = code;
  lastRx_.itemId = currentItemId_;
  lastRx_.raw.clear();
  lastRx_.raw.shrink_to_fit();
  const bool carriesData = code != QB_EVENT_TIMEOUT && code != QB_EVENT_WATCHDOG;
  if (carriesData) {
    lastRx_.raw.assign(data, data + length);
    DecodeModbusData(lastRx_.raw, IsRtuMode(), requestedBitCount_, lastRx_.words, lastRx_.dataType);
  }
  SendEventBlock(code, data, carriesData ? length : 0, currentItemId_);
}

void QueryEngine::SendEventBlock(int32_t code, const uint8_t* payload, int32_t length,
                                 int32_t itemId) {
  const int32_t idWidth = eventFormat_ == QB_EVENT_FORMAT_ID4 ? 4 : 1;
  // 64 bits: a host's own frame may be as long as a 32-bit length allows.
  const int64_t eventSize = int64_t{1} + idWidth + std::max(length, 0);
  std::vector<uint8_t> block(static_cast<size_t>(eventSize));
  block[0] = static_cast<uint8_t>(code);
  const auto id = static_cast<uint32_t>(itemId);
  for (int32_t i = 0; i < idWidth; ++i) block[1 + i] = static_cast<uint8_t>(id >> (8 * i));
  if (length > 0) std::copy(payload, payload + length, block.begin() + 1 + idWidth);

  if (code >= QB_EVENT_SEND_REQUEST && code <= QB_EVENT_WATCHDOG) ++eventCounts_[code];
  if (log_.LoggingOn()) {
    LogTraffic(u"event " + DecimalText(code) + u" item " + DecimalText(itemId) + u":",
               length > 0 ? payload : nullptr, static_cast<size_t>(length));
  }
  Note(u"SendingMessage: EventCode=" + DecimalText(code) + u", EventSize=" +
       DecimalText(eventSize));
  if (!hostWindowSet_) return;  // a message to a missing window goes nowhere
  platform_.SendHostMessage(hostWindow_, hostMessage_, reinterpret_cast<uintptr_t>(block.data()),
                            static_cast<intptr_t>(eventSize));
}

void QueryEngine::EngineModbusMaster::OnPacket(const uint8_t* bytes, int32_t count) {
  engine_.OnModbusPacket(bytes, count);
}

void QueryEngine::OnModbusPacket(const uint8_t* bytes, int32_t count) {
  if (!hostWindowSet_) {
    Note(u"Error : Responsed Plain but no Target Window");
    return;
  }
  DeliverEvent(bytes, count, QB_EVENT_REPLY);
  lastAskTime_ = 0;
  lastReplyTime_ = StampNow();
  ++repliesCompleted_;
}

int32_t QueryEngine::AcceptModbusBytes(const uint8_t* bytes, int32_t count) {
  if (bytes == nullptr || count <= 0) return 0;
  return modbus_.Accumulate(bytes, count);
}

void QueryEngine::SerialAccept(const uint8_t* bytes, int32_t count) {
  if (bytes == nullptr || count <= 0) return;
  if (Tracing()) {
    std::u16string line = u"SerialAccept : ";
    const std::u16string hex = HexBytes(bytes, static_cast<size_t>(count));  // " AB CD ..."
    for (size_t i = 0; i < hex.size(); i += 3) {
      if (i > 0) line += u',';
      line += hex.substr(i + 1, 2);
    }
    Trace(line + u"\r\n");
  }
  if (running_ == 0) {
    ReportDiscardedReply(bytes, count);
    return;
  }
  if (protocolName_ == u"MODBUS") {
    if (modbus_.Accumulate(bytes, count) == 0) Note(u"UNEXPECTED DATA ARRIVED");
  } else {
    frameReceiver_.Receive(bytes, static_cast<size_t>(count));
    if (!frameReceiver_.ErrorText().empty()) Note(frameReceiver_.ErrorText());
  }
}

int32_t QueryEngine::BytesStillAwaited() const {
  if (running_ == 0) return 0;
  if (protocolName_ == u"MODBUS") return modbus_.BytesBeforeReplyCanEnd();
  return static_cast<int32_t>(frameReceiver_.BytesBeforeFrameCanEnd());
}

double QueryEngine::SilenceBeforeReply() const {
  return protocolName_ == u"MODBUS" && modbus_.IsRtu() ? 3.5 : 0.0;
}

int32_t QueryEngine::OnSerialReceive(const uint8_t* bytes, int32_t count) {
  if (port_ != nullptr && port_->IsOpen()) {
    Note(u"DLL 자체 시리얼포트 가동 중이므로 qbOnSerialReceive로 들어오는 것 무시");
    return 0;
  }
  return AcceptModbusBytes(bytes, count);
}

}  // namespace qb
