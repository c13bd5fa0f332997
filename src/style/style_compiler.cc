// Compilation of a Style text into units (MakeStyle). Items are separated by "," and classified in
// a fixed order: quoted character, number, then named items (bit fields, bracket fields, plain
// names). A field of open length is ended on the wire by the fixed byte that follows it, so the
// compiler insists that a fixed item comes next.
#include "style/style.h"
#include "style/style_messages.h"
#include "style/style_text.h"

namespace qb {
namespace {

using style_text::IsDigit;
using style_text::ParseDecimal;

// "0x.." (either case) is hexadecimal, read up to the first non-hex character after every further
// "0x" is removed; anything else is decimal. Only the low 8 bits become the fixed byte.
uint8_t NumberItemByte(std::u16string_view item) {
  if (item.size() >= 2 && item[0] == u'0' && (item[1] == u'x' || item[1] == u'X')) {
    const std::u16string rest = style_text::RemoveHexPrefixes(item.substr(2));
    return static_cast<uint8_t>(style_text::ParseHexSaturating(rest) & 0xFF);
  }
  return static_cast<uint8_t>(static_cast<uint32_t>(ParseDecimal(item)) & 0xFF);
}

// Name~16 carries the maximum value 16; the name keeps only the text before "~".
void TakeNameAndMaximum(std::u16string_view text, StyleUnit& unit) {
  const size_t tilde = text.find(u'~');
  if (tilde == std::u16string_view::npos) {
    unit.name.assign(text);
    return;
  }
  unit.name.assign(text.substr(0, tilde));
  unit.maxValue = ParseDecimal(text.substr(tilde + 1));
}

// A+B+C where each part of the form Name[start;count] adds one bit field; other parts are skipped.
void CompileBitItem(std::u16string_view item, StyleUnit& unit) {
  unit.format = UnitFormat::kBit;
  for (std::u16string_view part : style_text::Split(item, u'+')) {
    if (part.empty() || part.back() != u']') continue;
    const size_t open = part.find(u'[');
    if (open == std::u16string_view::npos) continue;
    const std::u16string_view inside = part.substr(open + 1, part.size() - open - 2);
    if (style_text::PartCount(inside, u';') != 2) continue;
    const size_t semicolon = inside.find(u';');
    unit.bitNames.emplace_back(part.substr(0, open));
    unit.bitStarts.push_back(static_cast<uint32_t>(ParseDecimal(inside.substr(0, semicolon))));
    unit.bitCounts.push_back(static_cast<uint32_t>(ParseDecimal(inside.substr(semicolon + 1))));
  }
}

UnitFormat FormatOfLetter(char16_t letter) {
  switch (letter) {
    case u'n':
      return UnitFormat::kNum;
    case u'd':
      return UnitFormat::kDec;
    case u'h':
      return UnitFormat::kHex;
    case u's':
      return UnitFormat::kStr;
    case u'b':
      return UnitFormat::kBin;
    default:
      return UnitFormat::kNone;
  }
}

}  // namespace

bool Style::MakeStyle(std::u16string_view text, bool bigEndian) {
  const bool compiled = CompileText(text, bigEndian);
  UpdateDecidingFirstByte();
  return compiled;
}

bool Style::CompileText(std::u16string_view text, bool bigEndian) {
  declared_.clear();
  text_.assign(text);
  units_.clear();

  bool openField = false;  // the last unit was a field of open length
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(u',', start);
    const std::u16string_view item = style_text::Trim(text.substr(
        start, comma == std::u16string_view::npos ? std::u16string_view::npos : comma - start));
    if (!item.empty() && !CompileItem(item, bigEndian, openField)) return false;
    if (comma == std::u16string_view::npos) break;
    start = comma + 1;
  }
  if (openField) {
    ShowMessageBoxOnce(platform_, style_messages::nr39NotShown, style_messages::kNr39);
    return false;
  }
  return true;
}

bool Style::CompileItem(std::u16string_view item, bool bigEndian, bool& openField) {
  StyleUnit unit;
  unit.owner = this;
  unit.bigEndian = bigEndian;

  if (item.front() == u'\'' && item.back() == u'\'') {
    unit.unitType = UnitType::kFixedVal;
    unit.fixedByte = item.size() > 1 ? static_cast<uint8_t>(item[1] & 0xFF) : 0;
    openField = false;
    units_.push_back(std::move(unit));
    return true;
  }
  if (IsDigit(item.front())) {
    unit.unitType = UnitType::kFixedVal;
    unit.fixedByte = NumberItemByte(item);
    openField = false;
    units_.push_back(std::move(unit));
    return true;
  }

  if (openField) {
    std::u16string message(style_messages::kHj34Head);
    message.append(item);
    message.append(style_messages::kHj34Tail);
    ShowMessageBoxOnce(platform_, style_messages::hj34NotShown, message);
    return false;
  }
  unit.unitType = UnitType::kVar;

  if (item.find(u'+') != std::u16string_view::npos) {
    CompileBitItem(item, unit);
  } else if (item.back() == u']') {
    if (!CompileBracketItem(item, unit, openField)) return false;
    Declare(unit.name);
  } else {
    unit.format = UnitFormat::kNum;
    TakeNameAndMaximum(item, unit);
    Declare(unit.name);
  }
  units_.push_back(std::move(unit));
  return true;
}

bool Style::CompileBracketItem(std::u16string_view item, StyleUnit& unit, bool& openField) {
  const size_t open = item.find(u'[');
  if (open == std::u16string_view::npos) return false;  // no message for this one
  TakeNameAndMaximum(item.substr(0, open), unit);

  const std::u16string_view lengthText =
      style_text::Trim(item.substr(open + 1, item.size() - open - 2));
  if (lengthText.empty()) {
    FailCompilation(style_messages::kLengthEmpty, item);
    return false;
  }
  const size_t anyTilde = lengthText.find(u'~');
  if (anyTilde == std::u16string_view::npos && !IsDigit(lengthText.front())) {
    FailCompilation(style_messages::kLengthNotNumber, item);
    return false;
  }

  // The last character is the format letter; any other character belongs to the number.
  std::u16string_view rest = lengthText;
  unit.format = FormatOfLetter(lengthText.back());
  if (unit.format == UnitFormat::kNone) {
    unit.format = UnitFormat::kNum;
  } else {
    rest.remove_suffix(1);
  }

  const size_t tilde = rest.find(u'~');
  if (tilde == std::u16string_view::npos) {
    unit.length = ParseDecimal(rest);
    return true;
  }
  if (tilde == 0) {
    // [~200s]: at most 200, ended by the fixed byte that must follow.
    unit.length = ParseDecimal(rest.substr(1));
    unit.variableLength = true;
    openField = true;
    return true;
  }
  const std::u16string_view variable = rest.substr(0, tilde);
  if (IsDigit(variable.front())) {
    FailCompilation(style_messages::kLengthVariableAlpha, item);
    return false;
  }
  const int32_t maximum = ParseDecimal(style_text::Trim(rest.substr(tilde + 1)));
  if (maximum < 1) {
    FailCompilation(style_messages::kMaximumPositive, item);
    return false;
  }
  unit.lengthVariable.assign(variable);
  unit.length = maximum;
  unit.variableLength = true;
  return true;
}

void Style::FailCompilation(std::u16string_view message, std::u16string_view item) {
  std::u16string text(message);
  text.append(item);
  platform_.ShowMessageBox(text);
}

void Style::Declare(std::u16string_view name) {
  if (declared_.find(name) == declared_.end()) declared_.emplace(name);
}

}  // namespace qb
