// quillbox userproto as a user runs it: definitions written in TOML encode, decode back exactly and
// show the Style texts the library makes of them; each kind of mistake is reported at its line.
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace qb::sim {
namespace {

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
  const simtest::TempFile file(kEveryKind);
  const auto encoded = Userproto({"encode", file.path});
  ASSERT_EQ(encoded.exitCode, 0) << encoded.err;
  const auto decoded = Userproto({"decode", encoded.out.substr(0, encoded.out.size() - 1)});
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
  const simtest::TempFile again(decoded.out);
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
    const simtest::TempFile file(text);
    const auto result = Userproto({"encode", file.path});
    EXPECT_EQ(result.exitCode, 4) << text;
    EXPECT_NE(result.err.find(where), std::string::npos) << result.err;
    EXPECT_TRUE(result.err.find("expected") != std::string::npos ||
                result.err.find("here") != std::string::npos)
        << result.err;
  }
  EXPECT_EQ(Userproto({"decode", "0"}).exitCode, 4);
}

}  // namespace
}  // namespace qb::sim
