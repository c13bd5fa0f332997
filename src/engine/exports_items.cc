// C exports: registration and management of query items on the default engine.
#include "engine/default_runtime.h"
#include "engine/item_factory.h"
#include "platform/code_page.h"
#include "quillbox/quillbox.h"

using qb::DefaultRuntime;
using qb::QueryEngine;
using qb::WideView;

namespace {

// Each registration makes its item on the owner thread, so that the function code of a read is
// the engine's setting at the moment of registration.
template <class Make>
void Auto(const Make& make) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.RegisterAuto(make(e)); });
}
template <class Make>
void Manual(const Make& make) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.RegisterManual(make(e)); });
}

}  // namespace

extern "C" {

void qbAutoBitRead(int32_t id, int32_t slave, int32_t start, int32_t length) {
  Auto([&](QueryEngine& e) {
    return qb::MakeReadItem(id, e.BitReadFunctionCode(), slave, start, length);
  });
}
void qbManualBitRead(int32_t id, int32_t slave, int32_t start, int32_t length) {
  Manual([&](QueryEngine& e) {
    return qb::MakeReadItem(id, e.BitReadFunctionCode(), slave, start, length);
  });
}
void qbAutoBitReadEx(int32_t id, int32_t slave, int32_t start, const qb_wchar* deviceName,
                     int32_t bitPosition, int32_t length) {
  Auto([&](QueryEngine& e) {
    return qb::MakeReadItemEx(id, e.BitReadFunctionCode(), slave, start, WideView(deviceName),
                              bitPosition, length);
  });
}
void qbManualBitReadEx(int32_t id, int32_t slave, int32_t start, const qb_wchar* deviceName,
                       int32_t bitPosition, int32_t length) {
  Manual([&](QueryEngine& e) {
    return qb::MakeReadItemEx(id, e.BitReadFunctionCode(), slave, start, WideView(deviceName),
                              bitPosition, length);
  });
}
void qbAutoWordRead(int32_t id, int32_t slave, int32_t start, int32_t length) {
  Auto([&](QueryEngine& e) {
    return qb::MakeReadItem(id, e.WordReadFunctionCode(), slave, start, length);
  });
}
void qbManualWordRead(int32_t id, int32_t slave, int32_t start, int32_t length) {
  Manual([&](QueryEngine& e) {
    return qb::MakeReadItem(id, e.WordReadFunctionCode(), slave, start, length);
  });
}
void qbAutoWordReadEx(int32_t id, int32_t slave, int32_t start, const qb_wchar* deviceName,
                      int32_t length) {
  Auto([&](QueryEngine& e) {
    return qb::MakeReadItemEx(id, e.WordReadFunctionCode(), slave, start, WideView(deviceName), -1,
                              length);
  });
}
void qbManualWordReadEx(int32_t id, int32_t slave, int32_t start, const qb_wchar* deviceName) {
  Manual([&](QueryEngine& e) {
    return qb::MakeReadItemEx(id, e.WordReadFunctionCode(), slave, start, WideView(deviceName), -1,
                              1);
  });
}
void qbAutoBitWrite(int32_t id, int32_t slave, int32_t address, int32_t value) {
  Auto([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeBitWriteItem(id, slave, address, value, u"", -1);
  });
}
void qbManualBitWrite(int32_t id, int32_t slave, int32_t address, int32_t value) {
  Manual([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeBitWriteItem(id, slave, address, value, u"", -1);
  });
}
void qbManualBitWriteEx(int32_t id, int32_t slave, int32_t address, int32_t value,
                        const qb_wchar* deviceName, int32_t bitPosition) {
  Manual([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeBitWriteItem(id, slave, address, value, WideView(deviceName), bitPosition);
  });
}
void qbAutoWordWrite(int32_t id, int32_t slave, int32_t address, int32_t value) {
  Auto([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeWordWriteItem(id, slave, address, value, u"");
  });
}
void qbManualWordWrite(int32_t id, int32_t slave, int32_t address, int32_t value) {
  Manual([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeWordWriteItem(id, slave, address, value, u"");
  });
}
void qbManualWordWriteEx(int32_t id, int32_t slave, int32_t address, int32_t value,
                         const qb_wchar* deviceName) {
  Manual([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeWordWriteItem(id, slave, address, value, WideView(deviceName));
  });
}
void qbAutoMultiWordWrite(int32_t id, int32_t slave, int32_t start, int32_t length,
                          uint32_t byteCount, const uint8_t* data) {
  Auto([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeMultipleWriteItem(id, 16, slave, start, length, byteCount, data);
  });
}
void qbManualMultiWordWrite(int32_t id, int32_t slave, int32_t start, int32_t length,
                            uint32_t byteCount, const uint8_t* data) {
  Manual([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeMultipleWriteItem(id, 16, slave, start, length, byteCount, data);
  });
}
void qbAutoMultiBitWrite(int32_t id, int32_t slave, int32_t start, int32_t length,
                         uint32_t byteCount, const uint8_t* data) {
  Auto([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeMultipleWriteItem(id, 15, slave, start, length, byteCount, data);
  });
}
void qbManualMultiBitWrite(int32_t id, int32_t slave, int32_t start, int32_t length,
                           uint32_t byteCount, const uint8_t* data) {
  Manual([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeMultipleWriteItem(id, 15, slave, start, length, byteCount, data);
  });
}
void qbAutoMaskWrite4x(int32_t id, int32_t slave, int32_t address, int32_t andMask,
                       int32_t orMask) {
  Auto([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeMaskWriteItem(id, slave, address, andMask, orMask);
  });
}
void qbManualMaskWrite4x(int32_t id, int32_t slave, int32_t address, int32_t andMask,
                         int32_t orMask) {
  Manual([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeMaskWriteItem(id, slave, address, andMask, orMask);
  });
}
void qbAutoReadWrite4x(int32_t id, int32_t slave, int32_t readAddress, int32_t readLength,
                       int32_t writeAddress, int32_t writeLength, const uint8_t* data) {
  Auto([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeReadWriteItem(id, slave, readAddress, readLength, writeAddress, writeLength,
                                 data);
  });
}
void qbManualReadWrite4x(int32_t id, int32_t slave, int32_t readAddress, int32_t readLength,
                         int32_t writeAddress, int32_t writeLength, const uint8_t* data) {
  Manual([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeReadWriteItem(id, slave, readAddress, readLength, writeAddress, writeLength,
                                 data);
  });
}
void qbAutoUserProtocol(int32_t id, int32_t replyLength, const uint8_t* frame,
                        uint32_t frameLength) {
  Auto([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeHostFrameItem(id, replyLength, frame, frameLength);
  });
}
void qbManualUserProtocol(int32_t id, int32_t replyLength, const uint8_t* frame,
                          uint32_t frameLength) {
  Manual([&]([[maybe_unused]] QueryEngine& e) {
    return qb::MakeHostFrameItem(id, replyLength, frame, frameLength);
  });
}

int32_t qbPauseItem(int32_t id) {
  return DefaultRuntime::Get().Run([&](QueryEngine& e) { return e.PauseItem(id); });
}
int32_t qbResumeItem(int32_t id) {
  return DefaultRuntime::Get().Run([&](QueryEngine& e) { return e.ResumeItem(id); });
}
void qbUnregisterAutoItem(int32_t id) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.UnregisterAutoItem(id); });
}
void qbUnregisterAllAutoItems(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.UnregisterAllAutoItems(); });
}
void qbSetTxOnlyItem(int32_t id) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetTxOnlyItemQuietly(id); });
}
void qbSetTxOnlyItemEx(int32_t id, int32_t pauseMs) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetTxOnlyItem(id, pauseMs); });
}
void qbSetCustomTimeOut(int32_t id, int32_t ms) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetCustomTimeOut(id, ms); });
}
void qbRemoveAllCustomTimeOut(void) {
  DefaultRuntime::Get().Run([](QueryEngine& e) { e.RemoveAllCustomTimeOut(); });
}

}  // extern "C"
