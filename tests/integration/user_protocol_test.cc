// The user protocol end to end through the C API and the library's own port, against the
// simulator's scripted device on a pseudo-terminal: a definition made by the test's own writer,
// an auto and two manual packets with event 101, requests that the device answers only when their
// bytes (checksum included) are exact, and replies as event 100 with their values texts, in both
// byte orders, each reply split in two and with noise before it.
#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

#include "quillbox/quillbox.h"
#include "sim/scripted_device.h"
#include "sim/serial_line.h"
#include "sim/simulator.h"
#include "support/definition_writer.h"
#include "support/process.h"

namespace qb::test {
namespace {

std::string Var(const char* name, const char* type, const char* count) {
  return Texts({{"^ValType", "Var"}, {"^VarName", name}, {"^VarType", type}}) +
         Texts({{"^ElemCnt", count}, {"^NoLimitMaxVal", "1"}});
}
std::string Const(const char* type, const char* value) {
  return Texts({{"^ValType", "Const"}, {"^ConstType", type}, {"^ConstVal", value}});
}
std::string Settings(const char* name, const char* direction, const char* order) {
  return Texts({{"^PaktName", name}, {"^CommDirection", direction}, {"^ByteOrder", order}});
}

// READ: STX 'R' ADDR[2d] SUM[2h] ETX; WEIGHT: STX 'W' ADDR SIGN[1s] WEIGHT[6d] UNIT[2s] SUM ETX;
// QH/QL: ENQ 'H' or 'L'; RAWH/RAWL: ACK 'H' or 'L' W[2n], high and low byte first.
std::u16string ScaleDefinition() {
  const std::string sum = Texts({{"^EnableCksum", "1"}, {"^CksumVarName", "SUM"}}) +
                          Texts({{"^CksumMethod", "PLUS"}, {"^CksumStartOrder", "2"}});
  return Hex(Definition(
      "Scale", {Packet({Const("Hex", "02"), Const("Char", "R"), Var("ADDR", "AscDec", "2"),
                        Var("SUM", "AscHex", "2"), Const("Hex", "03")},
                       Settings("READ", "Tx", "HiFirst") + sum + TextRec("^CksumEndOrder", "3")),
                Packet({Const("Hex", "02"), Const("Char", "W"), Var("ADDR", "AscDec", "2"),
                        Var("SIGN", "Str", "1"), Var("WEIGHT", "AscDec", "6"),
                        Var("UNIT", "Str", "2"), Var("SUM", "AscHex", "2"), Const("Hex", "03")},
                       Settings("WEIGHT", "Rx", "HiFirst") + sum + TextRec("^CksumEndOrder", "6")),
                Packet({Const("Hex", "05"), Const("Char", "H")}, Settings("QH", "Tx", "HiFirst")),
                Packet({Const("Hex", "05"), Const("Char", "L")}, Settings("QL", "Tx", "LoFirst")),
                Packet({Const("Hex", "06"), Const("Char", "H"), Var("W", "BinWord", "")},
                       Settings("RAWH", "Rx", "HiFirst")),
                Packet({Const("Hex", "06"), Const("Char", "L"), Var("W", "BinWord", "")},
                       Settings("RAWL", "Rx", "LoFirst"))}));
}

// Exact requests only: READ with ADDR 1 carries the sum 'R' + '0' + '1' = 0xB3 as "B3".
const char* const kScript = R"([[rule]]
request = "\u0002R01B3\u0003"
reply = "\u0002W01+001250kg??\u0003"
checksum = { method = "plus", from = 1, to = 13, at = 13, form = "hex2" }
[[rule]]
request = "\u0005H"
reply = "\u0006H\u0012\u0034"
[[rule]]
request = "\u0005L"
reply = "\u0006L\u0034\u0012"
)";

struct Event {
  int32_t type;
  uintptr_t wParam;
  int32_t item;
  std::string text;  // values text (100) or packet/situation (101)
};
std::mutex mutex;
std::condition_variable arrived;
std::vector<Event> events;

std::string Copied(int32_t (*copy)(uint8_t*)) {
  uint8_t buffer[1024] = {};
  copy(buffer);
  std::string s;
  for (size_t i = 0; buffer[i] != 0 || buffer[i + 1] != 0; i += 2)
    s += static_cast<char>(buffer[i]);
  return s;
}

intptr_t Proc(void*, uint32_t, uintptr_t wParam, intptr_t lParam) {
  if (lParam >= 2) return 0;  // block-form events: time-outs
  Event e{qbGetLastRxEventType(), wParam, qbGetLastRxItemId(), {}};
  if (e.type == 101) {
    e.text = Copied(qbGetLastPaktToSend) + "/" + Copied(qbGetLastTxSituation);
    qbSetTempStr(u"ADDR=n1");
  } else {
    e.text = Copied(qbGetLastEvntAsgstr);
  }
  std::lock_guard lock(mutex);
  events.push_back(e);
  arrived.notify_all();
  return 0;
}

TEST(UserProtocol, PacketsOverTheScriptedDevice) {
  std::string error;
  auto device = sim::LoadScriptedDevice(test::TempFile(kScript).path, &error);
  ASSERT_TRUE(device) << error;
  sim::PseudoTerminal line;
  ASSERT_TRUE(line.Open(&error)) << error;
  sim::SimulatorOptions options;
  options.faults.noiseEvery = 1;
  // A frame start that goes wrong at its second byte. (Noise that could still become a frame, such
  // as 02 57, would hold the receiver until enough bytes had come to rule the frame out.)
  options.faults.noise = {0x00, 0x06, 0xFF};
  options.faults.splitEvery = 1;
  options.faults.splitAt = 5;
  sim::Simulator simulator(line.MasterFd(), std::move(device), options);
  ASSERT_TRUE(simulator.Start(&error)) << error;

  qbSetHostWindowProc(Proc);
  qbInit(nullptr, 0x9100);
  qbSetPortDevice(1, std::u16string(line.SlavePath().begin(), line.SlavePath().end()).c_str());
  ASSERT_EQ(qbOpenSerial(1, 38400), 1);
  qbSetTimeOut(1000);
  ASSERT_EQ(qbSetUsrPrtclFromBinHexExp(ScaleDefinition().c_str()), 1);
  qbSetProtocol(u"USRPRTCL");
  ASSERT_EQ(qbAutoUsrPrtclPakt(u"READ", 7), 1);
  ASSERT_EQ(qbManualUsrPrtclPakt(u"QH", u"first", 8), 1);
  ASSERT_EQ(qbManualUsrPrtclPakt(u"QL", u"second", 9), 1);
  qbStartNotDestroyingBuffer();  // the manual packets first, then the auto one cycle by cycle
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(20), [] {
      int n = 0;
      for (const auto& e : events) n += e.type == 100;
      return n >= 4;
    }));
  }
  qbStop();
  qbCloseSerial();
  simulator.Stop();
  std::lock_guard lock(mutex);
  ASSERT_GE(events.size(), 7u);
  const std::vector<std::string> prepared = {"READ/Caseone", "QH/first", "QL/second"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].type, 101);
    EXPECT_EQ(events[i].wParam, 7 + i);
    EXPECT_EQ(events[i].text, prepared[i]);
  }
  const Event expected[] = {{100, 1, 8, "W=n4660"},
                            {100, 0, 9, "W=n4660"},
                            {100, 1, 7, "ADDR=n1&SIGN=s2B&SUM=n221&UNIT=s6B67&WEIGHT=n1250"},
                            {100, 1, 7, "ADDR=n1&SIGN=s2B&SUM=n221&UNIT=s6B67&WEIGHT=n1250"}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(events[3 + i].type, expected[i].type);
    EXPECT_EQ(events[3 + i].wParam, expected[i].wParam) << i;
    EXPECT_EQ(events[3 + i].item, expected[i].item) << i;
    EXPECT_EQ(events[3 + i].text, expected[i].text) << i;
  }
}

}  // namespace
}  // namespace qb::test
