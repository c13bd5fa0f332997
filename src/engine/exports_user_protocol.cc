// C exports of the user protocol: loading its definition and queuing its Tx packets.
#include "engine/default_runtime.h"
#include "platform/code_page.h"
#include "quillbox/quillbox.h"

using qb::DefaultRuntime;
using qb::QueryEngine;
using qb::WideView;

extern "C" {

int32_t qbSetUsrPrtclFromBinHexExp(const qb_wchar* definition) {
  return DefaultRuntime::Get().Run(
      [&](QueryEngine& e) { return e.LoadUserProtocol(WideView(definition)); });
}
int32_t qbAutoUsrPrtclPakt(const qb_wchar* packetName, uint32_t id) {
  return DefaultRuntime::Get().Run(
      [&](QueryEngine& e) { return e.AddUserPacket(WideView(packetName), u"Caseone", id, true); });
}
int32_t qbManualUsrPrtclPakt(const qb_wchar* packetName, const qb_wchar* txSituation, uint32_t id) {
  return DefaultRuntime::Get().Run([&](QueryEngine& e) {
    return e.AddUserPacket(WideView(packetName), WideView(txSituation), id, false);
  });
}

}  // extern "C"
