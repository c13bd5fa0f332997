// The user protocol ("USRPRTCL") as the receiver and protocol selection see it. Registering the
// loaded definition's Rx packets as receive Styles and writing a matched packet's values text are
// the user protocol's part and are filled in there.
#include "engine/query_engine.h"

namespace qb {

void QueryEngine::RegisterUserProtocolReplyStyles() {
  // No protocol definition can be loaded yet, so there are no Rx packets to register.
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
  lastRx_.eventType = 100;
  // The values text of the packet (lastRx_.valuesText) is written by the user protocol.
  SendRecordEvent(byteOrder);
}

}  // namespace qb
