// A multi-line text pane of the monitor, counted in UTF-16 characters as the windows it stands for
// count them. It remembers what changed since it was last published, so the page gets only the
// appended text, or the whole text after a cut or a clear.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qb::monitor {

class TextPane {
 public:
  // At cutAt characters or more the pane keeps only its last `keep`; nothing beyond `limit` is
  // ever taken.
  TextPane(size_t limit, size_t cutAt, size_t keep) : limit_(limit), cutAt_(cutAt), keep_(keep) {}

  void Append(std::u16string_view text);
  void Set(std::u16string_view text);
  void Clear() { Set(u""); }
  const std::u16string& Text() const { return text_; }
  bool Changed() const { return reset_ || !added_.empty(); }

  // {"reset": true, "text": whole} or {"reset": false, "text": appended}; then unchanged again.
  nlohmann::json TakeChange();
  nlohmann::json Whole() const;

 private:
  size_t limit_, cutAt_, keep_;
  std::u16string text_;
  std::u16string added_;
  bool reset_ = false;
};

// UTF-16 to UTF-8 for the page; an unpaired surrogate (a pane cut inside a pair) becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
// Strict UTF-8 to UTF-16; false for anything that is not valid UTF-8.
bool FromUtf8(std::string_view bytes, std::u16string* out);

}  // namespace qb::monitor
