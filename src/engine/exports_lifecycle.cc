// C exports: the platform hooks, the lifecycle and the settings of the default engine.
#include "engine/default_runtime.h"
#include "platform/code_page.h"
#include "quillbox/quillbox.h"

using qb::DefaultPlatform;
using qb::DefaultRuntime;
using qb::QueryEngine;
using qb::WideView;

extern "C" {

void qbSetHostWindowProc(qb_window_proc proc) {
  DefaultRuntime::Get().RunOnPlatform([&](DefaultPlatform& p) { p.SetHostWindowProc(proc); });
}
void qbSetMessageBoxProc(qb_text_proc proc) {
  DefaultRuntime::Get().RunOnPlatform([&](DefaultPlatform& p) { p.SetMessageBoxProc(proc); });
}
void qbSetDebugNoteProc(qb_text_proc proc) {
  DefaultRuntime::Get().RunOnPlatform([&](DefaultPlatform& p) { p.SetDebugNoteProc(proc); });
}
void qbSetCodePage(const qb_wchar* name) {
  DefaultRuntime::Get().RunOnPlatform(
      [&](DefaultPlatform& p) { p.SelectCodePage(WideView(name)); });
}

void qbInit(void* window, uint32_t message) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.Init(window, message); });
}
void qbStart(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.Start(); });
}
void qbStartNotDestroyingBuffer(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.StartNotDestroyingBuffer(); });
}
void qbStop(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.Stop(); });
}
void qbStep(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.Step(); });
}
void qbSetTimeOut(int32_t ms) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetTimeOut(ms); });
}
void qbSetQueryInterval(int32_t ms) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetQueryInterval(ms); });
}
int32_t qbGetQueryInterval(void) {
  return DefaultRuntime::Get().Run([](QueryEngine& e) { return e.GetQueryInterval(); });
}
void qbSetEventFormat(int32_t format) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetEventFormat(format); });
}
void qbSetRtuMode(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.SetRtuMode(); });
}
void qbSetAsciiMode(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.SetAsciiMode(); });
}
int32_t qbIsRtuMode(void) {
  return DefaultRuntime::Get().Run([](QueryEngine& e) { return e.IsRtuMode() ? QB_YES : QB_NO; });
}
void qbSetUserProtocolMode(int32_t mode) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetUserProtocolMode(mode); });
}
void qbEnableRetryForManual(int32_t enabled, int32_t retryLimit, int32_t extraMsPerRetry) {
  DefaultRuntime::Get().Run(
      [&](QueryEngine& e) { e.EnableRetryForManual(enabled, retryLimit, extraMsPerRetry); });
}
void qbDefineBitRead01(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.DefineBitReadCode(0); });
}
void qbDefineBitRead02(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.DefineBitReadCode(1); });
}
void qbDefineWordRead03(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.DefineWordReadCode(0); });
}
void qbDefineWordRead04(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.DefineWordReadCode(1); });
}
void qbSetQueryDirectSerial(int32_t direct) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetQueryDirectSerial(direct); });
}
void qbSetManualInsertStyle(int32_t style, int32_t styleWithoutAuto) {
  DefaultRuntime::Get().Run(
      [&](QueryEngine& e) { e.SetManualInsertStyle(style, styleWithoutAuto); });
}
void qbSetTempStr(const qb_wchar* text) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetTempStr(WideView(text)); });
}
void qbSetArrDelimiter(const qb_wchar* text) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetArrDelimiter(WideView(text)); });
}
void qbSetLastAskTimeToCurrentIfNotZero(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.SetLastAskTimeToCurrentIfNotZero(); });
}
void qbDeleteBuffer(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.DeleteBuffer(); });
}
int32_t qbGetBufferSize(void) {
  return DefaultRuntime::Get().Run([](QueryEngine& e) { return e.GetBufferSize(); });
}
void qbCancelRx(void) {
  // A reply being gathered stays outstanding: the call exists for hosts that still make it.
}
void __qbTrimHeadZero(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.SetTrimHeadZero(); });
}
void __qbTrimTail(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.SetTrimTail(); });
}

void qbSetTimerPeriod(int32_t ms) { DefaultRuntime::Get().SetTimerPeriod(ms); }

}  // extern "C"
