// The engine's own serial port: the port class whose received chunks go to the engine's
// SerialAccept on the owner thread, seen by the scheduler through SerialLink.
#pragma once

#include <string>

#include "engine/owner_work.h"
#include "engine/query_engine.h"
#include "engine/serial_link.h"
#include "serial/ce_serial.h"

namespace qb {

class EnginePort final : public CESerial, public SerialLink {
 public:
  EnginePort(Platform& platform, OwnerLoop& loop, QueryEngine& engine)
      : CESerial(platform, loop), notes_(platform), engine_(engine) {}
  ~EnginePort() override { Close(); }

  bool IsOpen() const override { return CESerial::IsOpen(); }
  void Write(const uint8_t* bytes, size_t count) override { CESerial::Write(bytes, count); }
  int32_t PortNumber() const override { return CESerial::PortNumber(); }

 protected:
  void OnReceive(const uint8_t* bytes, int32_t count) override {
    RunOwnerWork(notes_, u"received bytes", [&] { engine_.SerialAccept(bytes, count); });
  }
  void OnDeviceLost(const std::string& what) override { engine_.OnPortLost(what); }
  int32_t BytesStillAwaited() const override { return engine_.BytesStillAwaited(); }
  double SilenceBeforeReply() const override { return engine_.SilenceBeforeReply(); }

 private:
  Platform& notes_;
  QueryEngine& engine_;
};

}  // namespace qb
