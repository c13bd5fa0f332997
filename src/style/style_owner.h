// What parsing needs from whoever receives frames: a place for the text of the last failure and the
// two decisions whether a received checksum matches the computed one. The frame receiver derives
// from this and may replace the decisions; this class gives the built-in answers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qb {

class StyleOwner {
 public:
  virtual ~StyleOwner() = default;

  // A checksum field that holds text or an integer. Matched when the two values are equal (the
  // received value compared as the same 32 bits).
  virtual bool CompareTextChecksum(std::u16string_view name, uint32_t computed, int32_t received);
  // A checksum field of raw bytes. Never matched.
  virtual bool CompareBinaryChecksum(std::u16string_view name, uint32_t computed,
                                     std::span<const uint8_t> received);

  // The message of the last failure that made a parse answer 0; parsing never clears it.
  const std::u16string& ParseErrorText() const { return parseErrorText_; }
  void SetParseErrorText(std::u16string text) { parseErrorText_ = std::move(text); }
  // The parser writes the text in place, so that resynchronising over garbage, which fails once per
  // byte and Style, reuses the text's storage instead of allocating.
  std::u16string& MutableParseErrorText() { return parseErrorText_; }

 private:
  std::u16string parseErrorText_;
};

}  // namespace qb
