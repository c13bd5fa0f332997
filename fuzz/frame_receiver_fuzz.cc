// Feeds arbitrary line bytes to the frame receiver under the reply Styles that selecting "LSMK",
// "MKLD" or "MBFX" registers, or that a loaded user protocol's Rx packets give ("USRPRTCL": a
// definition with a word array, a text whose length a variable gives, a binary word and a
// checksum). The first input byte picks the protocol (its low two bits) and the chunk size (1 to
// 64, as the port reads bytes in chunks); the rest is the line. After every chunk the buffer
// must hold no more than the longest frame the Styles can match, and every packet must belong to
// the selected protocol.
//
// One receiver per protocol is made once and its buffer dropped before each run: compiling the
// Styles is no part of what the line can reach. Of the line, at most the longest frame of the
// protocol's Styles and two chunks of 64 are fed (longest frames: LSMK 1541, MKLD 519, MBFX 208,
// the user packet 28 bytes), so run with -max_len=1670. Between chunks the receiver's only state
// is its buffer, never longer than the longest frame, and a buffer it holds is reached again by
// feeding just those bytes in chunks of any size (every shorter prefix of it still waits for
// more): so this much line reaches every state and every chunk that can follow one. A longer line
// only costs time, the more as a frame on its way is parsed again after every chunk.
//
// Run with -detect_leaks=0: the receivers keep the values of the last frame they delivered from
// one input to the next, so most inputs end with more allocations than frees, and libFuzzer runs
// each such input again and scans the heap for leaks, which halved the rate. A leak is still
// reported when the process exits (LeakSanitizer's check at exit stays on), only without the
// input that made it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/quiet_platform.h"
#include "protocols/frame_receiver.h"
#include "protocols/reply_styles.h"
#include "support/definition_writer.h"
#include "userprotocol/packet_style.h"

namespace {

constexpr std::u16string_view kProtocols[] = {u"LSMK", u"MKLD", u"MBFX", u"USRPRTCL"};

// STX, W (a word array of 4 bytes), LEN (2 decimal digits), S (LEN x 2 characters, at most 16),
// N (a binary word, low byte first), SUM (2 hexadecimal digits: the sum of STX to S), ETX.
const qb::UserProtocol& UserDefinition(qb::Platform& platform) {
  using namespace qb::test;
  static qb::UserProtocol protocol;
  if (!protocol.Packets().empty()) return protocol;
  const auto var = [](const std::string& name, const std::string& type, const std::string& count) {
    return Texts({{"^ValType", "Var"},
                  {"^VarName", name},
                  {"^VarType", type},
                  {"^ElemCnt", count},
                  {"^NoLimitMaxVal", "1"}});
  };
  const std::string stx =
      Texts({{"^ValType", "Const"}, {"^ConstType", "Hex"}, {"^ConstVal", "02"}});
  const std::string etx =
      Texts({{"^ValType", "Const"}, {"^ConstType", "Hex"}, {"^ConstVal", "03"}});
  const std::string text = Texts({{"^ValType", "Var"},
                                  {"^VarName", "S"},
                                  {"^VarType", "Str"},
                                  {"^ElemCnt", "LEN"},
                                  {"^NoLimitMaxVal", "1"},
                                  {"^ElemCntByVar", "1"},
                                  {"^ElemCntMultiplier", "2"},
                                  {"^MaxElemCnt", "16"}});
  const std::string settings = Texts({{"^PaktName", "VAL"},
                                      {"^CommDirection", "Rx"},
                                      {"^ByteOrder", "LoFirst"},
                                      {"^EnableCksum", "1"},
                                      {"^CksumStartOrder", "1"},
                                      {"^CksumEndOrder", "4"},
                                      {"^CksumVarName", "SUM"},
                                      {"^CksumMethod", "PLUS"}});
  const std::string definition =
      Definition("Fuzz", {Packet({stx, var("W", "WordArray", "4"), var("LEN", "AscDec", "2"), text,
                                  var("N", "BinWord", "1"), var("SUM", "AscHex", "2"), etx},
                                 settings)});
  if (protocol.Load(Hex(definition), platform) != 1) __builtin_trap();
  return protocol;
}

// Registers the definition's Rx packets as the engine does when "USRPRTCL" is selected.
void RegisterUserStyles(qb::FrameReceiver& receiver, qb::Platform& platform) {
  for (const auto& packet : UserDefinition(platform).Packets()) {
    if (!qb::IsRxPacket(*packet)) continue;
    const qb::PacketFrame frame = qb::FrameOf(*packet);
    if (!receiver.AddRecvStyle(frame.styleText, u"USRPRTCL", packet->GetStr(qb::upkeys::kPaktName),
                               frame.highFirst)) {
      __builtin_trap();
    }
    receiver.SetRecvStyleValue(u"WordArrLoVars", qb::WordArrLoVars(*packet));
    if (frame.checksum) {
      receiver.DefineRecvChecksum(frame.checksumVariable, frame.checksumFirst, frame.checksumCount,
                                  frame.checksumMethod);
    }
  }
}

class CheckingReceiver : public qb::FrameReceiver {
 public:
  CheckingReceiver(qb::Platform& platform, std::u16string_view protocol)
      : FrameReceiver(platform), protocol_(protocol) {
    if (protocol == u"USRPRTCL") {
      RegisterUserStyles(*this, platform);
    } else if (!qb::RegisterReplyStyles(*this, protocol)) {
      __builtin_trap();
    }
    longest_ = LongestFrame();
  }
  size_t Longest() const { return longest_; }

 protected:
  void OnPacket(std::u16string_view protocol, std::u16string_view packet) override {
    if (protocol != protocol_ || FindRecvStyle(packet) == nullptr) __builtin_trap();
  }

 private:
  std::u16string_view protocol_;
  size_t longest_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static qb::QuietPlatform platform;
  static CheckingReceiver receivers[] = {{platform, kProtocols[0]},
                                         {platform, kProtocols[1]},
                                         {platform, kProtocols[2]},
                                         {platform, kProtocols[3]}};
  CheckingReceiver& receiver = receivers[data[0] & 3];
  const size_t chunk = 1 + (data[0] >> 2) % 64;
  const size_t longest = receiver.Longest();
  const size_t end = std::min(size, 1 + longest + 2 * 64);
  receiver.DropBuffered();
  if (receiver.BufferedCount() != 0 || receiver.BytesBeforeFrameCanEnd() != 0) __builtin_trap();
  for (size_t at = 1; at < end; at += chunk) {
    const size_t count = end - at < chunk ? end - at : chunk;
    receiver.Receive(data + at, count);
    if (receiver.BufferedCount() > longest) __builtin_trap();
  }
  return 0;
}
