// The once-per-process message flags of the Style engine; see style_messages.h.
#include "style/style_messages.h"

namespace qb::style_messages {

std::atomic<bool> hj34NotShown{true};
std::atomic<bool> nr39NotShown{true};
std::atomic<bool> setIntNotShown{true};
std::atomic<bool> setStrNotShown{true};
std::atomic<bool> buildChecksumNotShown{true};

}  // namespace qb::style_messages

namespace qb::detail {

void ResetStyleMessageFlags() {
  using namespace qb::style_messages;
  hj34NotShown = true;
  nr39NotShown = true;
  setIntNotShown = true;
  setStrNotShown = true;
  buildChecksumNotShown = true;
}

}  // namespace qb::detail
