#include "diag/display_text.h"

#include "diag/monitor_commands.h"

namespace qb {
namespace {

void AppendNumber(std::u16string& out, int64_t value, char16_t after) {
  for (char c : std::to_string(value)) out += static_cast<char16_t>(c);
  out += after;
}

}  // namespace

void DisplayText::Draw(const DisplayRect& rect, std::u16string_view text) {
  if (!platform_.MonitorAttached()) return;
  std::u16string command(monitor::kDisplayText);
  for (int i = 0; i < 3; ++i) AppendNumber(command, random_() % 180 + 70, i < 2 ? u',' : u';');
  AppendNumber(command, rect.left, u',');
  AppendNumber(command, rect.top, u',');
  AppendNumber(command, rect.right, u',');
  AppendNumber(command, rect.bottom, u';');
  command += text;
  platform_.SendToMonitor(command);
}

}  // namespace qb
