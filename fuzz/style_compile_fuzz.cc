// Compiles arbitrary text as a Style, the way a host's protocol definition reaches the compiler,
// then gives every declared name a value, marks ranges taken from the input, builds a frame and
// parses it back, and parses the input itself as a received frame: none of it may crash, hang or
// grow.
// Run with -max_len=1024: the Style texts of the protocols and the unit tests are under 200
// characters; 1 KB is some 40 units, more than any packet has.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/quiet_platform.h"
#include "style/style.h"
#include "style/style_parser.h"

namespace {

const char16_t* const kMethods[] = {u"plus", u"xor", u"crc16-ibm", u"lrc", u"none"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > 4096) return 0;
  static qb::QuietPlatform platform;
  const uint8_t flags = data[0];
  const uint8_t first = data[1];
  const uint8_t count = data[2];
  const uint8_t value = data[3];
  std::u16string text;
  for (size_t i = 4; i < size; ++i) text += static_cast<char16_t>(data[i]);

  qb::Style style(platform);
  style.MakeStyle(text, (flags & 1) != 0);
  for (const qb::StyleUnit& unit : style.Units()) {
    if (unit.unitType == qb::UnitType::kNone || unit.owner != &style) __builtin_trap();
    if (unit.unitType == qb::UnitType::kVar && unit.format == qb::UnitFormat::kNone) {
      __builtin_trap();
    }
  }
  const int32_t units = style.UnitCount();
  if (flags & 2) {
    const qb::StyleUnit* last = style.GetUnit(units - 1);
    style.SetChecksumRange(last != nullptr ? std::u16string_view(last->name) : u"Sum",
                           first % (units + 1), count % 8, kMethods[(flags >> 4) % 5]);
  }
  if (flags & 4) {
    const std::u16string repeat = (flags & 8) ? std::u16string(1, u'0' + value % 10) : u"Cnt";
    style.SetRepeatRange(repeat, (first >> 3) % (units + 1), (count >> 3) % 4 + 1);
  }

  // A value for every name the units use: fields, bit fields, length variables, in and out of
  // repeated groups.
  qb::FrameValues& values = style.Values();
  values.SetInt(u"Cnt", value % 20);
  for (const qb::StyleUnit& unit : style.Units()) {
    for (const std::u16string& name : unit.bitNames) values.SetInt(name, value);
    std::u16string lengthName = unit.lengthVariable.substr(0, unit.lengthVariable.find(u'*'));
    for (int round = -1; round < 4; ++round) {
      const std::u16string suffix =
          round < 0 ? std::u16string() : u":" + std::u16string(1, u'0' + round);
      if (!lengthName.empty()) values.SetInt(lengthName + suffix, value % 40);
      if (unit.name.empty()) continue;
      if (unit.format == qb::UnitFormat::kBin) {
        values.SetBin(unit.name + suffix, std::vector<uint8_t>(value % 16, value));
      } else if (unit.format == qb::UnitFormat::kStr) {
        values.SetStr(unit.name + suffix, std::u16string(value % 16, u'A' + value % 26));
      } else {
        values.SetInt(unit.name + suffix, static_cast<int8_t>(value) * 1000003);
      }
    }
  }
  std::vector<uint8_t> frame;
  if (style.BuildFrame(frame)) {
    if (frame.size() > (1u << 16)) __builtin_trap();
    qb::StyleOwner owner;
    qb::FrameValues parsed;
    const std::vector<uint8_t> built = frame;
    const int result = qb::ParseFrame(style, frame, parsed, owner);
    if (result != 1 && frame != built) __builtin_trap();
  } else if (!frame.empty()) {
    __builtin_trap();
  }

  std::vector<uint8_t> received(data + 4, data + size);
  const std::vector<uint8_t> before = received;
  qb::StyleOwner owner;
  qb::FrameValues parsed;
  const int result = qb::ParseFrame(style, received, parsed, owner);
  if (result != 1 && received != before) __builtin_trap();
  if (result == 1 && received.size() > before.size()) __builtin_trap();
  return 0;
}
