// C exports: the library's own serial port on the default engine, and the bytes a host that runs
// its own port hands in.
#include <string>

#include "engine/default_runtime.h"
#include "engine/engine_port.h"
#include "platform/code_page.h"
#include "quillbox/quillbox.h"

using qb::DefaultRuntime;
using qb::EnginePort;
using qb::QueryEngine;
using qb::WideView;

extern "C" {

int32_t qbOpenSerial(int32_t port, uint32_t baud) {
  return DefaultRuntime::Get().RunWithPort(
      [&](QueryEngine& e, EnginePort& p, std::atomic<int32_t>& portRunning) {
        e.SetBaudRate(baud);
        p.SetReadParams(EnginePort::kDefaultChunkSize, &portRunning);
        if (p.Open(port, baud, e.Parity(), e.DataBits(), e.StopBits())) return QB_YES;
        e.SetLastErrorText(qb::Utf8ToUtf16(p.LastOpenError()));
        return QB_NO;
      });
}
void qbCloseSerial(void) {
  DefaultRuntime::Get().RunWithPort(
      [](QueryEngine&, EnginePort& p, std::atomic<int32_t>&) { p.Close(); });
}
void qbSetParity(const qb_wchar* text) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetParity(WideView(text)); });
}
void qbSetDataBits(const qb_wchar* text) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetDataBits(WideView(text)); });
}
void qbSetStopBits(const qb_wchar* text) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetStopBits(WideView(text)); });
}
void qbSetRtsDelayFront(uint32_t ms) {
  DefaultRuntime::Get().RunWithPort(
      [&](QueryEngine&, EnginePort& p, std::atomic<int32_t>&) { p.SetRtsDelayFront(ms); });
}
void qbSetRtsDelayBack(uint32_t ms) {
  DefaultRuntime::Get().RunWithPort(
      [&](QueryEngine&, EnginePort& p, std::atomic<int32_t>&) { p.SetRtsDelayBack(ms); });
}
void qbSetPortDevice(int32_t port, const qb_wchar* path) {
  DefaultRuntime::Get().RunWithPort([&](QueryEngine& e, EnginePort& p, std::atomic<int32_t>&) {
    if (!p.SetPortDevice(port, WideView(path))) {
      e.SetLastErrorText(u"qbSetPortDevice: COM" + qb::Utf8ToUtf16(std::to_string(port)) +
                         u": port numbers start at 1; a path has no zero byte and fits the limit");
    }
  });
}
void qbSetRs485Kernel(int32_t on) {
  DefaultRuntime::Get().RunWithPort(
      [&](QueryEngine&, EnginePort& p, std::atomic<int32_t>&) { p.SetRs485Kernel(on != 0); });
}

int32_t qbOnSerialReceive(const uint8_t* bytes, int32_t count) {
  return DefaultRuntime::Get().Run([&](QueryEngine& e) { return e.OnSerialReceive(bytes, count); });
}

}  // extern "C"
