// Loading user protocol definitions written by the tests' own stream writer, and the Style texts
// and frame settings of their packets.
#include <gtest/gtest.h>

#include "support/definition_writer.h"
#include "support/fake_platform.h"
#include "userprotocol/packet_style.h"

namespace qb::test {
namespace {

const std::string kUnit =
    Texts({{"^ValType", "Const"}, {"^ConstType", "Hex"}, {"^ConstVal", "05"}});
const std::string kNamed = Texts({{"^PaktName", "P"}, {"^CommDirection", "Rx"}});

struct LoadCase {
  const char* what;
  std::u16string text;
  int32_t result;
  const char* name;
  size_t packets, units;
  const char* direction;  // of the first packet
};

TEST(UserProtocolLoad, Rules) {
  const std::string root = TextRec("PrtclName", "Scale") + IntRec("Cnt", 1);
  const std::string cut = Texts({{"PkunitCnt", "3"}}) + BinRec("Pkunit0", kUnit) +
                          BinRec("Pkunit1", kUnit) + BinRec("PaktGlobal", kNamed);
  const LoadCase cases[] = {
      {"no packets", Hex(Definition("Scale", {})), 1, "Scale", 0, 0, ""},
      {"full", Hex(Definition("Scale", {Packet({kUnit, kUnit}, kNamed)})), 1, "Scale", 1, 2, "Rx"},
      {"lower-case hex",
       [] {
         auto h = Hex(Definition("Scale", {Packet({kUnit}, "")}));
         for (auto& c : h) c = (c >= u'A' && c <= u'F') ? c + 32 : c;
         return h;
       }(),
       1, "Scale", 1, 1, "Tx"},
      {"unit missing: PaktGlobal not applied", Hex(root + BinRec("Pakt0", cut)), 1, "Scale", 1, 2,
       "Tx"},
      {"unit unreadable", Hex(root + BinRec("Pakt0", Packet({"\x40"}, kNamed))), 1, "Scale", 1, 0,
       "Tx"},
      {"packet unreadable", Hex(root + BinRec("Pakt0", "\x40\x01P")), 1, "Scale", 1, 0, "Tx"},
      {"packet missing", Hex(TextRec("PrtclName", "S") + IntRec("Cnt", 2) + BinRec("Pakt0", "")), 0,
       "", 1, 0, "Tx"},
      {"root unreadable", Hex(root + "\x40"), 0, "", 0, 0, ""},
      {"odd length", u"0", 0, "Old", 1, 0, "Tx"},
  };
  std::vector<std::u16string> boxes;  // "Error JR38" once in the life of the library
  for (const auto& c : cases) {
    FakePlatform platform;
    UserProtocol protocol;
    ASSERT_EQ(protocol.Load(Hex(Definition("Old", {""})), platform), 1);
    EXPECT_EQ(protocol.Load(c.text, platform), c.result) << c.what;
    EXPECT_EQ(protocol.Name(), U16(c.name)) << c.what;
    ASSERT_EQ(protocol.Packets().size(), c.packets) << c.what;
    EXPECT_EQ(protocol.Load(c.text, platform), c.result) << c.what;
    boxes.insert(boxes.end(), platform.boxes.begin(), platform.boxes.end());
    if (c.packets == 0) continue;
    EXPECT_EQ(protocol.Packets()[0]->units.size(), c.units) << c.what;
    EXPECT_EQ(protocol.Packets()[0]->GetStr(u"^CommDirection"), U16(c.direction)) << c.what;
  }
  EXPECT_EQ(boxes, std::vector<std::u16string>({u"Error JR38"}));
}

TEST(UserProtocolLoad, FirstOfTwoNamesFoundAndHexPairs) {
  FakePlatform platform;
  UserProtocol protocol;
  const std::string b = Texts({{"^PaktName", "P"}, {"^ByteOrder", "LoFirst"}});
  ASSERT_EQ(protocol.Load(Hex(Definition("X", {Packet({}, kNamed), Packet({}, b)})), platform), 1);
  EXPECT_EQ(protocol.FindPacket(u"P"), protocol.Packets()[0].get());
  EXPECT_EQ(protocol.FindPacket(u"p"), nullptr);
  ByteBuffer bytes;
  ASSERT_TRUE(HexTextToBytes(u"0aG11Z", bytes));
  EXPECT_EQ(std::vector<uint8_t>(bytes.Bytes().begin(), bytes.Bytes().end()),
            std::vector<uint8_t>({0x0A, 0x00, 0x01}));
}

// A variable unit; an empty bound flag leaves "^NoLimitMaxVal" out.
std::string V(const char* name, const char* type, const char* count, const char* noLimit = "1") {
  std::string unit = Texts({{"^ValType", "Var"}, {"^VarName", name}, {"^VarType", type}});
  if (*count != 0) unit += TextRec("^ElemCnt", count);
  return *noLimit != 0 ? unit + TextRec("^NoLimitMaxVal", noLimit) : unit;
}

TEST(PacketStyle, EveryUnitRow) {
  const std::pair<std::string, const char*> rows[] = {
      {Texts({{"^ValType", "Const"}, {"^ConstType", "Char"}, {"^ConstVal", "r"}}), "'r'"},
      {Texts({{"^ValType", "Const"}, {"^ConstType", "Dec"}, {"^ConstVal", "13"}}), "13"},
      {kUnit, "0x05"},
      {Texts({{"^ValType", "Const"}, {"^ConstType", "Oct"}, {"^ConstVal", "1"}}), ""},
      {Texts({{"^ValType", "Other"}}), ""},
      {V("ADDR", "AscHex", "4"), "ADDR[4h]"},
      {V("ADDR", "Str", "LEN") +
           Texts({{"^ElemCntByVar", "1"}, {"^ElemCntMultiplier", "2"}, {"^MaxElemCnt", "100"}}),
       "ADDR[LEN*2~100s]"},
      {V("V", "AscDec", "3", "0") + TextRec("^MaxVal", "500"), "V~500[3d]"},
      {V("W", "WordArray", "4"), "W[4b]"},
      {V("B", "ByteArray", "2"), "B[2b]"},
      {V("N", "BinByte", "", "") + TextRec("^MaxVal", "99"), "N~99[1n]"},  // absent: bounded
      {V("N", "BinWord", ""), "N[2n]"},
      {V("N", "Bin3Byte", ""), "N[3n]"},
      {V("N", "BinDWord", ""), "N[4n]"},
      {V("N", "Odd", ""), "N"},
  };
  FakePlatform platform;
  for (const auto& [unit, style] : rows) {
    UserProtocol protocol;
    ASSERT_EQ(protocol.Load(Hex(Definition("X", {Packet({unit, kUnit}, "")})), platform), 1);
    EXPECT_EQ(PacketStyle(*protocol.Packets()[0]), U16(style) + u",0x05") << style;
  }
}

TEST(PacketStyle, FrameSettingsAndWordArrays) {
  const auto var = [](const char* name, const char* type) { return V(name, type, "2"); };
  const std::string settings =
      Texts({{"^ByteOrder", "hifirst"}, {"^EnableCksum", "1"}, {"^CksumStartOrder", "2"}}) +
      Texts({{"^CksumEndOrder", "5"}, {"^CksumVarName", "CS"}, {"^CksumMethod", "CRC16-IBM"}});
  FakePlatform platform;
  UserProtocol protocol;
  ASSERT_EQ(
      protocol.Load(Hex(Definition("X", {Packet({var("Data1", "WordArray"),
                                                 var("DATA2", "WordArray"), var("Len", "AscDec")},
                                                settings),
                                         Packet({}, "")})),
                    platform),
      1);
  const PacketFrame f = FrameOf(*protocol.Packets()[0]);
  EXPECT_FALSE(f.highFirst);
  EXPECT_TRUE(f.checksum);
  EXPECT_EQ(f.checksumVariable, u"CS");
  EXPECT_EQ(f.checksumFirst, 1);
  EXPECT_EQ(f.checksumCount, 4);
  EXPECT_EQ(f.checksumMethod, u"crc16-ibm");
  EXPECT_EQ(WordArrLoVars(*protocol.Packets()[0]), u"data1|data2");
  const PacketFrame plain = FrameOf(*protocol.Packets()[1]);
  EXPECT_TRUE(plain.highFirst);
  EXPECT_FALSE(plain.checksum);
  EXPECT_FALSE(IsRxPacket(*protocol.Packets()[1]));
}

}  // namespace
}  // namespace qb::test
