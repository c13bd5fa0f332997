// What item fields each protocol's builders read, so that a host's configuration screens offer
// the device name, the bit position or a length only where they mean something.
#pragma once

#include <string_view>

namespace qb {

bool ProtocolHasDeviceName(std::u16string_view protocol);
bool ProtocolHasBitPosition(std::u16string_view protocol);
bool ProtocolSupportsContinuousAddress(std::u16string_view protocol);

}  // namespace qb
