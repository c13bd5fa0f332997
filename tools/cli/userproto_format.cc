// Reading and writing the readable definition form. Reading goes through toml11, whose values know
// their place in the file, so every mistake is reported at its line. The packed stream is written
// here; decoding loads the text with the library's own loader, so that what decode shows is what
// the library sees.
#include "cli/userproto_format.h"

#include <algorithm>
#include <set>
#include <toml.hpp>

#include "platform/quiet_platform.h"
#include "userprotocol/definition.h"

namespace qb::cli {
namespace {

const std::set<std::string> kTextTypes = {"AscDec", "AscHex", "Str", "ByteArray", "WordArray"};
const std::set<std::string> kBinaryTypes = {"BinByte", "BinWord", "Bin3Byte", "BinDWord"};
const std::set<std::string> kMethods = {"plus", "xor", "lrc", "crc16-ibm"};

struct Mistake {
  std::string text;
};

[[noreturn]] void Fail(const toml::value& at, const std::string& what,
                       const std::string& expected) {
  throw Mistake{toml::format_error(what, at, "expected " + expected)};
}

void OnlyKeys(const toml::value& table, const std::set<std::string>& allowed) {
  for (const auto& [key, value] : table.as_table()) {
    if (allowed.count(key) == 0) {
      std::string list;
      for (const auto& k : allowed) list += (list.empty() ? "" : ", ") + k;
      Fail(value, "unknown key '" + key + "'", "one of " + list);
    }
  }
}

std::string Text(const toml::value& table, const std::string& key, const std::string& expected) {
  const toml::value& v = table.at(key);
  if (!v.is_string()) Fail(v, "'" + key + "' is not a text", expected);
  return v.as_string().str;
}

std::optional<std::string> OptText(const toml::value& t, const std::string& key,
                                   const std::string& expected) {
  if (!t.contains(key)) return std::nullopt;
  return Text(t, key, expected);
}

bool Digits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A whole number given as an integer or as digits.
std::optional<std::string> Number(const toml::value& t, const std::string& key) {
  if (!t.contains(key)) return std::nullopt;
  const toml::value& v = t.at(key);
  if (v.is_integer() && v.as_integer() >= 0) return std::to_string(v.as_integer());
  if (v.is_string() && Digits(v.as_string().str)) return v.as_string().str;
  Fail(v, "'" + key + "' is not a whole number", "a number 0 or more");
}

std::string OneOf(const toml::value& t, const std::string& key, const std::set<std::string>& set,
                  const std::string& fallback) {
  if (!t.contains(key)) return fallback;
  std::string list;
  for (const auto& k : set) list += (list.empty() ? "\"" : ", \"") + k + "\"";
  const std::string value = Text(t, key, "one of " + list);
  if (set.count(value) == 0) Fail(t.at(key), "'" + key + "' has no such value", "one of " + list);
  return value;
}

UnitSpec ReadUnit(const toml::value& u) {
  if (!u.is_table()) Fail(u, "a unit is not a table", "{ char = ... } or { var = ... }");
  UnitSpec unit;
  int kinds = 0;
  for (const char* kind : {"char", "dec", "hex", "var"}) {
    if (u.contains(kind)) {
      unit.kind = kind;
      ++kinds;
    }
  }
  if (kinds != 1) Fail(u, "a unit names no kind or several", "exactly one of char, dec, hex, var");
  if (unit.kind != "var") {
    OnlyKeys(u, {unit.kind});
    unit.value = Text(u, unit.kind, "a text");
    const bool ok = unit.kind == "char" ? unit.value.size() == 1
                    : unit.kind == "dec"
                        ? Digits(unit.value)
                        : unit.value.size() == 2 &&
                              std::all_of(unit.value.begin(), unit.value.end(), ::isxdigit);
    if (!ok) {
      Fail(u.at(unit.kind), "bad constant",
           unit.kind == "char"  ? "one character"
           : unit.kind == "dec" ? "decimal digits"
                                : "two hexadecimal digits");
    }
    return unit;
  }
  OnlyKeys(u, {"var", "type", "count", "count_var", "multiplier", "max_count", "max"});
  unit.value = Text(u, "var", "the variable's name");
  if (unit.value.empty()) Fail(u.at("var"), "empty variable name", "a name");
  std::set<std::string> types = kTextTypes;
  types.insert(kBinaryTypes.begin(), kBinaryTypes.end());
  if (!u.contains("type")) Fail(u, "a variable without a type", "type = one of its types");
  unit.type = OneOf(u, "type", types, "");
  unit.max = OptText(u, "max", "the upper bound as text");
  unit.count = Number(u, "count");
  unit.countVar = OptText(u, "count_var", "the name of the count variable");
  if (kBinaryTypes.count(unit.type) != 0) {
    if (unit.count || unit.countVar) Fail(u, "a binary variable with a count", "no count");
    return unit;
  }
  if (unit.count.has_value() == unit.countVar.has_value()) {
    Fail(u, "a text variable needs its length", "either count or count_var");
  }
  if (unit.countVar) {
    unit.multiplier = Number(u, "multiplier").value_or("1");
    unit.maxCount = Number(u, "max_count");
    if (!unit.maxCount) Fail(u, "count_var without max_count", "max_count = the largest count");
  } else if (u.contains("multiplier") || u.contains("max_count")) {
    Fail(u, "multiplier or max_count with a fixed count", "them only with count_var");
  }
  return unit;
}

PacketSpec ReadPacket(const toml::value& p) {
  OnlyKeys(p, {"name", "direction", "byte_order", "checksum", "units"});
  PacketSpec packet;
  if (!p.contains("name")) Fail(p, "a packet without a name", "name = \"...\"");
  packet.name = Text(p, "name", "the packet's name");
  packet.direction = OneOf(p, "direction", {"Tx", "Rx"}, "Tx");
  packet.byteOrder = OneOf(p, "byte_order", {"HiFirst", "LoFirst"}, "HiFirst");
  if (p.contains("checksum")) {
    const toml::value& c = p.at("checksum");
    if (!c.is_table()) Fail(c, "checksum is not a table", "{ method, first, last, variable }");
    OnlyKeys(c, {"method", "first", "last", "variable"});
    ChecksumSpec cs;
    cs.method = OneOf(c, "method", kMethods, "plus");
    const auto first = Number(c, "first"), last = Number(c, "last");
    if (!first || !last || !c.contains("variable")) {
      Fail(c, "incomplete checksum", "first, last (unit numbers from 1) and variable");
    }
    cs.first = *first;
    cs.last = *last;
    cs.variable = Text(c, "variable", "the checksum variable's name");
    packet.checksum = cs;
  }
  if (!p.contains("units") || !p.at("units").is_array()) {
    Fail(p, "a packet without units", "units = [ ... ]");
  }
  for (const auto& u : p.at("units").as_array()) packet.units.push_back(ReadUnit(u));
  return packet;
}

// --- the packed stream ---

std::string Le32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}
std::string Head(uint8_t flag, const std::string& key) {
  return std::string(1, static_cast<char>(flag)) + static_cast<char>(key.size()) + key;
}
std::string TextRecord(const std::string& key, const std::string& text) {
  if (text.size() < 256) return Head(0x08, key) + static_cast<char>(text.size()) + text;
  return Head(0x0C, key) + Le32(static_cast<uint32_t>(text.size())) + text;
}
std::string BinRecord(const std::string& key, const std::string& bytes) {
  if (bytes.size() < 256) return Head(0x00, key) + static_cast<char>(bytes.size()) + bytes;
  return Head(0x04, key) + Le32(static_cast<uint32_t>(bytes.size())) + bytes;
}

std::string UnitRecord(const UnitSpec& u) {
  if (u.kind != "var") {
    const std::string type = u.kind == "char" ? "Char" : u.kind == "dec" ? "Dec" : "Hex";
    return TextRecord("^ValType", "Const") + TextRecord("^ConstType", type) +
           TextRecord("^ConstVal", u.value);
  }
  std::string r = TextRecord("^ValType", "Var") + TextRecord("^VarName", u.value) +
                  TextRecord("^VarType", u.type);
  if (u.count) r += TextRecord("^ElemCnt", *u.count) + TextRecord("^ElemCntByVar", "0");
  if (u.countVar) {
    r += TextRecord("^ElemCnt", *u.countVar) + TextRecord("^ElemCntByVar", "1") +
         TextRecord("^ElemCntMultiplier", *u.multiplier) + TextRecord("^MaxElemCnt", *u.maxCount);
  }
  r += TextRecord("^NoLimitMaxVal", u.max ? "0" : "1");
  if (u.max) r += TextRecord("^MaxVal", *u.max);
  return r;
}

std::string PacketRecord(const PacketSpec& p) {
  std::string r = TextRecord("PkunitCnt", std::to_string(p.units.size()));
  for (size_t i = 0; i < p.units.size(); ++i) {
    r += BinRecord("Pkunit" + std::to_string(i), UnitRecord(p.units[i]));
  }
  const ChecksumSpec cs = p.checksum.value_or(ChecksumSpec{"PLUS", "1", "1", ""});
  const std::string settings =
      TextRecord("^PaktName", p.name) + TextRecord("^ByteOrder", p.byteOrder) +
      TextRecord("^CommDirection", p.direction) +
      TextRecord("^EnableCksum", p.checksum ? "1" : "0") +
      TextRecord("^CksumStartOrder", cs.first) + TextRecord("^CksumEndOrder", cs.last) +
      TextRecord("^CksumVarName", cs.variable) + TextRecord("^CksumMethod", cs.method);
  return r + BinRecord("PaktGlobal", settings);
}

std::string Narrow(const std::u16string& text) {
  std::string s;
  for (char16_t c : text) s += static_cast<char>(c & 0xFF);
  return s;
}

std::string Quoted(const std::string& s) { return toml::format(toml::value(s)); }

}  // namespace

