// The user protocol ("USRPRTCL") as the receiver and protocol selection see it: the loaded
// definition's Rx packets become receive Styles, and a matched packet reaches the host as event
// 100 with its values written as a values text.
#include "engine/query_engine.h"
#include "quillbox/quillbox.h"
#include "userprotocol/packet_style.h"
#include "userprotocol/values_text.h"

namespace qb {

void QueryEngine::RegisterUserProtocolReplyStyles() {
  for (const auto& packet : userProtocol_.Packets()) {
    if (!IsRxPacket(*packet)) continue;
    const PacketFrame frame = FrameOf(*packet);
    frameReceiver_.AddRecvStyle(frame.styleText, u"USRPRTCL", packet->GetStr(upkeys::kPaktName),
                                frame.highFirst);
    frameReceiver_.SetRecvStyleValue(u"WordArrLoVars", qb::WordArrLoVars(*packet));
    if (frame.checksum) {
      frameReceiver_.DefineRecvChecksum(frame.checksumVariable, frame.checksumFirst,
                                        frame.checksumCount, frame.checksumMethod);
    }
  }
}

void QueryEngine::OnUserProtocolPacket(std::u16string_view packet) {
  wordArrLoVars_.clear();
  uintptr_t byteOrder = 0;
  const Style* style = frameReceiver_.FindRecvStyle(packet);
  if (style != nullptr && style->UnitCount() > 0) {
    byteOrder = style->GetUnit(0)->bigEndian ? 1 : 0;
    wordArrLoVars_ = style->Defaults().GetStr(u"WordArrLoVars");
  }
  lastRx_.itemId = currentItemId_;
  lastRx_.valuesText = WriteValuesText(frameReceiver_.Values());
  lastRx_.eventType = QB_EVENT_USER_PACKET_RECEIVED;
  SendRecordEvent(byteOrder);
}

}  // namespace qb
