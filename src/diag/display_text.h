// Text drawn straight onto the display, over whatever is there, in a random colour: what on-screen
// tracing and qbTest1 do. On Linux the display is the diagnostics monitor's page; without a monitor
// nothing is drawn and no colour is drawn either.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qb {

struct DisplayRect {
  int32_t left, top, right, bottom;
};

class DisplayText {
 public:
  // Where on-screen tracing draws "Logging : " + text, and where qbTest1 draws its text.
  static constexpr DisplayRect kTraceRect{0, 0, 800, 300};
  static constexpr DisplayRect kTestRect{30, 200, 830, 500};

  DisplayText(Platform& platform, uint32_t seed) : platform_(platform), random_(seed) {}

  // Draws text into rect with red, green and blue each (random mod 180) + 70, so 70 to 249.
  void Draw(const DisplayRect& rect, std::u16string_view text);

 private:
  Platform& platform_;
  std::minstd_rand random_;
};

}  // namespace qb
