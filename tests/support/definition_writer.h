// The tests' own writer of packed property streams and user protocol definitions, written apart
// from the library's reader: records of text (flag 0x08), 4-byte integers (0x23) and raw bytes
// (0x00, or 0x04 with a 4-byte length), then hexadecimal text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace qb::test {

inline std::string Head(uint8_t flag, const std::string& key) {
  return std::string{static_cast<char>(flag), static_cast<char>(key.size())} + key;
}
inline std::string Le32(uint32_t v) {
  std::string le;
  for (int i = 0; i < 4; ++i) le += static_cast<char>(v >> (8 * i));
  return le;
}
inline std::string TextRec(const std::string& key, const std::string& text) {
  return Head(0x08, key) + static_cast<char>(text.size()) + text;
}
inline std::string IntRec(const std::string& key, int32_t v) {
  return Head(0x23, key) + Le32(static_cast<uint32_t>(v));
}
inline std::string BinRec(const std::string& key, const std::string& bytes) {
  if (bytes.size() < 256) return Head(0x00, key) + static_cast<char>(bytes.size()) + bytes;
  return Head(0x04, key) + Le32(static_cast<uint32_t>(bytes.size())) + bytes;
}
// A map of text records.
inline std::string Texts(std::initializer_list<std::pair<std::string, std::string>> entries) {
  std::string s;
  for (const auto& [k, v] : entries) s += TextRec(k, v);
  return s;
}
// A packet record: its units, then its settings (none when settings is empty).
inline std::string Packet(std::initializer_list<std::string> units, const std::string& settings) {
  std::string s = TextRec("PkunitCnt", std::to_string(units.size()));
  int i = 0;
  for (const auto& u : units) s += BinRec("Pkunit" + std::to_string(i++), u);
  return settings.empty() ? s : s + BinRec("PaktGlobal", settings);
}
inline std::string Definition(const std::string& name, std::initializer_list<std::string> packets) {
  std::string s = TextRec("PrtclName", name) + TextRec("PrtclEditorVer", "1.0") +
                  IntRec("Cnt", static_cast<int32_t>(packets.size()));
  int i = 0;
  for (const auto& p : packets) s += BinRec("Pakt" + std::to_string(i++), p);
  return s;
}
inline std::u16string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::u16string h;
  for (unsigned char c : bytes) {
    h += static_cast<char16_t>(digits[c >> 4]);
    h += static_cast<char16_t>(digits[c & 15]);
  }
  return h;
}

}  // namespace qb::test
