#include "userprotocol/values_text.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "props/byte_buffer.h"
#include "userprotocol/definition.h"

namespace qb {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Parts of text between separators; an empty separator gives the whole text.
std::vector<std::u16string_view> Split(std::u16string_view text, std::u16string_view separator) {
  std::vector<std::u16string_view> parts;
  if (separator.empty()) return {text};
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::u16string_view::npos;
       start = at + separator.size()) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// Leading blanks, an optional sign, then digits up to the first other character; saturates.
int32_t Decimal(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - u'0'), int64_t{INT32_MAX} + 1);
  }
  if (negative) value = -value;
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// Hexadecimal pairs to the text of their codes; false for an odd length.
bool HexToText(std::u16string_view data, std::u16string& text) {
  ByteBuffer bytes;
  if (!HexTextToBytes(data, bytes)) return false;
  text.clear();
  for (uint8_t b : bytes.Bytes()) text += static_cast<char16_t>(b);
  return true;
}

void ReadEntry(std::u16string_view name, char16_t type, std::u16string_view data,
               std::u16string_view delimiter, Style& style) {
  switch (type) {
    case u'n':
      style.SetInt(name, Decimal(data));
      return;
    case u's': {
      const size_t cut = delimiter.empty() ? std::u16string_view::npos : name.find(delimiter);
      if (cut != std::u16string_view::npos && data.size() % 2 == 0) {
        const std::u16string_view variable = name.substr(0, cut);
        std::vector<uint8_t> bytes;
        for (std::u16string_view item : Split(data, delimiter)) {
          std::u16string text;
          HexToText(item, text);
          bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(Decimal(text)) & 0xFF));
        }
        if (style.IsDeclared(variable)) style.Values().SetBin(variable, bytes);
        return;
      }
      std::u16string text;
      if (HexToText(data, text)) style.SetStr(name, text);
      return;
    }
    case u'b': {
      ByteBuffer bytes;
      if (HexTextToBytes(data, bytes) && style.IsDeclared(name)) {
        style.Values().SetBin(name, bytes.Bytes());
      }
      return;
    }
    case u'a': {
      std::vector<std::u16string> items;
      for (std::u16string_view item : Split(data, u";")) {
        std::u16string text;
        HexToText(item, text);  // an odd item stays empty
        items.push_back(std::move(text));
      }
      if (style.IsDeclared(name)) style.Values().SetTextArray(name, std::move(items));
      return;
    }
    default:
      return;
  }
}

void AppendHex(std::u16string& out, uint8_t byte) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

void AppendTextHex(std::u16string& out, std::u16string_view text) {
  for (char16_t c : text) AppendHex(out, static_cast<uint8_t>(c & 0xFF));
}

template <class Map>
std::vector<typename Map::const_pointer> Sorted(const Map& map) {
  std::vector<typename Map::const_pointer> entries;
  for (const auto& entry : map) entries.push_back(&entry);
  std::sort(entries.begin(), entries.end(), [](auto a, auto b) { return a->first < b->first; });
  return entries;
}

}  // namespace

void ReadValuesText(std::u16string_view text, std::u16string_view delimiter, Style& style) {
  for (std::u16string_view entry : Split(text, u"&")) {
    const std::vector<std::u16string_view> parts = Split(entry, u"=");
    if (parts.size() != 2) continue;
    const std::u16string_view name = Trim(parts[0]);
    const std::u16string_view value = Trim(parts[1]);
    if (name.empty() || value.size() < 2) continue;
    ReadEntry(name, value[0], value.substr(1), delimiter, style);
  }
}

std::u16string WriteValuesText(const FrameValues& values) {
  struct Text {
    std::u16string name, text;
    bool number;
  };
  std::vector<Text> texts;
  values.ForEachText([&](std::u16string_view name, std::u16string_view text, bool number) {
    texts.push_back({std::u16string(name), std::u16string(text), number});
  });
  std::sort(texts.begin(), texts.end(),
            [](const Text& a, const Text& b) { return a.name < b.name; });

  std::u16string out;
  auto begin = [&out](std::u16string_view name, char16_t type) {
    if (!out.empty()) out += u'&';
    out.append(name);
    out += u'=';
    out += type;
  };
  for (const Text& t : texts) {
    begin(t.name, t.number ? u'n' : u's');
    if (t.number) {
      out += t.text;
    } else {
      AppendTextHex(out, t.text);
    }
  }
  for (const auto* entry : Sorted(values.Binaries())) {
    begin(entry->first, u'b');
    for (uint8_t b : entry->second) AppendHex(out, b);
  }
  for (const auto* entry : Sorted(values.TextArrays())) {
    begin(entry->first, u'a');
    for (size_t i = 0; i < entry->second.size(); ++i) {
      if (i > 0) out += u';';
      AppendTextHex(out, entry->second[i]);
    }
  }
  return out;
}

}  // namespace qb
