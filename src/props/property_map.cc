// The PropertyMap's get and set operations. Gets convert between text and integer values the way
// the item and protocol code expects (an integer reads back as decimal text, a text as the number
// it starts with); sets always give the key the kind of the set, so a later get sees the newest
// value.
#include "props/property_map.h"

#include <limits>
#include <vector>

namespace qb {
namespace {

// The alternatives of a separated key list: empty parts inside the list stay, an empty last part
// is dropped (so "A;B;" is A and B, and "A;;B" is A, the empty key and B).
std::vector<std::u16string_view> SplitKeys(std::u16string_view list, char16_t separator) {
  std::vector<std::u16string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = list.find(separator, start);
    if (end == std::u16string_view::npos) break;
    parts.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  if (start < list.size()) parts.push_back(list.substr(start));
  return parts;
}

// Tries each alternative key with get until one succeeds.
template <typename Get>
bool FirstFound(std::u16string_view key, char16_t separator, Get get) {
  if (separator == 0) return get(key);
  for (std::u16string_view alternative : SplitKeys(key, separator)) {
    if (get(alternative)) return true;
  }
  return false;
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// Leading blanks, an optional sign, then decimal digits up to the first other character; 0 when
// there are no digits. Values beyond 32 bits stop at the largest or smallest integer.
int32_t ParseDecimal(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                 : std::numeric_limits<int32_t>::max();
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - u'0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::u16string DecimalText(int32_t value) {
  const std::string ascii = std::to_string(value);
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace

std::shared_ptr<PropertyMap::Table> PropertyMap::CopyNodes(const Table* source,
                                                           const WideKeySet* include,
                                                           const WideKeySet* exclude) {
  auto copies = std::make_shared<Table>();
  if (source == nullptr) return copies;
  for (const auto& [key, node] : *source) {
    if (include != nullptr && include->find(key) == include->end()) continue;
    if (exclude != nullptr && exclude->find(key) != exclude->end()) continue;
    copies->emplace(key, std::make_unique<PropertyNode>(*node));
  }
  return copies;
}

PropertyMap::Table& PropertyMap::Own() {
  if (entries_ == nullptr || entries_.use_count() > 1) entries_ = CopyNodes(entries_.get());
  return *entries_;
}

const PropertyNode* PropertyMap::Find(std::u16string_view key) const {
  if (entries_ == nullptr) return nullptr;
  const auto it = entries_->find(key);
  return it == entries_->end() ? nullptr : it->second.get();
}

std::vector<std::u16string> PropertyMap::Keys() const {
  std::vector<std::u16string> keys;
  if (entries_ == nullptr) return keys;
  keys.reserve(entries_->size());
  for (const auto& entry : *entries_) keys.push_back(entry.first);
  return keys;
}

bool PropertyMap::GetStr(std::u16string_view key, std::u16string& out, char16_t separator) const {
  const bool found = FirstFound(key, separator, [&](std::u16string_view k) {
    const PropertyNode* node = Find(k);
    if (node == nullptr) return false;
    if (node->kind == PropertyNode::kText) {
      out = node->text;
      return true;
    }
    if (node->kind == PropertyNode::kInteger) {
      out = DecimalText(node->integer);
      return true;
    }
    return false;
  });
  if (!found) out.clear();
  return found;
}

std::u16string PropertyMap::GetStr(std::u16string_view key, char16_t separator) const {
  std::u16string out;
  GetStr(key, out, separator);
  return out;
}

bool PropertyMap::GetInt(std::u16string_view key, int32_t* out, char16_t separator) const {
  return FirstFound(key, separator, [&](std::u16string_view k) {
    const PropertyNode* node = Find(k);
    if (node == nullptr) return false;
    int32_t value;
    if (node->kind == PropertyNode::kInteger) {
      value = node->integer;
    } else if (node->kind == PropertyNode::kText) {
      value = ParseDecimal(node->text);
    } else {
      return false;
    }
    if (out != nullptr) *out = value;
    return true;
  });
}

int32_t PropertyMap::GetInt(std::u16string_view key, int32_t defaultValue,
                            char16_t separator) const {
  int32_t value = 0;
  return GetInt(key, &value, separator) ? value : defaultValue;
}

bool PropertyMap::GetBin(std::u16string_view key, ByteBuffer& out, char16_t separator) const {
  return FirstFound(key, separator, [&](std::u16string_view k) {
    const PropertyNode* node = Find(k);
    if (node == nullptr || node->kind != PropertyNode::kBytes) return false;
    out.Assign(node->bytes);
    return true;
  });
}

PropertyNode& PropertyMap::NodeFor(std::u16string_view key) {
  Table& entries = Own();
  auto it = entries.find(key);
  if (it == entries.end()) {
    auto node = std::make_unique<PropertyNode>();
    node->name = std::u16string(key);
    it = entries.emplace(node->name, std::move(node)).first;
  }
  return *it->second;
}

void PropertyMap::SetStr(std::u16string_view key, std::u16string_view text) {
  PropertyNode& node = NodeFor(key);
  // Assigned before the other values are dropped: text may be a view of this node's own text.
  node.text.assign(text);
  node.kind = PropertyNode::kText;
  node.bytes.Free();
  node.integer = 0;
}

void PropertyMap::SetStr8(std::u16string_view key, std::string_view text,
                          const CodePage& codePage) {
  SetStr(key, codePage.ToWide(text));
}

void PropertyMap::SetInt(std::u16string_view key, int32_t value) {
  if (const PropertyNode* held = Find(key);
      held != nullptr && held->kind == PropertyNode::kInteger && held->integer == value) {
    return;
  }
  PropertyNode& node = NodeFor(key);
  node.kind = PropertyNode::kInteger;
  node.integer = value;
  node.text.clear();
  node.bytes.Free();
}

void PropertyMap::SetIntAsStr(std::u16string_view key, int32_t value) {
  SetStr(key, DecimalText(value));
}

void PropertyMap::SetBin(std::u16string_view key, const ByteBuffer& bytes) {
  PropertyNode& node = NodeFor(key);
  node.kind = PropertyNode::kBytes;
  node.bytes.Assign(bytes);
  node.text.clear();
  node.integer = 0;
}

void PropertyMap::SetBin(std::u16string_view key, const uint8_t* bytes, int32_t n) {
  SetBin(key, ByteBuffer(bytes, n));
}

void PropertyMap::RemoveAll() { entries_.reset(); }

void PropertyMap::Assign(const PropertyMap& source, const WideKeySet* include,
                         const WideKeySet* exclude) {
  if (include == nullptr && exclude == nullptr) {
    entries_ = source.entries_;
    return;
  }
  // Built aside, so that a map can be assigned a filtered copy of itself.
  entries_ = CopyNodes(source.entries_.get(), include, exclude);
}

}  // namespace qb
