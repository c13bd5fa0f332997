// The commands in which the library shows its windows on the diagnostics monitor, beside the trace
// viewer's own ("xts:", "xta1:", ...) that other programs send. Each is one text: a prefix and its
// argument.
#pragma once

#include <string_view>

namespace qb::monitor {

// The Log window has been shown; the argument is its caption.
inline constexpr std::u16string_view kLogShown = u"qbls:";
// The Log window's status pane now holds the argument.
inline constexpr std::u16string_view kLogStatus = u"qblt:";
// Appends the argument to the Log window's first or second log pane.
inline constexpr std::u16string_view kLogPane1 = u"qbl1:";
inline constexpr std::u16string_view kLogPane2 = u"qbl2:";
// Text drawn straight onto the display: "R,G,B;LEFT,TOP,RIGHT,BOTTOM;" + text.
inline constexpr std::u16string_view kDisplayText = u"qbdraw:";

}  // namespace qb::monitor
