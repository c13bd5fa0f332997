// The store of named values that query items and protocol definitions are made of: each key holds
// one text, byte or integer value, and a map can be filled from the packed property stream in
// which a protocol definition arrives from the host. Copies share their values until one of them
// changes: the scheduler copies every item it queues and keeps a copy of every request it sends,
// and a copy per request must not cost a panel's CPU an allocation per property.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/code_page.h"
#include "props/byte_buffer.h"

namespace qb {

struct PropertyNode {
  enum Kind : int32_t { kText = 1, kBytes = 2, kInteger = 3 };
  std::u16string name;
  int32_t kind = kInteger;
  std::u16string text;
  ByteBuffer bytes;
  int32_t integer = 0;
};

// Hash and equality that let a map keyed by std::u16string be searched with a u16string_view.
struct WideHash {
  using is_transparent = void;
  size_t operator()(std::u16string_view s) const { return std::hash<std::u16string_view>{}(s); }
};
struct WideEqual {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const { return a == b; }
};
using WideKeySet = std::unordered_set<std::u16string, WideHash, WideEqual>;

class PropertyMap {
 public:
  PropertyMap() = default;
  PropertyMap(const PropertyMap& other) = default;  // shares the nodes until either side changes
  PropertyMap& operator=(const PropertyMap& other) = default;
  PropertyMap(PropertyMap&&) noexcept = default;
  PropertyMap& operator=(PropertyMap&&) noexcept = default;
  virtual ~PropertyMap() = default;

  // A nonzero separator makes key a list of alternative keys, tried in order.
  // Text node: its text; integer node: its decimal text. Bytes or missing: false and out = "".
  bool GetStr(std::u16string_view key, std::u16string& out, char16_t separator = 0) const;
  std::u16string GetStr(std::u16string_view key, char16_t separator = 0) const;
  // Integer node: its value; text node: the text read as a decimal integer (0 without digits).
  // Bytes or missing: false, *out untouched.
  bool GetInt(std::u16string_view key, int32_t* out, char16_t separator = 0) const;
  int32_t GetInt(std::u16string_view key, int32_t defaultValue, char16_t separator = 0) const;
  // Only a bytes node: out becomes a copy of its bytes. Otherwise false and out untouched.
  bool GetBin(std::u16string_view key, ByteBuffer& out, char16_t separator = 0) const;

  void SetStr(std::u16string_view key, std::u16string_view text);
  // 8-bit text, converted with the code page.
  void SetStr8(std::u16string_view key, std::string_view text, const CodePage& codePage);
  // Setting the integer a key already holds changes nothing (and so does not unshare a copy).
  void SetInt(std::u16string_view key, int32_t value);
  void SetIntAsStr(std::u16string_view key, int32_t value);
  void SetBin(std::u16string_view key, const ByteBuffer& bytes);
  void SetBin(std::u16string_view key, const uint8_t* bytes, int32_t n);

  void RemoveAll();
  // RemoveAll, then copies the source's nodes whose key is in include (when given) and not in
  // exclude (when given).
  void Assign(const PropertyMap& source, const WideKeySet* include = nullptr,
              const WideKeySet* exclude = nullptr);
  // RemoveAll, then reads the packed property stream; false on a malformed stream (records read
  // before the fault stay).
  bool LoadStream(const ByteBuffer& source, const CodePage& codePage);

  // The node stays valid until this map is changed or assigned.
  const PropertyNode* Find(std::u16string_view key) const;
  size_t Count() const { return entries_ == nullptr ? 0 : entries_->size(); }
  // Every key, in no particular order.
  std::vector<std::u16string> Keys() const;

 private:
  using Table =
      std::unordered_map<std::u16string, std::unique_ptr<PropertyNode>, WideHash, WideEqual>;

  PropertyNode& NodeFor(std::u16string_view key);
  // A table of copies of source's nodes (none when null), filtered as for Assign.
  static std::shared_ptr<Table> CopyNodes(const Table* source, const WideKeySet* include = nullptr,
                                          const WideKeySet* exclude = nullptr);
  // The table this map may change: its own, copied first while another map shares it.
  Table& Own();

  // Null while empty. Never changed while shared: a change goes to a copy (Own).
  std::shared_ptr<Table> entries_;
};

}  // namespace qb
