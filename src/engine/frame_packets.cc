// Replies of the frame protocols: the frame receiver recognises a packet, and the engine ends the
// outstanding query, decodes the packet into the last-event record and tells the host with
// record-form events. Replies carry no item ids; they are attributed to the last frame sent.
#include <algorithm>
#include <atomic>

#include "engine/item_keys.h"
#include "engine/query_engine.h"
#include "protocols/reply_styles.h"
#include "quillbox/quillbox.h"
#include "style/int_to_str.h"
#include "style/style_text.h"

namespace qb {
namespace {

// Shown once per process: an MBFX data block that does not divide into values.
std::atomic<bool> mbfxBlockMessageNotShown{true};

uint16_t HexValue(std::u16string_view digits) {
  return static_cast<uint16_t>(style_text::ParseHexWrapping(digits));
}

}  // namespace

void QueryEngine::SetProtocol(std::u16string_view name) {
  protocolName_ = name;
  frameReceiver_.ClearRecvStyles();
  if (!RegisterReplyStyles(frameReceiver_, protocolName_) && protocolName_ == u"USRPRTCL") {
    RegisterUserProtocolReplyStyles();
  }
}

void QueryEngine::EngineFrameReceiver::OnPacket(std::u16string_view protocol,
                                                std::u16string_view packet) {
  engine_.OnFramePacket(protocol, packet);
}

void QueryEngine::OnFramePacket(std::u16string_view protocol, std::u16string_view packet) {
  // Whatever the packet says, the outstanding query has its answer.
  lastReplyTime_ = StampNow();
  lastAskTime_ = 0;
  if (protocol == u"MBFX") {
    OnMbfxPacket(packet);
  } else if (protocol == u"LSMK") {
    OnCnetPacket(packet);
  } else if (protocol == u"MKLD") {
    OnMkldPacket(packet);
  } else if (protocol == u"USRPRTCL") {
    OnUserProtocolPacket(packet);
  }
}

void QueryEngine::SendRecordEvent(uintptr_t wParam) {
  if (!hostWindowSet_) return;  // a message to a missing window goes nowhere
  platform_.SendHostMessage(hostWindow_, hostMessage_, wParam, 0);
}

void QueryEngine::OnMbfxPacket(std::u16string_view packet) {
  if (packet != u"READ_ACK") return;
  // The station waits for the master's acknowledgement before it takes the next request.
  WriteToPort(BuildMbfxAck(platform_, frameReceiver_.GetIntValue(u"SlvAddr")));
  const std::u16string block = frameReceiver_.GetStrValue(u"DataBlock");
  const bool bits = frameBitFlag_ != 0;
  const size_t width = bits ? 1 : 4;
  if (block.size() % width != 0) {
    ShowMessageBoxOnce(platform_, mbfxBlockMessageNotShown, u"Error 62743");
    return;
  }
  lastRx_.eventType = QB_EVENT_REPLY;
  lastRx_.dataType = bits ? QB_DATA_BITS : QB_DATA_WORDS;
  lastRx_.itemId = frameItemIds_.empty() ? 0 : frameItemIds_.front();
  lastRx_.words.clear();
  for (size_t i = 0; i < block.size(); i += width) {
    lastRx_.words.push_back(HexValue(std::u16string_view(block).substr(i, width)));
  }
  SendRecordEvent(0);
}

void QueryEngine::OnCnetPacket(std::u16string_view packet) {
  if (packet == u"READ_ACK") {
    lastRx_.eventType = QB_EVENT_REPLY;
    const int32_t blocks = frameReceiver_.GetIntValue(u"BlocCnt");
    if (blocks != static_cast<int32_t>(frameItemIds_.size())) {
      frameItemIds_.clear();  // not the frame that was sent: nothing can be attributed
      return;
    }
    if (blocks != cnet_.PreviousReadBlockCount()) return;
    // A copy: the host may send the next frame from inside its handler.
    const std::vector<int32_t> ids = frameItemIds_;
    std::vector<int32_t> reported;
    for (size_t i = 0; i < ids.size(); ++i) {
      // The repeated last block of a frame reports its item once.
      if (std::find(reported.begin(), reported.end(), ids[i]) != reported.end()) continue;
      reported.push_back(ids[i]);
      const std::u16string round = u":" + IntToStr(static_cast<int32_t>(i), 10, -1);
      lastRx_.itemId = ids[i];
      lastRx_.dataType =
          frameReceiver_.GetIntValue(u"DataCnt" + round) == 2 ? QB_DATA_WORDS : QB_DATA_BITS;
      lastRx_.words.assign(1, static_cast<uint16_t>(frameReceiver_.GetIntValue(u"Data" + round)));
      SendRecordEvent(0);
    }
  } else if (packet == u"WRITE_ACK") {
    lastRx_.eventType = QB_EVENT_REPLY;
    const std::vector<int32_t> ids = secondFrameItemIds_;
    for (const int32_t id : ids) {
      lastRx_.itemId = id;
      SendRecordEvent(0);
    }
  }
  // READ_NAK and WRITE_NAK carry an error code and end the query without an event.
}

void QueryEngine::OnMkldPacket(std::u16string_view packet) {
  if (packet != u"READ_ACK") return;
  std::u16string data = frameReceiver_.GetStrValue(u"RxDataAndBcc");
  if (data.size() > 2) data.resize(data.size() - 2);  // the BCC
  if (data.size() != 4 || frameItemIds_.empty()) return;
  uint32_t value = HexValue(std::u16string_view(data).substr(0, 2)) * 256u +
                   HexValue(std::u16string_view(data).substr(2, 2));
  const bool bits = frameBitFlag_ != 0;
  if (bits) {
    const int32_t bit = properties_.GetInt(keys::kBitPos, 0);
    value = bit >= 0 && bit < 16 ? (value >> bit) & 1u : 0u;
  }
  lastRx_.eventType = QB_EVENT_REPLY;
  lastRx_.dataType = bits ? QB_DATA_BITS : QB_DATA_WORDS;
  lastRx_.words.assign(1, static_cast<uint16_t>(value));
  lastRx_.itemId = frameItemIds_.front();
  SendRecordEvent(0);
}

}  // namespace qb
