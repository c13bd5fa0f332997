// One compiled item of a frame template: a fixed byte, or a named value with its format, length
// and length source, plus the marks of the checksum and repeat ranges that start or end at it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

class Style;

enum class UnitType : uint8_t {
  kNone,      // not classified ("")
  kFixedVal,  // "FixedVal"
  kVar,       // "Var"
};

enum class UnitFormat : uint8_t {
  kNone,  // ""
  kNum,   // "num": length raw bytes of an integer
  kDec,   // "dec": length ASCII decimal digits
  kHex,   // "hex": length ASCII upper-case hexadecimal digits
  kStr,   // "str": one byte per character
  kBin,   // "bin": raw bytes
  kBit,   // "bit": one byte of bit fields
};

std::u16string_view UnitTypeText(UnitType type);
std::u16string_view UnitFormatText(UnitFormat format);

struct StyleUnit {
  const Style* owner = nullptr;
  uint8_t fixedByte = 0;
  // Byte, digit or character count, or the maximum of a variable-length field.
  int32_t length = 1;
  bool variableLength = false;
  // "" or "start:" + checksum variable + "," + method.
  std::u16string checksumStart;
  // "" or "start:" + repeat count (a variable name or decimal digits).
  std::u16string repeatStart;
  std::u16string name;
  UnitType unitType = UnitType::kNone;
  UnitFormat format = UnitFormat::kNone;
  // "" or the variable that holds the length, optionally followed by "*" and a multiplier.
  std::u16string lengthVariable;
  bool checksumEnd = false;
  bool repeatEnd = false;
  // The number after "~" in the name part of the item; -1 when none.
  int32_t maxValue = -1;
  std::vector<std::u16string> bitNames;
  std::vector<uint32_t> bitStarts;
  std::vector<uint32_t> bitCounts;
  // Byte order of "num" values: most significant byte first when set.
  bool bigEndian = true;
};

}  // namespace qb
