#include "support/fake_platform.h"

namespace qb::test {

intptr_t FakePlatform::SendHostMessage(void* window, uint32_t message, uintptr_t wParam,
                                       intptr_t lParam) {
  HostMessage m{window, message, wParam, lParam, {}};
  if (lParam >= 2 && wParam != 0) {
    const auto* p = reinterpret_cast<const uint8_t*>(wParam);
    m.block.assign(p, p + lParam);
  }
  messages.push_back(m);
  if (onHostMessage) onHostMessage(messages.back());
  return 0;
}

std::vector<std::u16string> FakePlatform::NotesStartingWith(std::u16string_view prefix) const {
  std::vector<std::u16string> out;
  for (const auto& n : notes) {
    if (n.starts_with(prefix)) out.push_back(n);
  }
  return out;
}

std::u16string U16(std::string_view ascii) {
  std::u16string out;
  for (char c : ascii) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return out;
}

}  // namespace qb::test
