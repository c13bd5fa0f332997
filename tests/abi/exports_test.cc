// The exports a host finds in libQUILLBOXCE: each by its undecorated name, and nothing else of
// ours in the dynamic symbol table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

// Every export the library offers today, as hosts look them up.
// clang-format off
const std::set<std::string> kExports = {
    // platform
    "qbSetHostWindowProc", "qbSetMessageBoxProc", "qbSetDebugNoteProc", "qbSetCodePage",
    "qbSetTimerPeriod",
    // lifecycle and settings
    "qbInit", "qbStart", "qbStartNotDestroyingBuffer", "qbStop", "qbStep", "qbSetTimeOut",
    "qbSetQueryInterval", "qbGetQueryInterval", "qbSetEventFormat", "qbSetRtuMode",
    "qbSetAsciiMode", "qbIsRtuMode", "qbSetUserProtocolMode", "qbEnableRetryForManual",
    "qbDefineBitRead01", "qbDefineBitRead02", "qbDefineWordRead03", "qbDefineWordRead04",
    "qbSetQueryDirectSerial", "qbSetManualInsertStyle", "qbSetTempStr", "qbSetArrDelimiter",
    "qbSetLastAskTimeToCurrentIfNotZero", "qbDeleteBuffer", "qbGetBufferSize", "qbCancelRx",
    "__qbTrimHeadZero", "__qbTrimTail",
    // items
    "qbAutoBitRead", "qbManualBitRead", "qbAutoBitReadEx", "qbManualBitReadEx", "qbAutoWordRead",
    "qbManualWordRead", "qbAutoWordReadEx", "qbManualWordReadEx", "qbAutoBitWrite",
    "qbManualBitWrite", "qbManualBitWriteEx", "qbAutoWordWrite", "qbManualWordWrite",
    "qbManualWordWriteEx", "qbAutoMultiWordWrite", "qbManualMultiWordWrite", "qbAutoMultiBitWrite",
    "qbManualMultiBitWrite", "qbAutoMaskWrite4x", "qbManualMaskWrite4x", "qbAutoReadWrite4x",
    "qbManualReadWrite4x", "qbAutoUserProtocol", "qbManualUserProtocol", "qbPauseItem",
    "qbResumeItem", "qbUnregisterAutoItem", "qbUnregisterAllAutoItems", "qbSetTxOnlyItem",
    "qbSetTxOnlyItemEx", "qbSetCustomTimeOut", "qbRemoveAllCustomTimeOut",
    // last event
    "qbGetLastRxEventType", "qbGetLastRxItemId", "qbGetLastRxDataType", "qbGetLastRxDataCount",
    "qbGetLastRxDataAtIndex", "qbGetLastRxRawSize", "qbGetLastRxRaw", "qbGetLastItmExp",
    "qbGetLastEvntAsgstr", "qbGetLastEvntAsgstrEnoughByteCnt", "qbGetLastPaktToSend",
    "qbGetLastWordArrLoVars", "qbGetLastWordArrLoVarsEnoughByteCnt", "qbGetLastTxSituation",
    "qbGetTotalStatusDescription", "qbGetLastRxRawEx", "qbGetLastEvntAsgstrEx",
    "qbGetLastPaktToSendEx", "qbGetLastWordArrLoVarsEx", "qbGetLastTxSituationEx",
    // serial port
    "qbOpenSerial", "qbCloseSerial", "qbSetParity", "qbSetDataBits", "qbSetStopBits",
    "qbSetRtsDelayFront", "qbSetRtsDelayBack", "qbSetPortDevice", "qbSetRs485Kernel",
    // protocols
    "qbSetProtocol", "qbHasPrtclDvcName", "qbHasPrtclBitPos", "qbIsPrtclSupportContinuousAddr",
    "qbSetHttpMode",
    // user protocol
    "qbSetUsrPrtclFromBinHexExp", "qbAutoUsrPrtclPakt", "qbManualUsrPrtclPakt",
    // diagnostics
    "qbEnableTraceToFile", "qbSetTraceFilePath", "qbShowLog", "qbTest1", "qbSetMonitorSocket",
    // Modbus and reception
    "qbGetRtuTimeGap", "qbOnSerialReceive",
    // extensions
    "qbGetVersion", "qbSetDetailedEvents", "qbGetLastErrorText",
};
// clang-format on

TEST(Exports, EveryExportResolvesByItsUndecoratedName) {
  void* library = dlopen(QB_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const auto& name : kExports) {
    EXPECT_NE(dlsym(library, name.c_str()), nullptr) << name;
  }
  EXPECT_EQ(dlsym(library, "qbNoSuchExport"), nullptr);
}

TEST(Exports, DynamicSymbolTableHoldsOnlyTheExports) {
  const std::string command = std::string("nm -D --defined-only ") + QB_LIBRARY_PATH;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> defined;
  char line[4096];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    char address[64], type[8], name[4000];
    if (sscanf(line, "%63s %7s %3999s", address, type, name) == 3) defined.insert(name);
  }
  ASSERT_EQ(pclose(pipe), 0);
  std::string missing, extra;
  for (const auto& name : kExports) {
    if (defined.count(name) == 0) missing += " " + name;
  }
  for (const auto& name : defined) {
    if (kExports.count(name) == 0) extra += " " + name;
  }
  EXPECT_EQ(missing, "");
  EXPECT_EQ(extra, "");
}

}  // namespace
