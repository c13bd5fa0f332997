// The built-in checksum decisions of a frame receiver; see style_owner.h.
#include "style/style_owner.h"

#include "style/style_messages.h"
#include "style/style_text.h"

namespace qb {

bool StyleOwner::CompareTextChecksum(std::u16string_view /*name*/, uint32_t computed,
                                     int32_t received) {
  return computed == static_cast<uint32_t>(received);
}

bool StyleOwner::CompareBinaryChecksum(std::u16string_view /*name*/, uint32_t /*computed*/,
                                       std::span<const uint8_t> /*received*/) {
  return false;
}

const std::u16string& StyleOwner::ParseErrorText() const {
  if (fixedMismatch_.pending) {
    const FixedMismatch& m = fixedMismatch_;
    parseErrorText_.assign(style_messages::kFixedMismatch);
    style_text::AppendHexByte(parseErrorText_, m.expected);
    parseErrorText_.append(u", 측정값=0x");
    style_text::AppendHexByte(parseErrorText_, m.received);
    parseErrorText_.append(u", UnitIdx=");
    style_text::AppendDecimal(parseErrorText_, static_cast<int64_t>(m.unitIndex));
    parseErrorText_.append(u", RoundIdx=");
    style_text::AppendDecimal(parseErrorText_, m.round);
    fixedMismatch_.pending = false;
  }
  return parseErrorText_;
}

}  // namespace qb
