// The reply Styles that selecting a built-in PLC link protocol registers with the frame receiver,
// in the order they are tried on received bytes.
#pragma once

#include <string_view>

#include "protocols/frame_receiver.h"

namespace qb {

// "LSMK", "MKLD" and "MBFX" register their replies; any other name registers nothing (false).
bool RegisterReplyStyles(FrameReceiver& receiver, std::u16string_view protocol);

}  // namespace qb