std::optional<DefinitionSpec> ReadDefinitionFile(const std::string& path, std::string& error) {
  try {
    const toml::value root = toml::parse(path);
    OnlyKeys(root, {"protocol", "editor_version", "packet"});
    DefinitionSpec def;
    if (!root.contains("protocol")) Fail(root, "no protocol name", "protocol = \"...\"");
    def.protocol = Text(root, "protocol", "the protocol's name");
    def.editorVersion = OptText(root, "editor_version", "a text").value_or("quillbox");
    if (root.contains("packet")) {
      const toml::value& packets = root.at("packet");
      if (!packets.is_array()) Fail(packets, "packet is not a list", "[[packet]] tables");
      for (const auto& p : packets.as_array()) {
        if (!p.is_table()) Fail(p, "a packet is not a table", "[[packet]]");
        def.packets.push_back(ReadPacket(p));
      }
    }
    return def;
  } catch (const Mistake& m) {
    error = m.text;
  } catch (const std::exception& e) {
    error = e.what();
  }
  return std::nullopt;
}

std::string EncodeDefinition(const DefinitionSpec& def) {
  std::string s = TextRecord("PrtclName", def.protocol) +
                  TextRecord("PrtclEditorVer", def.editorVersion) + Head(0x23, "Cnt") +
                  Le32(static_cast<uint32_t>(def.packets.size()));
  for (size_t i = 0; i < def.packets.size(); ++i) {
    s += BinRecord("Pakt" + std::to_string(i), PacketRecord(def.packets[i]));
  }
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : s) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::optional<DefinitionSpec> DecodeDefinition(const std::string& hex, std::string& error) {
  QuietPlatform platform;
  UserProtocol protocol;
  if (protocol.Load(std::u16string(hex.begin(), hex.end()), platform) != 1) {
    error = "the library does not load this definition text";
    return std::nullopt;
  }
  DefinitionSpec def{Narrow(protocol.Name()), Narrow(protocol.EditorVersion()), {}};
  for (const auto& packet : protocol.Packets()) {
    auto get = [&](const PropertyMap& m, std::u16string_view key) { return Narrow(m.GetStr(key)); };
    PacketSpec p{get(*packet, upkeys::kPaktName),
                 get(*packet, upkeys::kCommDirection),
                 get(*packet, upkeys::kByteOrder),
                 std::nullopt,
                 {}};
    if (packet->GetInt(upkeys::kEnableCksum, 0) != 0) {
      p.checksum =
          ChecksumSpec{get(*packet, upkeys::kCksumMethod), get(*packet, upkeys::kCksumStartOrder),
                       get(*packet, upkeys::kCksumEndOrder), get(*packet, upkeys::kCksumVarName)};
    }
    for (const auto& unit : packet->units) {
      UnitSpec u;
      const std::string valType = get(*unit, upkeys::kValType);
      const std::string constType = get(*unit, upkeys::kConstType);
      if (valType == "Const" && (constType == "Char" || constType == "Dec" || constType == "Hex")) {
        u.kind = constType == "Char" ? "char" : constType == "Dec" ? "dec" : "hex";
        u.value = get(*unit, upkeys::kConstVal);
      } else if (valType == "Var") {
        u.kind = "var";
        u.value = get(*unit, upkeys::kVarName);
        u.type = get(*unit, upkeys::kVarType);
        if (unit->GetInt(upkeys::kNoLimitMaxVal, 0) == 0) u.max = get(*unit, upkeys::kMaxVal);
        if (unit->Find(upkeys::kElemCnt) != nullptr) {
          if (unit->GetInt(upkeys::kElemCntByVar, 0) != 0) {
            u.countVar = get(*unit, upkeys::kElemCnt);
            u.multiplier = get(*unit, upkeys::kElemCntMultiplier);
            u.maxCount = get(*unit, upkeys::kMaxElemCnt);
          } else {
            u.count = get(*unit, upkeys::kElemCnt);
          }
        }
      } else {
        error = "packet \"" + p.name + "\": a unit of value type \"" + valType +
                "\" has no readable form";
        return std::nullopt;
      }
      p.units.push_back(std::move(u));
    }
    def.packets.push_back(std::move(p));
  }
  return def;
}

