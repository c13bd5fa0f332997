// See frame_values.h.
#include "style/frame_values.h"

#include "style/style_text.h"

namespace qb {
namespace {

template <class Map>
typename Map::iterator FindOrInsert(Map& map, std::u16string_view name) {
  auto it = map.find(name);
  if (it == map.end()) it = map.emplace(std::u16string(name), typename Map::mapped_type{}).first;
  return it;
}

// For names that are usually new (a parse fills a fresh table): one hash instead of two.
template <class Map>
typename Map::iterator InsertOrFind(Map& map, std::u16string_view name) {
  return map.try_emplace(std::u16string(name)).first;
}

}  // namespace

const std::u16string* FrameValues::FindStr(std::u16string_view name) const {
  const auto it = texts_.find(name);
  return it != texts_.end() && it->second.hasText ? &it->second.text : nullptr;
}

std::u16string FrameValues::GetStr(std::u16string_view name, bool* found) const {
  const std::u16string* text = FindStr(name);
  if (found != nullptr) *found = text != nullptr;
  return text != nullptr ? *text : std::u16string();
}

void FrameValues::SetStr(std::u16string_view name, std::u16string_view text) {
  TextEntry& entry = InsertOrFind(texts_, name)->second;
  entry.text.assign(text);
  entry.hasText = true;
}

int32_t FrameValues::GetInt(std::u16string_view name, bool* found) const {
  const std::u16string* text = FindStr(name);
  if (found != nullptr) *found = text != nullptr;
  return text != nullptr ? style_text::ParseDecimal(*text) : 0;
}

void FrameValues::SetInt(std::u16string_view name, int32_t value) {
  TextEntry& entry = InsertOrFind(texts_, name)->second;
  entry.text.clear();
  style_text::AppendDecimal(entry.text, value);
  entry.hasText = true;
  entry.number = true;
}

bool FrameValues::IsNumber(std::u16string_view name) const {
  const auto it = texts_.find(name);
  return it != texts_.end() && it->second.number;
}

void FrameValues::SetBin(std::u16string_view name, std::span<const uint8_t> bytes) {
  FindOrInsert(binaries_, name)->second.assign(bytes.begin(), bytes.end());
}

bool FrameValues::GetBin(std::u16string_view name, std::vector<uint8_t>& bytes) const {
  const std::vector<uint8_t>* stored = FindBin(name);
  if (stored == nullptr) return false;
  bytes = *stored;
  return true;
}

const std::vector<uint8_t>* FrameValues::FindBin(std::u16string_view name) const {
  const auto it = binaries_.find(name);
  return it != binaries_.end() ? &it->second : nullptr;
}

void FrameValues::SetTextArray(std::u16string_view name, std::vector<std::u16string> items) {
  FindOrInsert(textArrays_, name)->second = std::move(items);
}

const std::vector<std::u16string>* FrameValues::FindTextArray(std::u16string_view name) const {
  const auto it = textArrays_.find(name);
  return it != textArrays_.end() ? &it->second : nullptr;
}

void FrameValues::CopyFrom(const FrameValues& other, bool clearBinaries) {
  if (&other == this) {
    if (clearBinaries) binaries_.clear();  // copying the own byte values back changes nothing
    return;
  }
  // Drop the own texts but keep the names that carry a mark.
  for (auto it = texts_.begin(); it != texts_.end();) {
    if (it->second.number) {
      it->second.text.clear();
      it->second.hasText = false;
      ++it;
    } else {
      it = texts_.erase(it);
    }
  }
  for (const auto& [name, entry] : other.texts_) {
    if (!entry.hasText) continue;
    TextEntry& own = FindOrInsert(texts_, name)->second;
    own.text = entry.text;
    own.hasText = true;
  }
  if (clearBinaries) binaries_.clear();
  for (const auto& [name, bytes] : other.binaries_) FindOrInsert(binaries_, name)->second = bytes;
}

void FrameValues::Clear() {
  // Clearing an empty table still wipes its buckets, and a receiver clears once per Style tried.
  if (texts_.empty() && binaries_.empty() && textArrays_.empty()) return;
  texts_.clear();
  binaries_.clear();
  textArrays_.clear();
}

size_t FrameValues::TextCount() const {
  size_t count = 0;
  for (const auto& entry : texts_) count += entry.second.hasText ? 1 : 0;
  return count;
}

void FrameValues::ForEachText(
    const std::function<void(std::u16string_view, std::u16string_view, bool)>& visit) const {
  for (const auto& [name, entry] : texts_) {
    if (entry.hasText) visit(name, entry.text, entry.number);
  }
}

}  // namespace qb
