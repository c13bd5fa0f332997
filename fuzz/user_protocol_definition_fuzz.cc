// Loads arbitrary definitions as a host would hand them over, then makes everything the library
// makes of a loaded definition: each packet's Style text, frame settings and variable names, and a
// compiled Style with its checksum rule. A first byte with its low bit clear writes the rest of the
// input as hexadecimal pairs (so the fuzzer works on the packed records themselves); otherwise the
// rest is the text as given. Loading twice must give the same definition: a load keeps nothing of
// the one before it.
// Run with -max_len=4096: a definition of a few packets of a dozen units each is 1 to 3 KB.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "platform/quiet_platform.h"
#include "style/style.h"
#include "userprotocol/packet_style.h"

namespace {

std::u16string Describe(const qb::UserProtocol& protocol, qb::Platform& platform) {
  std::u16string all = protocol.Name() + u"|" + protocol.EditorVersion();
  for (const auto& packet : protocol.Packets()) {
    const qb::PacketFrame frame = qb::FrameOf(*packet);
    std::set<std::u16string> names, wordArrays;
    qb::PacketVariables(*packet, names, wordArrays);
    if (!std::includes(names.begin(), names.end(), wordArrays.begin(), wordArrays.end())) {
      __builtin_trap();
    }
    qb::Style style(platform);
    qb::CompilePacket(frame, style);
    all += u"|" + frame.styleText + qb::WordArrLoVars(*packet);
  }
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  static qb::QuietPlatform platform;
  std::u16string text;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 1; i < size; ++i) {
    if ((data[0] & 1) == 0) {
      text += static_cast<char16_t>(kDigits[data[i] >> 4]);
      text += static_cast<char16_t>(kDigits[data[i] & 15]);
    } else {
      text += static_cast<char16_t>(data[i]);
    }
  }
  qb::UserProtocol protocol;
  const int32_t first = protocol.Load(text, platform);
  const std::u16string once = Describe(protocol, platform);
  if (protocol.Load(text, platform) != first || Describe(protocol, platform) != once) {
    __builtin_trap();
  }
  return 0;
}
