#include "monitor/library_windows.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace qb::monitor {
namespace {

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// count whole numbers separated by commas, each in [low, high], ending at `end`.
template <size_t N>
bool ParseNumbers(std::u16string_view text, int low, int high, std::array<int, N>* out) {
  const std::string ascii(text.begin(), text.end());
  const char* p = ascii.data();
  const char* end = p + ascii.size();
  for (size_t i = 0; i < N; ++i) {
    if (p == end || *p == '+' || *p == ' ') return false;
    const auto [next, error] = std::from_chars(p, end, (*out)[i]);
    if (error != std::errc() || (*out)[i] < low || (*out)[i] > high) return false;
    if (i + 1 < N && (next == end || *next != ',')) return false;
    p = i + 1 < N ? next + 1 : next;
  }
  return p == end && std::equal(text.begin(), text.end(), ascii.begin());
}

}  // namespace

bool LibraryWindows::Apply(std::u16string_view command) {
  if (StartsWith(command, u"qbls:")) {
    logShown_ = true;
    caption_ = command.substr(5);
    logChanged_ = true;
  } else if (StartsWith(command, u"qblt:")) {
    logShown_ = true;
    status_ = command.substr(5);
    logChanged_ = true;
  } else if (StartsWith(command, u"qbl1:") || StartsWith(command, u"qbl2:")) {
    logShown_ = true;
    logChanged_ = true;
    logPanes_[command[3] == u'1' ? 0 : 1].Append(command.substr(5));
  } else if (StartsWith(command, u"qbdraw:")) {
    return ApplyDrawing(command.substr(7));
  } else {
    return false;
  }
  return true;
}

bool LibraryWindows::ApplyDrawing(std::u16string_view argument) {
  const size_t first = argument.find(u';');
  const size_t second = first == std::u16string_view::npos ? first : argument.find(u';', first + 1);
  if (second == std::u16string_view::npos) return false;
  Drawing drawing;
  if (!ParseNumbers(argument.substr(0, first), 0, 255, &drawing.rgb) ||
      !ParseNumbers(argument.substr(first + 1, second - first - 1), -100000, 100000,
                    &drawing.rect)) {
    return false;
  }
  drawing.text = argument.substr(second + 1);
  // Drawing over a rectangle hides what was drawn there before.
  std::erase_if(drawings_, [&](const Drawing& d) { return d.rect == drawing.rect; });
  drawings_.push_back(std::move(drawing));
  if (drawings_.size() > kMaxDrawings) drawings_.pop_front();
  drawingsChanged_ = true;
  return true;
}

nlohmann::json LibraryWindows::Drawings() const {
  nlohmann::json list = nlohmann::json::array();
  for (const Drawing& d : drawings_) {
    list.push_back({{"rgb", d.rgb}, {"rect", d.rect}, {"text", ToUtf8(d.text)}});
  }
  return list;
}

nlohmann::json LibraryWindows::TakeChanges() {
  nlohmann::json change = nlohmann::json::object();
  if (logChanged_) {
    change["logView"] = {
        {"shown", logShown_}, {"caption", ToUtf8(caption_)}, {"status", ToUtf8(status_)}};
    for (size_t i = 0; i < 2; ++i) {
      if (logPanes_[i].Changed())
        change["logView"]["log"][std::to_string(i)] = logPanes_[i].TakeChange();
    }
    logChanged_ = false;
  }
  if (drawingsChanged_) change["display"] = Drawings();
  drawingsChanged_ = false;
  return change;
}

nlohmann::json LibraryWindows::Whole() const {
  nlohmann::json whole;
  whole["logView"] = {
      {"shown", logShown_}, {"caption", ToUtf8(caption_)}, {"status", ToUtf8(status_)}};
  for (size_t i = 0; i < 2; ++i) whole["logView"]["log"][std::to_string(i)] = logPanes_[i].Whole();
  whole["display"] = Drawings();
  return whole;
}

}  // namespace qb::monitor
