// The built-in checksum decisions of a frame receiver; see style_owner.h.
#include "style/style_owner.h"

namespace qb {

bool StyleOwner::CompareTextChecksum(std::u16string_view /*name*/, uint32_t computed,
                                     int32_t received) {
  return computed == static_cast<uint32_t>(received);
}

bool StyleOwner::CompareBinaryChecksum(std::u16string_view /*name*/, uint32_t /*computed*/,
                                       std::span<const uint8_t> /*received*/) {
  return false;
}

}  // namespace qb
