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
  const std::u16string& ParseErrorText() const;
  void SetParseErrorText(std::u16string text) {
    fixedMismatch_.pending = false;
    parseErrorText_ = std::move(text);
  }
  // The parser writes the text in place, so that its storage is reused from failure to failure.
  std::u16string& MutableParseErrorText() {
    fixedMismatch_.pending = false;
    return parseErrorText_;
  }
  // A fixed byte that did not match: the commonest failure by far, once per byte and Style while a
  // receiver resynchronises over garbage, so only its numbers are kept and the text is written
  // when someone asks for it.
  void SetFixedMismatch(uint8_t expected, uint8_t received, size_t unitIndex, int32_t round) {
    fixedMismatch_ = {true, expected, received, unitIndex, round};
  }

 private:
  struct FixedMismatch {
    bool pending = false;
    uint8_t expected = 0;
    uint8_t received = 0;
    size_t unitIndex = 0;
    int32_t round = -1;
  };

  mutable std::u16string parseErrorText_;
  mutable FixedMismatch fixedMismatch_;
};

}  // namespace qb
