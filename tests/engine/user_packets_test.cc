// User packet items in virtual time: event 101 while they are built, the values read after it
// once, and the frames the scheduler sends under "USRPRTCL".
#include "engine/engine_fixture.h"
#include "support/definition_writer.h"

namespace qb::test {
namespace {

std::string Unit(std::initializer_list<std::pair<std::string, std::string>> keys) {
  return Texts(keys);
}

// STX 'R' ADDR[2d] SUM[2h] ETX, plus over 'R' and ADDR; and a packet that does not compile.
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
  const std::string broken = Packet({Unit({{"^ValType", "Var"}, {"^VarName", "N"},
                                          {"^VarType", "Str"}, {"^ElemCnt", "~5"},
                                          {"^NoLimitMaxVal", "1"}})},
                                    Texts({{"^PaktName", "BAD"}}));
  return Hex(Definition("Scale", {read, broken}));
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

TEST_F(UserPacketTest, ValuesReadOnceWhenBuilt) {
  platform.onHostMessage = [&](const HostMessage& m) {
    if (m.block.empty()) engine.SetTempStr(u"ADDR=n5");
  };
  EXPECT_EQ(engine.AddUserPacket(u"NONE", u"Caseone", 9, true), 0);
  EXPECT_EQ(engine.AddUserPacket(u"BAD", u"Caseone", 9, true), 0);  // does not compile
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(engine.AddUserPacket(u"READ", u"Caseone", 7, true), 1);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].wParam, 7u);
  EXPECT_EQ(engine.LastRx().eventType, 101);
  engine.SetTempStr(u"ADDR=n9");
  engine.Start();
  RunFor(300);
  // 'R' + '0' + '5' = 0x52 + 0x30 + 0x35 = 0xB7; every poll sends the values read at event 101
  const std::vector<uint8_t> read = {0x02, 'R', '0', '5', 'B', '7', 0x03};
  ASSERT_GE(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[0], read);
  EXPECT_EQ(port.writes[1], read);
  EXPECT_FALSE(platform.NotesStartingWith(u"Set LastAskTime 3242").empty());
}

}  // namespace
}  // namespace qb::test
