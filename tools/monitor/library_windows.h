// The library's own windows as the monitor shows them: the Log window (caption, status pane and
// two log panes; it appears once the library has shown it) and the texts drawn straight onto the
// display by on-screen tracing and qbTest1, the latest one per rectangle.
//   "qbls:" caption   the Log window was shown     "qblt:" text   its status pane's text
//   "qbl1:" / "qbl2:" text   appended to its first or second log pane
//   "qbdraw:" R,G,B;L,T,R,B;text   text drawn in that colour into that rectangle
#pragma once

#include <array>
#include <deque>
#include <string>
#include <string_view>

#include "monitor/text_pane.h"

namespace qb::monitor {

class LibraryWindows {
 public:
  // Each Log pane keeps at most this many characters: at more, only its last kKeep stay.
  static constexpr size_t kLogPaneLimit = 102400;
  static constexpr size_t kKeep = 10240;
  static constexpr size_t kMaxDrawings = 16;

  // Applies one command; false (and nothing changed) when it is none of these or malformed.
  bool Apply(std::u16string_view command);
  nlohmann::json TakeChanges();
  nlohmann::json Whole() const;

 private:
  struct Drawing {
    std::array<int, 3> rgb;
    std::array<int, 4> rect;
    std::u16string text;
  };
  bool ApplyDrawing(std::u16string_view argument);
  nlohmann::json Drawings() const;

  bool logShown_ = false;
  std::u16string caption_ = u"Log";
  std::u16string status_;
  bool logChanged_ = false;
  std::array<TextPane, 2> logPanes_{TextPane(SIZE_MAX, kLogPaneLimit + 1, kKeep),
                                    TextPane(SIZE_MAX, kLogPaneLimit + 1, kKeep)};
  std::deque<Drawing> drawings_;  // oldest first
  bool drawingsChanged_ = false;
};

}  // namespace qb::monitor