std::string WriteReadable(const DefinitionSpec& def) {
  std::string out = "protocol = " + Quoted(def.protocol) +
                    "\neditor_version = " + Quoted(def.editorVersion) + "\n";
  auto number = [](const std::string& s) {
    return Digits(s) && s.size() < 10 && (s == "0" || s[0] != '0') ? s : Quoted(s);
  };
  for (const PacketSpec& p : def.packets) {
    out += "\n[[packet]]\nname = " + Quoted(p.name) + "\ndirection = " + Quoted(p.direction) +
           "\nbyte_order = " + Quoted(p.byteOrder) + "\n";
    if (p.checksum) {
      out += "checksum = { method = " + Quoted(p.checksum->method) +
             ", first = " + number(p.checksum->first) + ", last = " + number(p.checksum->last) +
             ", variable = " + Quoted(p.checksum->variable) + " }\n";
    }
    out += "units = [\n";
    for (const UnitSpec& u : p.units) {
      out += "  { " + u.kind + " = " + Quoted(u.value);
      if (u.kind == "var") {
        out += ", type = " + Quoted(u.type);
        if (u.count) out += ", count = " + number(*u.count);
        if (u.countVar) {
          out += ", count_var = " + Quoted(*u.countVar) +
                 ", multiplier = " + number(*u.multiplier) + ", max_count = " + number(*u.maxCount);
        }
        if (u.max) out += ", max = " + Quoted(*u.max);
      }
      out += " },\n";
    }
    out += "]\n";
  }
  return out;
}

}  // namespace qb::cli
