// Reads arbitrary values texts into a packet's Style, as a host's qbSetTempStr text reaches it, and
// writes the values back as the library writes a received packet's values. The written text read
// again must give itself once more (a single empty text-array item, written "a", is the one thing
// that does not survive the first trip).
// Run with -max_len=1024: a text that sets each of the packet's five variables in every form is a
// few hundred characters; 1 KB leaves room for repeated and malformed entries.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/quiet_platform.h"
#include "userprotocol/values_text.h"

namespace {

// The packet's Style is compiled once; each trip starts from its empty values, as a fresh Style
// would (reading a text only stores values, it never looks at those already there).
std::u16string Trip(std::u16string_view text, std::u16string_view delimiter) {
  static qb::QuietPlatform platform;
  static qb::Style style(platform);
  static const bool compiled = style.MakeStyle(u"ADDR[2d],NAME[4s],RAW[3b],LIST[2s],N[1n]", true);
  if (!compiled) __builtin_trap();
  style.Values().Clear();
  qb::ReadValuesText(text, delimiter, style);
  return qb::WriteValuesText(style.Values());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  // The first byte picks the array delimiter.
  static const char16_t* const kDelimiters[] = {u"?", u"", u",", u"&", u"=", u"AD", u";", u"?"};
  const std::u16string_view delimiter = kDelimiters[data[0] & 7];
  std::u16string text;
  for (size_t i = 1; i < size; ++i) text += static_cast<char16_t>(data[i]);
  const std::u16string once = Trip(text, delimiter);
  const std::u16string twice = Trip(once, delimiter);
  if (Trip(twice, delimiter) != twice) __builtin_trap();
  return 0;
}
