// C exports: protocol selection, what each protocol's items carry, the HTTP mode that switches the
// scheduler off, and the Modbus RTU gap.
#include "engine/default_runtime.h"
#include "platform/code_page.h"
#include "protocols/protocol_capabilities.h"
#include "quillbox/quillbox.h"

using qb::DefaultRuntime;
using qb::QueryEngine;
using qb::WideView;

extern "C" {

void qbSetProtocol(const qb_wchar* name) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetProtocol(WideView(name)); });
}

int32_t qbHasPrtclDvcName(const qb_wchar* protocol) {
  return qb::ProtocolHasDeviceName(WideView(protocol)) ? QB_YES : QB_NO;
}
int32_t qbHasPrtclBitPos(const qb_wchar* protocol) {
  return qb::ProtocolHasBitPosition(WideView(protocol)) ? QB_YES : QB_NO;
}
int32_t qbIsPrtclSupportContinuousAddr(const qb_wchar* protocol) {
  return qb::ProtocolSupportsContinuousAddress(WideView(protocol)) ? QB_YES : QB_NO;
}
void qbSetHttpMode(const qb_wchar* first, const qb_wchar* second) {
  DefaultRuntime::Get().Run(
      [&](QueryEngine& e) { e.SetHttpMode(WideView(first), WideView(second)); });
}

int32_t qbGetRtuTimeGap(void) {
  return DefaultRuntime::Get().Run([](QueryEngine& e) { return e.GetRtuTimeGap(); });
}

}  // extern "C"
