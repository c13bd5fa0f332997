// quillbox userproto as a user runs it: definitions written in TOML encode, decode back exactly and
// show the Style texts the library makes of them; each kind of mistake is reported at its line.
// And the scripted device's sums, computed by hand.
#include <gtest/gtest.h>

#include "sim/scripted_device.h"
#include "sim_test_util.h"

namespace qb::sim {
namespace {

struct TextFile {
  explicit TextFile(const std::string& text) {
    const int fd = ::mkstemp(path);
    EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
  }
  ~TextFile() { ::unlink(path); }
  char path[32] = "/tmp/qb-userproto-XXXXXX";
};

simtest::ProcessResult Userproto(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {QB_QUILLBOX_PATH, "userproto"};
  argv.insert(argv.end(), args.begin(), args.end());
  return simtest::Run(argv);
}

const char* const kEveryKind = R"(protocol = "Every"
[[packet]]
name = "P"
direction = "Rx"
byte_order = "LoFirst"
checksum = { method = "crc16-ibm", first = 1, last = 4, variable = "CS" }
units = [ { char = "r" }, { dec = "13" }, { hex = "0A" },
  { var = "LEN", type = "AscHex", count = 2, max = "40" },
  { var = "TXT", type = "Str", count_var = "LEN", multiplier = 2, max_count = 16 },
  { var = "W", type = "WordArray", count = 4 }, { var = "B", type = "ByteArray", count = 1 },
  { var = "D", type = "AscDec", count = "3" }, { var = "N1", type = "BinByte", max = "99" },
  { var = "N2", type = "BinWord" }, { var = "N3", type = "Bin3Byte" },
  { var = "CS", type = "BinDWord" } ]
)";

TEST(UserprotoCli, RoundTripAndStyleTexts) {
  const TextFile file(kEveryKind);
  const auto encoded = Userproto({"encode", file.path});
  ASSERT_EQ(encoded.exitCode, 0) << encoded.err;
  const auto decoded = Userproto({"decode", encoded.out.substr(0, encoded.out.size() - 1)});
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
  const TextFile again(decoded.out);
  EXPECT_EQ(Userproto({"encode", again.path}).out, encoded.out);
  EXPECT_EQ(Userproto({"show", file.path}).out,
            "P (Rx, low byte first, crc16-ibm of units 1..4 into CS): 'r',13,0x0A,LEN~40[2h],"
            "TXT[LEN*2~16s],W[4b],B[1b],D[3d],N1~99[1n],N2[2n],N3[3n],CS[4n]\n");
  // The head of the text, written by hand: PrtclName "Every".
  EXPECT_EQ(encoded.out.substr(0, 40), "0809507274636C4E616D65054576657279080E50");
}

TEST(UserprotoCli, MistakesAtTheirLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"protocol = \"X\"\n[[packet]]\nname = \"P\"\ndirection = \"Out\"\nunits = []\n", " 4 |"},
      {"protocol = \"X\"\n[[packet]]\nname = \"P\"\nunits = [ { char = \"ab\" } ]\n", " 4 |"},
      {"protocol = \"X\"\n[[packet]]\nname = \"P\"\nunits = [\n{ var = \"V\", type = \"Int\" }]\n",
       " 5 |"},
      {"protocol = \"X\"\n[[packet]]\nname = \"P\"\nunits = [\n{ var = \"V\", type = \"Str\" }]\n",
       " 5 |"},
      {"protocol = \"X\"\ncolour = 1\n", " 2 |"},
      {"protocol = \"X\"\n[[packet]]\nname = \"P\"\nchecksum = { method = \"plus\" }\nunits = []\n",
       " 4 |"},
      {"protocol = = \n", " 1 |"},
  };
  for (const auto& [text, where] : cases) {
    const TextFile file(text);
    const auto result = Userproto({"encode", file.path});
    EXPECT_EQ(result.exitCode, 4) << text;
    EXPECT_NE(result.err.find(where), std::string::npos) << result.err;
    EXPECT_TRUE(result.err.find("expected") != std::string::npos ||
                result.err.find("here") != std::string::npos)
        << result.err;
  }
  EXPECT_EQ(Userproto({"decode", "0"}).exitCode, 4);
}

TEST(ScriptedDevice, SumsFilledIn) {
  ScriptRule rule;
  const std::string reply = "\x02W01+001250kg??\x03";
  rule.reply.assign(reply.begin(), reply.end());
  rule.sums = {{"plus", "hex2", 1, 13, 13}};
  // "W01+001250kg": 0x57+0x30+0x31+0x2B+0x30+0x30+0x31+0x32+0x35+0x30+0x6B+0x67 = 0x3DD
  std::vector<uint8_t> expected(reply.begin(), reply.end());
  expected[13] = 'D';
  expected[14] = 'D';
  EXPECT_EQ(FillSums(rule), expected);
  rule.sums = {{"xor", "byte", 1, 3, 0}, {"crc16", "le16", 0, 1, 13}};
  // 'W' ^ '0' = 0x67 goes to byte 0 first; then the Modbus CRC of that one byte, low byte first.
  uint16_t crc = 0xFFFF ^ 0x67;
  for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  expected[0] = 0x67;
  expected[13] = static_cast<uint8_t>(crc);
  expected[14] = static_cast<uint8_t>(crc >> 8);
  EXPECT_EQ(FillSums(rule), expected);
}

}  // namespace
}  // namespace qb::sim
