// The simulated LSMK, MKLD and MBFX controllers frame by frame: requests and replies written out
// in the test, their BCCs and sums added up here, and what a write leaves in the memory.
#include <gtest/gtest.h>

#include "sim/plc_framer.h"
#include "sim/plc_slave.h"
#include "support/modbus_frames.h"

namespace qb::sim {
namespace {

// A frame in link symbols (support/modbus_frames.h); '#' is replaced by the two-digit sum of the
// bytes from position `from` of the frame up to the '#'.
std::vector<uint8_t> Frame(const std::string& text, size_t from = 0) {
  const size_t hash = text.find('#');
  if (hash == std::string::npos) return test::Link(text);
  return test::Summed(text.substr(0, hash), from, text.substr(hash + 1));
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

struct Case {
  const char* name;
  PlcProtocol protocol;
  std::vector<const char*> values;
  std::string request;  // '#': the sum, from ENQ for LSMK, else from the byte after the first
  std::string reply;    // empty: none
  PlcOutcome outcome;
  const char* device = "";  // a word the request leaves as `after`
  uint32_t address = 0;
  uint16_t after = 0;
};

TEST(PlcSlavesTest, AnswersFramesAsTheControllerDoes) {
  using P = PlcProtocol;
  using O = PlcOutcome;
  // clang-format off
  const Case cases[] = {
      {"lsmk read word and bit", P::kLsmk, {"D100=0x1234", "M10.5=1"},
       "^01rSS0207%DW010007%MX0105$#", "@01rSS020212340101}#", O::kReply},
      {"lsmk 16 blocks are taken", P::kLsmk, {"D1=7"}, "^01rSS10" + Repeat("07%DW0001", 16) + "$#",
       "@01rSS10" + Repeat("020007", 16) + "}#", O::kReply},
      {"lsmk 17 blocks are refused", P::kLsmk, {}, "^01rSS11" + Repeat("07%DW0001", 17) + "$#",
       "!01rSS0003}#", O::kRefused},
      {"lsmk unknown device", P::kLsmk, {}, "^01rSS0107%QW0001$#", "!01rSS1132}#", O::kRefused},
      {"lsmk word write", P::kLsmk, {}, "^01wSS0107%MW0100BEEF$#", "@01wSS}#", O::kReply, "M", 100, 0xBEEF},
      {"lsmk bit write", P::kLsmk, {"M10=0x0001"}, "^01wSS0107%MX010F01$#", "@01wSS}#", O::kReply, "M", 10, 0x8001},
      {"lsmk other station", P::kLsmk, {}, "^02rSS0107%DW0001$#", "", O::kNotAddressed},
      {"lsmk bad bcc", P::kLsmk, {}, "^01rSS0107%DW0001$00", "", O::kChecksumError},
      // M16: byte 0x5D00 + 32, sent low byte first with the middle byte kept: 205D00.
      {"mkld read", P::kMkld, {"M16=0xABCD"}, "{rM205D0002#}", "@rABCD#$", O::kReply},
      {"mkld write", P::kMkld, {}, "{wM205D00023412#}", "@w#$", O::kReply, "M", 16, 0x1234},
      {"mkld and", P::kMkld, {"D0=0xFFFF"}, "{nM000000FEFF#}", "@n#$", O::kReply, "D", 0, 0xFFFE},
      {"mkld or", P::kMkld, {}, "{oM0000000080#}", "@o#$", O::kReply, "D", 0, 0x8000},
      {"mkld past the memory", P::kMkld, {}, "{rM00FF0002#}", "!1#$", O::kRefused},
      {"mbfx word read", P::kMbfx, {"D100=1,0xA2,3"}, "^01FFWR0D010003#", "{01FF000100A20003}#", O::kReply},
      {"mbfx bit read", P::kMbfx, {"M10=1,0,1,1"}, "^01FFBR0M001004#", "{01FF1011}#", O::kReply},
      {"mbfx word write", P::kMbfx, {}, "^01FFWW0D010001BEEF#", "@01FF", O::kReply, "D", 100, 0xBEEF},
      {"mbfx bit write", P::kMbfx, {}, "^01FFBW0M0010011#", "@01FF", O::kReply, "M", 10, 0x0001},
      {"mbfx bits of a word device", P::kMbfx, {}, "^01FFBR0D010001#", "!01FF06", O::kRefused},
      {"mbfx too many words", P::kMbfx, {}, "^01FFWR0D010041#", "!01FF06", O::kRefused},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int station = c.protocol == P::kMkld ? 0 : 1;
    const size_t from = c.protocol == P::kLsmk ? 0 : 1;
    PlcModel model(c.protocol, 1000);
    model.AddStation(station);
    for (const char* v : c.values) ASSERT_TRUE(ApplyPlcAssignment(model, v, nullptr)) << v;
    const auto slave = MakePlcSlave(&model);
    const auto request = Frame(c.request, from);
    ASSERT_EQ(slave->FrameLength(request), static_cast<int>(request.size()));
    const PlcAnswer answer = slave->Handle(request);
    EXPECT_EQ(answer.outcome, c.outcome);
    EXPECT_EQ(answer.reply, c.reply.empty() ? std::vector<uint8_t>{} : Frame(c.reply, from));
    if (*c.device != 0) {
      EXPECT_EQ(model.Word(station, c.device, c.address), c.after);
    }
  }
}

TEST(PlcSlavesTest, MbfxServesNothingBeforeTheAcknowledgement) {
  PlcModel model(PlcProtocol::kMbfx, 100);
  model.AddStation(1);
  const auto slave = MakePlcSlave(&model);
  const auto read = Frame("^01FFWR0D000001#", 1);
  const auto ack = Frame("@01FF");
  EXPECT_EQ(slave->Handle(read).outcome, PlcOutcome::kReply);
  EXPECT_EQ(slave->Handle(read).outcome, PlcOutcome::kUnacknowledged);
  EXPECT_EQ(slave->Handle(read).outcome, PlcOutcome::kReply);
  EXPECT_EQ(slave->Handle(ack).outcome, PlcOutcome::kAcknowledged);
  EXPECT_EQ(slave->Handle(read).outcome, PlcOutcome::kReply);
  slave->ReplyLost();  // a dropped reply is not waited for
  EXPECT_EQ(slave->Handle(read).outcome, PlcOutcome::kReply);
}

TEST(PlcSlavesTest, FramerSkipsNoiseAndWaitsForTheRest) {
  PlcModel model(PlcProtocol::kLsmk, 100);
  const auto slave = MakePlcSlave(&model);
  PlcFramer framer(slave.get());
  auto bytes = Frame("xx^01rSS0107%DW0001$#", 2);
  framer.Feed(std::span(bytes).first(10), std::chrono::microseconds(0));
  EXPECT_FALSE(framer.Take(std::chrono::microseconds(0)));
  framer.Feed(std::span(bytes).subspan(10), std::chrono::microseconds(5));
  const auto frame = framer.Take(std::chrono::microseconds(5));
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->adu, std::vector<uint8_t>(bytes.begin() + 2, bytes.end()));
  EXPECT_EQ(framer.Counters().strayBytes, 2u);
}

}  // namespace
}  // namespace qb::sim
