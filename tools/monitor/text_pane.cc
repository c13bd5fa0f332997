#include "monitor/text_pane.h"

namespace qb::monitor {

void TextPane::Append(std::u16string_view text) {
  if (text_.size() >= limit_) return;
  text = text.substr(0, limit_ - text_.size());
  text_ += text;
  added_ += text;
  if (text_.size() >= cutAt_) {
    text_.erase(0, text_.size() - keep_);
    added_.clear();
    reset_ = true;
  }
}

void TextPane::Set(std::u16string_view text) {
  text_ = text.substr(0, limit_);
  added_.clear();
  reset_ = true;
}

nlohmann::json TextPane::TakeChange() {
  nlohmann::json change = {{"reset", reset_}, {"text", ToUtf8(reset_ ? text_ : added_)}};
  reset_ = false;
  added_.clear();
  return change;
}

nlohmann::json TextPane::Whole() const { return {{"reset", true}, {"text", ToUtf8(text_)}}; }

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool FromUtf8(std::string_view bytes, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const int extra = b < 0x80         ? 0
                      : (b >> 5) == 6  ? 1
                      : (b >> 4) == 14 ? 2
                      : (b >> 3) == 30 ? 3
                                       : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= bytes.size()) return false;
    uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = c << 6 | (next & 0x3F);
    }
    static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
    if (c >= 0x10000) {
      *out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      *out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      *out += static_cast<char16_t>(c);
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

}  // namespace qb::monitor
