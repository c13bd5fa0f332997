// The table of named values that a Style builds frames from and that parsing fills: texts (integers
// are kept as their decimal text, marked as numbers so that a reply can be reported with the right
// type), byte values and lists of texts. Inside a repeated group the names carry the round:
// Data:0, Data:1, ...
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qb {

// Lets the tables keyed by std::u16string be searched with a u16string_view, without a copy.
// Value names are short (Data:15), so a simple FNV-1a over the characters is the quickest hash.
struct FrameKeyHash {
  using is_transparent = void;
  size_t operator()(std::u16string_view key) const {
    uint64_t hash = 14695981039346656037u;
    for (char16_t c : key) hash = (hash ^ c) * 1099511628211u;
    return static_cast<size_t>(hash);
  }
};
struct FrameKeyEqual {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const { return a == b; }
};
template <class Value>
using FrameMap = std::unordered_map<std::u16string, Value, FrameKeyHash, FrameKeyEqual>;

class FrameValues {
 public:
  // The text under name, or null.
  const std::u16string* FindStr(std::u16string_view name) const;
  // The text, or "" with *found = false.
  std::u16string GetStr(std::u16string_view name, bool* found = nullptr) const;
  // Stores the text; a number mark that the name already has stays.
  void SetStr(std::u16string_view name, std::u16string_view text);
  // The text read as a decimal integer (0 when absent or without digits); *found tells whether the
  // name has a text.
  int32_t GetInt(std::u16string_view name, bool* found = nullptr) const;
  // Marks the name as a number and stores the decimal text.
  void SetInt(std::u16string_view name, int32_t value);
  bool IsNumber(std::u16string_view name) const;

  // Replaces any earlier byte value of the name.
  void SetBin(std::u16string_view name, std::span<const uint8_t> bytes);
  // True and a copy of the bytes, or false with bytes untouched.
  bool GetBin(std::u16string_view name, std::vector<uint8_t>& bytes) const;
  const std::vector<uint8_t>* FindBin(std::u16string_view name) const;

  void SetTextArray(std::u16string_view name, std::vector<std::u16string> items);
  const std::vector<std::u16string>* FindTextArray(std::u16string_view name) const;

  // The texts become a copy of other's texts (the earlier texts are always dropped); the byte
  // values are emptied first only with clearBinaries; then every byte value of other is copied in.
  // Number marks and text arrays are not copied.
  void CopyFrom(const FrameValues& other, bool clearBinaries);
  void Clear();

  size_t TextCount() const;
  // Every text value with its number mark, in no particular order.
  void ForEachText(const std::function<void(std::u16string_view name, std::u16string_view text,
                                            bool isNumber)>& visit) const;
  const FrameMap<std::vector<uint8_t>>& Binaries() const { return binaries_; }
  const FrameMap<std::vector<std::u16string>>& TextArrays() const { return textArrays_; }

 private:
  // A name may hold a mark without a text (after CopyFrom dropped its text); the mark then applies
  // when a text is stored again.
  struct TextEntry {
    std::u16string text;
    bool hasText = false;
    bool number = false;
  };
  FrameMap<TextEntry> texts_;
  FrameMap<std::vector<uint8_t>> binaries_;
  FrameMap<std::vector<std::u16string>> textArrays_;
};

}  // namespace qb
