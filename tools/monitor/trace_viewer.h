// The trace viewer that other programs send text commands to: status entries spread over three
// status panes, two log panes, and the window's rectangle. The commands:
//   "xts:" name "=" value   sets a status entry        "xtd:" name   removes one
//   "xta1:" / "xta2:" text  appends a random indentation of 0 to 9 spaces, the text and CR LF
//   "xta1t:" / "xta2t:"     the same with the local time "HH:MM:SS " before the text
//   "xtc"                   clears both log panes      "xtrect:" L,T,R,B   moves the window
// Every 50 ms (Tick) the entries are spread over the status panes by the sum of the character
// codes of their names modulo 3, and a pane's text is replaced only when it changed.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "monitor/text_pane.h"

namespace qb::monitor {

class TraceViewer {
 public:
  static constexpr size_t kPaneLimit = 1048576;
  static constexpr size_t kCutAt = 819201;
  static constexpr size_t kKeep = 10240;

  // random: any non-negative number (the indentation is its value mod 10); localTime: now.
  TraceViewer(std::function<uint32_t()> random, std::function<std::tm()> localTime);

  // Applies one command; false (and nothing changed) when it is none of the viewer's or its
  // argument is malformed.
  bool Apply(std::u16string_view command);
  // The 50 ms refresh: the status panes' texts, recomputed.
  void Tick();

  // "name=value" lines of the entries of one pane, in name order, as of the last Tick.
  const std::u16string& StatusPane(int i) const { return statusPanes_[static_cast<size_t>(i)]; }
  TextPane& LogPane(int i) { return logPanes_[static_cast<size_t>(i)]; }
  // What changed since the last TakeChanges, for the page: status panes, log panes, rectangle.
  nlohmann::json TakeChanges();
  nlohmann::json Whole() const;

  // The status pane of an entry: the sum of its name's character codes modulo 3.
  static int PaneOf(std::u16string_view name);
  // HH:MM:SS, two digits each.
  static std::u16string TimeText(const std::tm& time);

 private:
  void AppendLine(int pane, std::u16string_view text, bool stamped);

  std::function<uint32_t()> random_;
  std::function<std::tm()> localTime_;
  std::map<std::u16string, std::u16string, std::less<>> entries_;
  std::array<std::u16string, 3> statusPanes_;
  unsigned changedPanes_ = 0;
  std::array<TextPane, 2> logPanes_{TextPane(kPaneLimit, kCutAt, kKeep),
                                    TextPane(kPaneLimit, kCutAt, kKeep)};
  std::u16string rect_;
  bool rectChanged_ = false;
};

}  // namespace qb::monitor
