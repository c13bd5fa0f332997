// Feeds arbitrary bytes to the property stream reader, the one parser that takes a protocol
// definition straight from the host, then reads every stored key back with every getter and loads
// each bytes value again as a nested stream, as the user protocol does with its packet units.
// Run with -max_len=2048: a text record is at most a few hundred bytes (one-byte key and text
// lengths), a longer bytes record is read as a nested stream like the outer one, and the reading
// back goes three streams deep; 2 KB holds several records at every depth.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/code_page.h"
#include "props/property_map.h"

namespace {

// A found key answers either the text and integer getters or the bytes getter, never both.
void ReadBack(const qb::PropertyMap& map, const qb::CodePage& codePage, int depth) {
  for (const std::u16string& key : map.Keys()) {
    if (key.empty()) __builtin_trap();
    std::u16string text;
    int32_t value = 0;
    qb::ByteBuffer bytes;
    const bool isText = map.GetStr(key, text);
    const bool isInt = map.GetInt(key, &value);
    const bool isBin = map.GetBin(key, bytes);
    if (isText != isInt || isText == isBin) __builtin_trap();
    map.GetStr(key + u";" + key, u';');
    if (isBin && depth < 3) {
      qb::PropertyMap nested;
      nested.LoadStream(bytes, codePage);
      ReadBack(nested, codePage, depth + 1);
    }
  }
  const qb::PropertyMap copy(map);
  if (copy.Count() != map.Count()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
  static const qb::CodePage kAscii("ANSI_X3.4-1968");
  static const qb::CodePage kKorean("CP949");
  const qb::ByteBuffer source(data, static_cast<int32_t>(size));
  for (const qb::CodePage* codePage : {&kAscii, &kKorean}) {
    qb::PropertyMap map;
    map.LoadStream(source, *codePage);
    ReadBack(map, *codePage, 0);
  }
  return 0;
}
