// What a packet of the user protocol looks like on the wire: its Style text, built unit by unit,
// and the frame settings (byte order, checksum rule) with which a Style of it is compiled, both for
// the Tx packets the scheduler sends and for the Rx packets the receiver recognises.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "style/style.h"
#include "userprotocol/definition.h"

namespace qb {

// The Style item of one unit ("" for a unit that makes none).
std::u16string UnitStyle(const PropertyMap& unit);
// The Style items of all units joined with ",".
std::u16string PacketStyle(const UserPacket& packet);

// Every variable name of the packet, and those of its "WordArray" variables, in lower case.
void PacketVariables(const UserPacket& packet, std::set<std::u16string>& names,
                     std::set<std::u16string>& wordArrays);
// The "WordArray" variable names in lower case joined with "|".
std::u16string WordArrLoVars(const UserPacket& packet);

// The settings a Style of the packet is compiled with.
struct PacketFrame {
  std::u16string styleText;
  bool highFirst = true;  // "^ByteOrder" is exactly "HiFirst"
  bool checksum = false;  // "^EnableCksum" reads as a non-zero number
  std::u16string checksumVariable;
  int32_t checksumFirst = 0;  // 0-based unit index
  int32_t checksumCount = 0;
  std::u16string checksumMethod;  // lower case
};
PacketFrame FrameOf(const UserPacket& packet);

// Compiles the packet's Style text into style and adds its checksum rule; false when the text does
// not compile. A checksum range outside the units is left out, as the Style refuses it.
bool CompilePacket(const PacketFrame& frame, Style& style);

bool IsRxPacket(const UserPacket& packet);

}  // namespace qb
