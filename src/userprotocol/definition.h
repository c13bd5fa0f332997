// The user protocol: a protocol that the host describes instead of choosing a built-in one. The
// host hands over one definition text (a packed property stream written as hexadecimal pairs) that
// names the protocol and lists its packets; each packet is a list of units (constants and
// variables) with packet-wide settings (byte order, direction, checksum). The engine keeps one
// definition, sends its Tx packets as query items and registers its Rx packets for reception.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "props/property_map.h"

namespace qb {

// Keys of the definition text.
namespace upkeys {
inline constexpr std::u16string_view kPrtclName = u"PrtclName";
inline constexpr std::u16string_view kPrtclEditorVer = u"PrtclEditorVer";
inline constexpr std::u16string_view kCnt = u"Cnt";
inline constexpr std::u16string_view kPakt = u"Pakt";
inline constexpr std::u16string_view kPkunitCnt = u"PkunitCnt";
inline constexpr std::u16string_view kPkunit = u"Pkunit";
inline constexpr std::u16string_view kPaktGlobal = u"PaktGlobal";
// Packet settings.
inline constexpr std::u16string_view kPaktName = u"^PaktName";
inline constexpr std::u16string_view kByteOrder = u"^ByteOrder";
inline constexpr std::u16string_view kCommDirection = u"^CommDirection";
inline constexpr std::u16string_view kEnableCksum = u"^EnableCksum";
inline constexpr std::u16string_view kCksumStartOrder = u"^CksumStartOrder";
inline constexpr std::u16string_view kCksumEndOrder = u"^CksumEndOrder";
inline constexpr std::u16string_view kCksumVarName = u"^CksumVarName";
inline constexpr std::u16string_view kCksumMethod = u"^CksumMethod";
// Unit keys.
inline constexpr std::u16string_view kValType = u"^ValType";
inline constexpr std::u16string_view kConstType = u"^ConstType";
inline constexpr std::u16string_view kConstVal = u"^ConstVal";
inline constexpr std::u16string_view kVarName = u"^VarName";
inline constexpr std::u16string_view kVarType = u"^VarType";
inline constexpr std::u16string_view kElemCnt = u"^ElemCnt";
inline constexpr std::u16string_view kElemCntByVar = u"^ElemCntByVar";
inline constexpr std::u16string_view kElemCntMultiplier = u"^ElemCntMultiplier";
inline constexpr std::u16string_view kMaxElemCnt = u"^MaxElemCnt";
inline constexpr std::u16string_view kNoLimitMaxVal = u"^NoLimitMaxVal";
inline constexpr std::u16string_view kMaxVal = u"^MaxVal";
}  // namespace upkeys

// One packet: its settings in the map itself, its units in order.
class UserPacket : public PropertyMap {
 public:
  UserPacket();  // the settings a packet has when its definition gives none
  std::vector<std::unique_ptr<PropertyMap>> units;
};

// Pairs of hexadecimal digits to bytes. Each pair is read as a number up to its first character
// that is not a hexadecimal digit, so a pair that starts with one gives 0. False for an odd length.
bool HexTextToBytes(std::u16string_view text, ByteBuffer& bytes);

class UserProtocol {
 public:
  // Replaces the definition by the one in the text; 1 when it loaded. An odd length changes
  // nothing; any other failure leaves what was read before it (packets, but an empty name). A
  // missing packet record shows "Error JR38", once in the life of the library.
  int32_t Load(std::u16string_view text, Platform& platform);

  // The first packet with exactly this name, or null.
  const UserPacket* FindPacket(std::u16string_view name) const;
  const std::vector<std::unique_ptr<UserPacket>>& Packets() const { return packets_; }
  const std::u16string& Name() const { return name_; }
  const std::u16string& EditorVersion() const { return editorVersion_; }

 private:
  static void ReadPacket(const ByteBuffer& record, UserPacket& packet, const CodePage& codePage);

  std::u16string name_ = u"NoTitle";
  std::u16string editorVersion_;
  std::vector<std::unique_ptr<UserPacket>> packets_;
};

}  // namespace qb
