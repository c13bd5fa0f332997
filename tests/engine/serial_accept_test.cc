// Chunks received by the library's own port: traced whether running or not, dropped while
// stopped, gathered under "MODBUS", and noted when the reply accumulation rejects them.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/text_format.h"
#include "engine_fixture.h"

namespace qb::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(EngineTest, SerialAcceptTracesDropsWhileStoppedAndNotesRejections) {
  const std::string path = ::testing::TempDir() + "quillbox_serial_accept_trace.txt";
  std::remove(path.c_str());
  engine.SetTraceFilePath(Widen(path));
  engine.EnableTraceToFile();
  InitHost();
  engine.SetPort(&port);
  engine.SetRtuMode();
  ManualRead(5, 1, 0, 1);
  engine.Step();  // the request is out; the engine is not running
  const auto reply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x09});

  engine.SerialAccept(reply.data(), 3);  // stopped: traced, then dropped
  EXPECT_EQ(engine.Modbus().Received(), 0);
  EXPECT_EQ(ReadFile(path), "[1000]SerialAccept : 01,03,02\r\n");

  engine.StartNotDestroyingBuffer();
  engine.SerialAccept(reply.data(), static_cast<int32_t>(reply.size()));
  EXPECT_EQ(engine.LastRx().words, (std::vector<uint16_t>{9}));
  EXPECT_EQ(engine.LastAskTime(), 0u);
  const uint8_t stray = 0x55;
  engine.SerialAccept(&stray, 1);  // nothing is awaited any more
  EXPECT_EQ(platform.NotesStartingWith(u"UNEXPECTED DATA ARRIVED").size(), 1u);

  engine.SetProtocolName(u"MKLD");  // no receiver for the frame protocols yet: noted, dropped
  engine.SerialAccept(&stray, 1);
  EXPECT_EQ(platform.NotesStartingWith(u"UNEXPECTED DATA ARRIVED").size(), 1u);
  std::remove(path.c_str());
}

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
