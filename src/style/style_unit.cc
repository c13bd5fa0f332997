// Texts of the unit type and format enumerations; see style_unit.h.
#include "style/style_unit.h"

namespace qb {

std::u16string_view UnitTypeText(UnitType type) {
  switch (type) {
    case UnitType::kFixedVal:
      return u"FixedVal";
    case UnitType::kVar:
      return u"Var";
    case UnitType::kNone:
      break;
  }
  return u"";
}

std::u16string_view UnitFormatText(UnitFormat format) {
  switch (format) {
    case UnitFormat::kNum:
      return u"num";
    case UnitFormat::kDec:
      return u"dec";
    case UnitFormat::kHex:
      return u"hex";
    case UnitFormat::kStr:
      return u"str";
    case UnitFormat::kBin:
      return u"bin";
    case UnitFormat::kBit:
      return u"bit";
    case UnitFormat::kNone:
      break;
  }
  return u"";
}

}  // namespace qb
