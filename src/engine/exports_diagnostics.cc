// C exports: the diagnostics of the default engine (the trace file, the Log window, the text on
// the display) and the monitor socket.
#include "engine/default_runtime.h"
#include "platform/code_page.h"
#include "quillbox/quillbox.h"

using qb::DefaultPlatform;
using qb::DefaultRuntime;
using qb::QueryEngine;
using qb::WideView;

extern "C" {

void qbEnableTraceToFile(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.EnableTraceToFile(); });
}
void qbSetTraceFilePath(const qb_wchar* path) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetTraceFilePath(WideView(path)); });
}
void qbShowLog(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.ShowLog(); });
}
void qbTest1(const qb_wchar* text) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.Test1(WideView(text)); });
}
void qbSetMonitorSocket(const qb_wchar* path) {
  DefaultRuntime::Get().RunOnPlatform(
      [&](DefaultPlatform& p) { p.SetMonitorSocket(WideView(path)); });
}

}  // extern "C"
