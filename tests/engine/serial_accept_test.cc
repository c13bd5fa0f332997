// Bytes a host hands in while the library's own port is open are ignored with a note; with the port
// closed they are taken.
#include "engine_fixture.h"

namespace qb::test {
namespace {

TEST_F(EngineTest, HostFedBytesAreIgnoredWhileTheOwnPortIsOpen) {
  InitHost();
  engine.SetPort(&port);
  engine.SetRtuMode();
  ManualRead(5, 1, 0, 1);
  engine.Step();
  const auto reply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x09});
  EXPECT_EQ(engine.OnSerialReceive(reply.data(), static_cast<int32_t>(reply.size())), 0);
  EXPECT_EQ(engine.Modbus().Received(), 0);
  EXPECT_EQ(platform.notes.back(),
            u"DLL 자체 시리얼포트 가동 중이므로 qbOnSerialReceive로 들어오는 것 무시");
  port.open = false;  // with the port closed the host's bytes are taken, running or not
  EXPECT_EQ(engine.OnSerialReceive(reply.data(), static_cast<int32_t>(reply.size())), 1);
  EXPECT_EQ(engine.LastRx().words, (std::vector<uint16_t>{9}));
}

}  // namespace
}  // namespace qb::test
