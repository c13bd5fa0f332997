// Feeds arbitrary line bytes to the frame receiver under the reply Styles that selecting "LSMK",
// "MKLD" or "MBFX" registers. The first input byte picks the protocol (byte % 3) and the chunk
// size (1 to 64, as the port reads bytes in chunks); the rest is the line. After every
// chunk the buffer must hold no more than the longest frame the Styles can match, and every packet
// must belong to the selected protocol.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/quiet_platform.h"
#include "protocols/frame_receiver.h"
#include "protocols/reply_styles.h"

namespace {

constexpr std::u16string_view kProtocols[] = {u"LSMK", u"MKLD", u"MBFX"};

class CheckingReceiver : public qb::FrameReceiver {
 public:
  CheckingReceiver(qb::Platform& platform, std::u16string_view protocol)
      : FrameReceiver(platform), protocol_(protocol) {}

 protected:
  void OnPacket(std::u16string_view protocol, std::u16string_view packet) override {
    if (protocol != protocol_ || FindRecvStyle(packet) == nullptr) __builtin_trap();
  }

 private:
  std::u16string_view protocol_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 8192) return 0;
  static qb::QuietPlatform platform;
  const std::u16string_view protocol = kProtocols[data[0] % 3];
  const size_t chunk = 1 + (data[0] >> 2) % 64;
  CheckingReceiver receiver(platform, protocol);
  if (!qb::RegisterReplyStyles(receiver, protocol)) __builtin_trap();
  const size_t longest = receiver.LongestFrame();
  for (size_t at = 1; at < size; at += chunk) {
    const size_t count = size - at < chunk ? size - at : chunk;
    receiver.Receive(data + at, count);
    if (receiver.BufferedCount() > longest) __builtin_trap();
  }
  return 0;
}
