// User packet items: event 101 while they are built, the values read after it, and the frames the
// scheduler sends under "USRPRTCL".
#include "engine/engine_fixture.h"
#include "support/definition_writer.h"

namespace qb::test {
namespace {

std::string Unit(std::initializer_list<std::pair<std::string, std::string>> keys) {
  return Texts(keys);
}

// STX 'R' ADDR[2d] SUM[2h] ETX, plus over 'R' and ADDR; then a low-byte-first binary word packet.
std::u16string ScaleDefinition() {
  const std::string read = Packet(
      {Unit({{"^ValType", "Const"}, {"^ConstType", "Hex"}, {"^ConstVal", "02"}}),
       Unit({{"^ValType", "Const"}, {"^ConstType", "Char"}, {"^ConstVal", "R"}}),
       Unit({{"^ValType", "Var"}, {"^VarName", "ADDR"}, {"^VarType", "AscDec"}, {"^ElemCnt", "2"},
             {"^NoLimitMaxVal", "1"}}),
       Unit({{"^ValType", "Var"}, {"^VarName", "SUM"}, {"^VarType", "AscHex"}, {"^ElemCnt", "2"},
             {"^NoLimitMaxVal", "1"}}),
       Unit({{"^ValType", "Const"}, {"^ConstType", "Hex"}, {"^ConstVal", "03"}})},
      Texts({{"^PaktName", "READ"}, {"^ByteOrder", "HiFirst"}, {"^EnableCksum", "1"},
             {"^CksumStartOrder", "2"}, {"^CksumEndOrder", "3"}, {"^CksumVarName", "SUM"},
             {"^CksumMethod", "PLUS"}}));
  const std::string word = Packet(
      {Unit({{"^ValType", "Var"}, {"^VarName", "W"}, {"^VarType", "BinWord"},
             {"^NoLimitMaxVal", "1"}})},
      Texts({{"^PaktName", "WORD"}, {"^ByteOrder", "LoFirst"}}));
  const std::string broken = Packet({Unit({{"^ValType", "Var"}, {"^VarName", "N"},
                                          {"^VarType", "Str"}, {"^ElemCnt", "~5"},
                                          {"^NoLimitMaxVal", "1"}})},
                                    Texts({{"^PaktName", "BAD"}}));
  return Hex(Definition("Scale", {read, word, broken}));
}

class UserPacketTest : public EngineTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(engine.LoadUserProtocol(ScaleDefinition()), 1);
    engine.SetPort(&port);
    engine.SetProtocolName(u"USRPRTCL");
    InitHost();
  }
};

TEST_F(UserPacketTest, Event101AsksForValuesThenFramesGoOut) {
  std::vector<std::u16string> seen;
  platform.onHostMessage = [&](const HostMessage& m) {
    if (!m.block.empty()) return;  // time-outs
    seen.push_back(engine.LastPacketName() + u"/" + engine.LastTxSituation());
    EXPECT_EQ(engine.LastRx().eventType, 101);
    engine.SetTempStr(m.wParam == 7 ? u"ADDR=n5" : u"W=n4660");
  };
  EXPECT_EQ(engine.AddUserPacket(u"NONE", u"Caseone", 9, true), 0);
  EXPECT_EQ(engine.AddUserPacket(u"BAD", u"Caseone", 9, true), 0);
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(engine.AddUserPacket(u"READ", u"Caseone", 7, true), 1);
  engine.Start();  // a refill drops waiting manual items, so the manual one comes after it
  EXPECT_EQ(engine.AddUserPacket(u"WORD", u"Once", 8, false), 1);
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"READ/Caseone", u"WORD/Once"}));
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_EQ(platform.messages[0].wParam, 7u);
  EXPECT_EQ(platform.messages[0].lParam, 0);

  engine.Step();  // the manual word first, low byte first
  engine.SetTempStr(u"ADDR=n9");  // read at build time only: later polls keep ADDR 5
  platform.Advance(20);
  RunFor(300);
  ASSERT_GE(port.writes.size(), 3u);
  EXPECT_EQ(port.writes[0], (std::vector<uint8_t>{0x34, 0x12}));
  // 'R' + '0' + '5' = 0x52 + 0x30 + 0x35 = 0xB7
  const std::vector<uint8_t> read = {0x02, 'R', '0', '5', 'B', '7', 0x03};
  EXPECT_EQ(port.writes[1], read);
  EXPECT_EQ(port.writes[2], read);
  EXPECT_EQ(engine.LastTxSituation(), u"Caseone");
  EXPECT_FALSE(platform.NotesStartingWith(u"Set LastAskTime 3242").empty());
}

}  // namespace
}  // namespace qb::test
