// Line setting texts and baud rates to kernel terminal flags. Expected flag words are assembled
// here from the kernel's constants, as a serial programmer would write them by hand.
#include "serial/line_settings.h"

#include <asm/termbits.h>
#include <gtest/gtest.h>

namespace qb {
namespace {

constexpr uint32_t kRaw = CREAD | CLOCAL;

LineSettings Make(uint32_t baud, std::u16string_view parity, std::u16string_view dataBits,
                  std::u16string_view stopBits) {
  LineSettings s;
  EXPECT_TRUE(MakeLineSettings(baud, parity, dataBits, stopBits, &s));
  return s;
}

TEST(LineSettingsTest, FrameFormatsFromTexts) {
  const struct {
    std::u16string_view parity, dataBits, stopBits;
    uint32_t cflag, iflag;
  } cases[] = {
      {u"N", u"8", u"1", CS8, 0},                           // the defaults: 8N1
      {u"Even", u"7", u"2", CS7 | PARENB | CSTOPB, INPCK},  // 7E2, parity checked
      {u"even", u"7", u"1", CS7, 0},                        // lower case: no parity
      {u"Odd", u"8", u"2", CS8 | PARENB | PARODD | CSTOPB, INPCK},
      {u"ODD", u"7 ", u"1.5", CS8, 0},  // near misses fall back
  };
  for (const auto& c : cases) {
    const LineSettings s = Make(9600, c.parity, c.dataBits, c.stopBits);
    EXPECT_EQ(s.controlFlags, B9600 | kRaw | c.cflag);
    EXPECT_EQ(s.inputFlags, c.iflag);
    // Raw: no output processing, echo, signals or line editing; a read takes what is there.
    EXPECT_EQ(s.outputFlags, 0u);
    EXPECT_EQ(s.localFlags, 0u);
    EXPECT_EQ(s.minBytes, 1);
    EXPECT_EQ(s.interByteTime, 0);
  }
}

TEST(LineSettingsTest, StandardRatesUseTheirCodesOthersTheFreeRate) {
  const uint32_t standard[][2] = {{50, B50}, {1200, B1200}, {115200, B115200}, {4000000, B4000000}};
  for (const auto& [baud, code] : standard) {
    const LineSettings s = Make(baud, u"N", u"8", u"1");
    EXPECT_EQ(s.controlFlags, code | CS8 | kRaw);
    EXPECT_EQ(BaudOf(s), baud);
  }
  for (uint32_t baud : {250000u, 31250u, 9601u, 1u}) {
    const LineSettings s = Make(baud, u"N", u"8", u"1");
    EXPECT_EQ(s.controlFlags, BOTHER | CS8 | kRaw);
    EXPECT_EQ(s.outputSpeed, baud);
    EXPECT_EQ(s.inputSpeed, baud);
    EXPECT_EQ(BaudOf(s), baud);
  }
  LineSettings untouched;
  EXPECT_FALSE(MakeLineSettings(0, u"N", u"8", u"1", &untouched));  // B0 would hang up
  EXPECT_EQ(untouched.controlFlags, 0u);
}

TEST(LineSettingsTest, SettingsTookSeesWhatTheDriverReplaced) {
  const LineSettings wanted = Make(250000, u"Even", u"7", u"2");
  EXPECT_TRUE(SettingsTook(wanted, wanted));
  for (uint32_t bit : {static_cast<uint32_t>(CS7 ^ CS8), static_cast<uint32_t>(PARENB),
                       static_cast<uint32_t>(PARODD), static_cast<uint32_t>(CSTOPB)}) {
    LineSettings replaced = wanted;
    replaced.controlFlags ^= bit;
    EXPECT_FALSE(SettingsTook(wanted, replaced)) << bit;
  }
  LineSettings other = wanted;  // flags outside the frame format do not count
  other.controlFlags |= HUPCL;
  other.inputFlags |= IGNBRK;
  EXPECT_TRUE(SettingsTook(wanted, other));
  // The rate may be off by 3 % (what a UART divider gives), no more.
  for (const auto& [speed, ok] :
       {std::pair{242500u, true}, {257500u, true}, {242499u, false}, {257501u, false}}) {
    other.outputSpeed = speed;
    EXPECT_EQ(SettingsTook(wanted, other), ok) << speed;
  }
  other.controlFlags = (other.controlFlags & ~CBAUD) | B9600;  // driver fell back to 9600
  other.outputSpeed = 250000;
  EXPECT_FALSE(SettingsTook(wanted, other));
}

}  // namespace
}  // namespace qb
