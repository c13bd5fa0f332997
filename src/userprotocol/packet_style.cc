#include "userprotocol/packet_style.h"

namespace qb {
namespace {

// A setting read as a decimal number: text up to its first non-digit, 0 when absent.
int32_t Number(const PropertyMap& map, std::u16string_view key) { return map.GetInt(key, 0); }

char16_t TextTypeLetter(std::u16string_view type) {
  if (type == u"AscDec") return u'd';
  if (type == u"AscHex") return u'h';
  if (type == u"Str") return u's';
  if (type == u"ByteArray" || type == u"WordArray") return u'b';
  return 0;
}

std::u16string_view BinaryTypeLength(std::u16string_view type) {
  if (type == u"BinByte") return u"1";
  if (type == u"BinWord") return u"2";
  if (type == u"Bin3Byte") return u"3";
  if (type == u"BinDWord") return u"4";
  return {};
}

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

std::u16string VarStyle(const PropertyMap& unit) {
  std::u16string name = unit.GetStr(upkeys::kVarName);
  if (Number(unit, upkeys::kNoLimitMaxVal) == 0)
    name.append(u"~").append(unit.GetStr(upkeys::kMaxVal));
  const std::u16string type = unit.GetStr(upkeys::kVarType);
  if (const char16_t letter = TextTypeLetter(type); letter != 0) {
    std::u16string length = unit.GetStr(upkeys::kElemCnt);
    if (Number(unit, upkeys::kElemCntByVar) != 0) {
      length.append(u"*")
          .append(unit.GetStr(upkeys::kElemCntMultiplier))
          .append(u"~")
          .append(unit.GetStr(upkeys::kMaxElemCnt));
    }
    return name + u"[" + length + letter + u"]";
  }
  if (const auto bytes = BinaryTypeLength(type); !bytes.empty()) {
    return name + u"[" + std::u16string(bytes) + u"n]";
  }
  return name;
}

}  // namespace

std::u16string UnitStyle(const PropertyMap& unit) {
  const std::u16string valType = unit.GetStr(upkeys::kValType);
  if (valType == u"Var") return VarStyle(unit);
  if (valType != u"Const") return {};
  const std::u16string type = unit.GetStr(upkeys::kConstType);
  const std::u16string value = unit.GetStr(upkeys::kConstVal);
  if (type == u"Char") return u"'" + value + u"'";
  if (type == u"Dec") return value;
  if (type == u"Hex") return u"0x" + value;
  return {};
}

std::u16string PacketStyle(const UserPacket& packet) {
  std::u16string text;
  for (size_t i = 0; i < packet.units.size(); ++i) {
    if (i > 0) text += u',';
    text += UnitStyle(*packet.units[i]);
  }
  return text;
}

void PacketVariables(const UserPacket& packet, std::set<std::u16string>& names,
                     std::set<std::u16string>& wordArrays) {
  for (const auto& unit : packet.units) {
    if (unit->GetStr(upkeys::kValType) != u"Var") continue;
    const std::u16string name = Lower(unit->GetStr(upkeys::kVarName));
    names.insert(name);
    if (unit->GetStr(upkeys::kVarType) == u"WordArray") wordArrays.insert(name);
  }
}

std::u16string WordArrLoVars(const UserPacket& packet) {
  std::set<std::u16string> names, wordArrays;
  PacketVariables(packet, names, wordArrays);
  std::u16string joined;
  for (const auto& name : wordArrays) {
    if (!joined.empty()) joined += u'|';
    joined += name;
  }
  return joined;
}

PacketFrame FrameOf(const UserPacket& packet) {
  PacketFrame frame;
  frame.styleText = PacketStyle(packet);
  frame.highFirst = packet.GetStr(upkeys::kByteOrder) == u"HiFirst";
  frame.checksum = Number(packet, upkeys::kEnableCksum) != 0;
  if (frame.checksum) {
    const int32_t start = Number(packet, upkeys::kCksumStartOrder);
    const int32_t end = Number(packet, upkeys::kCksumEndOrder);
    frame.checksumVariable = packet.GetStr(upkeys::kCksumVarName);
    frame.checksumFirst = static_cast<int32_t>(static_cast<int64_t>(start) - 1);
    frame.checksumCount = static_cast<int32_t>(static_cast<int64_t>(end) - start + 1);
    frame.checksumMethod = Lower(packet.GetStr(upkeys::kCksumMethod));
  }
  return frame;
}

bool CompilePacket(const PacketFrame& frame, Style& style) {
  if (!style.MakeStyle(frame.styleText, frame.highFirst)) return false;
  if (frame.checksum) {
    style.SetChecksumRange(frame.checksumVariable, frame.checksumFirst, frame.checksumCount,
                           frame.checksumMethod);
  }
  return true;
}

bool IsRxPacket(const UserPacket& packet) { return packet.GetStr(upkeys::kCommDirection) == u"Rx"; }

}  // namespace qb
