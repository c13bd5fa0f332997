// The receiving side of every protocol whose replies are written as Styles ("LSMK", "MKLD", "MBFX",
// "USRPRTCL"): received bytes are gathered, the registered receive Styles are tried on them in
// registration order, and every recognised packet goes to the packet hook, named by its protocol
// and packet name. Nothing on the wire says which query a reply answers; the hook attributes it.
//
// A noisy line must not make the receiver slow or its memory grow. The buffer never holds more
// than the longest frame the registered Styles can match (plus the chunk being handled): while a
// Style waits for more bytes of a frame that can no longer fit, bytes are dropped from the front
// with a debug note. A match that consumes no byte counts as no match. Each parse attempt looks at
// no more than that longest frame, so the work per received byte is bounded whatever arrives.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "style/frame_values.h"
#include "style/style.h"
#include "style/style_owner.h"

namespace qb {

class FrameReceiver : public StyleOwner {
 public:
  // The most a single frame may take, whatever the Styles allow: a Style whose repeat counts or
  // open fields could reach further is cut to this. A frame still on its way is parsed again with
  // every chunk, so this also bounds the work a received byte can cause.
  static constexpr size_t kLongestFrameCap = 4096;

  explicit FrameReceiver(Platform& platform);
  ~FrameReceiver() override;
  FrameReceiver(const FrameReceiver&) = delete;
  FrameReceiver& operator=(const FrameReceiver&) = delete;

  // Compiles text (with the byte order of "num" fields) into a new receive Style named by protocol
  // and packet, appends it and makes it the current Style. The Style is kept even when the text
  // does not compile (the compile message has been shown); false then.
  bool AddRecvStyle(std::u16string_view text, std::u16string_view protocol,
                    std::u16string_view packet, bool bigEndian);
  // The checksum range, the repeat range or a default value of the current Style. Without one the
  // message box "먼저 AddRecvStyle()을 하세요" is shown and the result is false.
  bool DefineRecvChecksum(std::u16string_view key, int32_t first, int32_t count,
                          std::u16string_view method);
  bool DefineRecvRepeat(std::u16string_view count, int32_t first, int32_t unitCount);
  bool SetRecvStyleValue(std::u16string_view key, std::u16string_view text);
  // Forgets every receive Style; the buffered bytes stay.
  void ClearRecvStyles();
  // Forgets the buffered bytes (a frame begun is no longer awaited); the Styles stay. From a hook,
  // the bytes not yet handled by the running Receive are dropped too.
  void DropBuffered();

  // Bytes from the line, in order. Every packet found is handed to OnPacket before this returns.
  void Receive(const uint8_t* bytes, size_t count);

  // Values of the last matched packet (0 or "" when absent).
  int32_t GetIntValue(std::u16string_view key) const { return values_.GetInt(key); }
  std::u16string GetStrValue(std::u16string_view key) const { return values_.GetStr(key); }
  const FrameValues& Values() const { return values_; }
  // The text of the last parse failure; never cleared here.
  const std::u16string& ErrorText() const { return ParseErrorText(); }
  // The first receive Style with that packet name, or null.
  const Style* FindRecvStyle(std::u16string_view packet) const;
  size_t RecvStyleCount() const { return styles_.size(); }
  const Style& RecvStyleAt(size_t index) const { return *styles_.at(index); }
  const std::u16string& LastProtocol() const { return lastProtocol_; }
  const std::u16string& LastPacket() const { return lastPacket_; }
  size_t BufferedCount() const { return buffer_.size(); }
  // The longest frame the registered Styles can match, in bytes (0 without Styles).
  size_t LongestFrame() const;
  // After Receive: the fewest bytes that must still come before the frame begun in the buffer can
  // be recognised by any Style still waiting for it; 0 when none waits.
  size_t BytesBeforeFrameCanEnd() const { return awaited_; }

 protected:
  // A packet was recognised; Values() holds its fields. The hook may change the receive Styles.
  virtual void OnPacket(std::u16string_view protocol, std::u16string_view packet);
  // Each field of a recognised packet, before OnPacket: numbers, texts and byte values.
  virtual void OnIntValue(std::u16string_view protocol, std::u16string_view packet,
                          std::u16string_view key, int32_t value);
  virtual void OnTextValue(std::u16string_view protocol, std::u16string_view packet,
                           std::u16string_view key, std::u16string_view text);
  virtual void OnBinaryValue(std::u16string_view protocol, std::u16string_view packet,
                             std::u16string_view key, std::span<const uint8_t> bytes);

  Platform& platform_;

 private:
  // Tries every Style at the front of window: 1 matched (consumed set), -1 some Style needs more
  // bytes (shortfall: the fewest any of them needs), 0 none matches.
  int TryStyles(std::span<const uint8_t> window, size_t& consumed, size_t& styleIndex,
                size_t& shortfall);
  void Deliver(size_t styleIndex);
  Style* CurrentStyle();

  std::vector<uint8_t> buffer_;
  std::vector<std::unique_ptr<Style>> styles_;
  FrameValues values_;
  FrameValues scratch_;
  bool hasCurrent_ = false;
  std::u16string lastProtocol_;
  std::u16string lastPacket_;
  mutable size_t longestFrame_ = 0;
  mutable bool longestFrameKnown_ = true;
  bool receiving_ = false;
  size_t awaited_ = 0;
};

// The most bytes a parse of style can consume or wait for before it decides, capped at cap.
size_t LongestFrameOf(const Style& style, size_t cap);

}  // namespace qb
