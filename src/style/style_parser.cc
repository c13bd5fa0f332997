// See style_parser.h. The checksum of a range is the checksum of the bytes consumed from the unit
// where the range starts, so instead of collecting bytes the parser remembers where collecting
// began.
#include "style/style_parser.h"

#include <algorithm>

#include "style/checksum.h"
#include "style/style_messages.h"
#include "style/style_text.h"

namespace qb {
namespace {

namespace msg = style_messages;
using style_text::AppendDecimal;

// A hexadecimal field: "0x" removed wherever it occurs; up to four digits read directly, a longer
// text as (value of all but the last four) * 65536 + (value of the last four). Each part stops at
// its first non-hexadecimal character.
uint32_t HexFieldValue(std::u16string_view digits) {
  if (digits.size() <= 4) return style_text::ParseHexWrapping(digits);
  const size_t split = digits.size() - 4;
  return HexFieldValue(digits.substr(0, split)) * 65536u +
         style_text::ParseHexWrapping(digits.substr(split));
}

class FrameParser {
 public:
  FrameParser(const Style& style, std::span<const uint8_t> bytes, FrameValues& out,
              StyleOwner& owner)
      : style_(style), units_(style.Units()), bytes_(bytes), out_(out), owner_(owner) {}

  int Run();
  size_t Position() const { return pos_; }
  // After Run gave kParseNeedMore: the fewest bytes still to come.
  size_t Shortfall() const { return shortfall_; }

 private:
  int ParseUnit(size_t index);
  int ParseVar(const StyleUnit& unit, size_t index);
  int ParseField(const StyleUnit& unit, size_t index);
  int NeedMore(size_t missing) {
    unitShortfall_ = missing;
    return kParseNeedMore;
  }
  // The fewest bytes unit takes when it matches, from what has been read so far; round as
  // round_ is (-1 outside a group), or kUnknownRound for a round still to come.
  static constexpr int32_t kUnknownRound = -2;
  size_t UnitMinimum(const StyleUnit& unit, int32_t round);
  // The fewest bytes the units after index take, the rest of the round in progress included.
  size_t MinimumAfter(size_t index);
  // Checks the pending checksums whose field has been read; 0 on a mismatch.
  int CheckPending();
  // The value key of a unit name: the round index is appended inside a group.
  std::u16string_view Key(std::u16string_view name, std::u16string& buffer) const {
    if (round_ < 0) return name;
    buffer.assign(name);
    buffer += u':';
    AppendDecimal(buffer, round_);
    return buffer;
  }
  // Starts the error text with head; the caller appends the rest and answers 0.
  std::u16string& ErrorText(std::u16string_view head) {
    std::u16string& text = owner_.MutableParseErrorText();
    text.assign(head);
    return text;
  }
  int Fail(std::u16string_view text) {
    ErrorText(text);
    return kParseNoMatch;
  }
  // Appends "UnitIdx=" + index + ", RoundIdx=" + round (the text ends with "UnitIdx=" already).
  int FailAt(std::u16string& text, size_t index) {
    AppendDecimal(text, static_cast<int64_t>(index));
    text.append(u", RoundIdx=");
    AppendDecimal(text, round_);
    return kParseNoMatch;
  }
  int FailAt(std::u16string_view head, size_t index) { return FailAt(ErrorText(head), index); }
  uint32_t RangeChecksum() const {
    return Checksum(bytes_.subspan(collectFrom_, pos_ - collectFrom_), checksumMethod_);
  }

  struct Pending {
    std::u16string_view name;
    uint32_t value;
  };

  const Style& style_;
  std::span<const StyleUnit> units_;
  std::span<const uint8_t> bytes_;
  FrameValues& out_;
  StyleOwner& owner_;

  size_t pos_ = 0;
  int32_t round_ = -1;
  int32_t roundsToGo_ = 0;
  size_t groupStart_ = 0;
  std::u16string_view checksumVariable_;
  std::u16string_view checksumMethod_;
  size_t collectFrom_ = 0;
  std::vector<Pending> pending_;
  size_t unitShortfall_ = 0;
  size_t shortfall_ = 0;
  std::u16string key_;
  std::u16string lengthKey_;
  std::u16string fieldText_;
};

int FrameParser::Run() {
  // Every round of a sensible group consumes bytes, so a walk longer than this is a group that
  // goes round without reading anything.
  const size_t maxVisits = (units_.size() + 1) * (bytes_.size() + 2);
  size_t visits = 0;
  size_t i = 0;
  while (i < units_.size()) {
    if (++visits > maxVisits) return Fail(msg::kLoopInternal2);
    const StyleUnit& unit = units_[i];

    // A checksum range starts: collect from here.
    if (unit.checksumStart.starts_with(u"start")) {
      const std::u16string_view mark = unit.checksumStart;
      if (style_text::PartCount(mark, u':') != 2) {
        return Fail(msg::kChecksumInternal1);
      }
      const std::u16string_view rest = mark.substr(mark.find(u':') + 1);
      if (style_text::PartCount(rest, u',') != 2) {
        return Fail(msg::kChecksumInternal2);
      }
      const size_t comma = rest.find(u',');
      checksumVariable_ = rest.substr(0, comma);
      checksumMethod_ = rest.substr(comma + 1);
      collectFrom_ = pos_;
    }
    // A repeated group starts.
    if (round_ < 0 && unit.repeatStart.starts_with(u"start")) {
      const std::u16string_view mark = unit.repeatStart;
      if (style_text::PartCount(mark, u':') != 2) {
        return Fail(msg::kLoopInternal1);
      }
      const std::u16string_view count = mark.substr(mark.find(u':') + 1);
      roundsToGo_ =
          style_text::AllDigits(count) ? style_text::ParseDecimal(count) : out_.GetInt(count);
      round_ = 0;
      groupStart_ = i;
    }
    // The unit itself.
    const int result = ParseUnit(i);
    if (result == kParseNeedMore) shortfall_ = unitShortfall_ + MinimumAfter(i);
    // The group ends here: another round, or leave it.
    if (unit.repeatEnd) {
      --roundsToGo_;
      ++round_;
      if (result != kParseMatched) return result;
      if (roundsToGo_ > 0 && round_ > 0) {
        i = groupStart_;
        continue;
      }
      round_ = -1;
    }
    if (unit.checksumEnd) {
      // The range ends: its checksum waits for the field that carries it.
      const uint32_t value = RangeChecksum();
      collectFrom_ = pos_;
      auto it = std::find_if(pending_.begin(), pending_.end(),
                             [&](const Pending& p) { return p.name == checksumVariable_; });
      if (it != pending_.end()) {
        it->value = value;
      } else {
        pending_.push_back({checksumVariable_, value});
      }
    } else if (!pending_.empty()) {
      // Compare every pending checksum whose field has been read by now.
      if (CheckPending() == kParseNoMatch) return kParseNoMatch;
    }
    // A failed unit ends the walk, after the checks above have had their say.
    if (result != kParseMatched) return result;
    ++i;
  }
  return kParseMatched;
}

size_t FrameParser::UnitMinimum(const StyleUnit& unit, int32_t round) {
  if (unit.unitType == UnitType::kFixedVal) return 1;
  if (unit.unitType != UnitType::kVar) return 0;
  if (unit.format == UnitFormat::kBit) return 1;
  const size_t length = static_cast<size_t>(std::max(unit.length, 0));
  if (unit.format == UnitFormat::kNum) return length;
  if (!unit.lengthVariable.empty()) {
    // A length read earlier in the frame (never in a round still to come: its key is not known).
    if (round == kUnknownRound) return 0;
    const std::u16string_view expression = unit.lengthVariable;
    const size_t star = expression.find(u'*');
    const int64_t multiplier = star == std::u16string_view::npos
                                   ? 1
                                   : style_text::ParseDecimal(expression.substr(star + 1));
    const int32_t savedRound = round_;
    round_ = round;
    bool found = false;
    const int64_t value = out_.GetInt(Key(expression.substr(0, star), lengthKey_), &found);
    round_ = savedRound;
    if (!found || multiplier * value <= 0) return 0;
    return static_cast<size_t>(std::min<int64_t>(multiplier * value, unit.length));
  }
  return unit.variableLength ? 0 : length;
}

size_t FrameParser::MinimumAfter(size_t index) {
  size_t total = 0;
  size_t i = index + 1;
  if (round_ >= 0) {
    // The rest of this round, then the rounds still to come (the count includes this one).
    size_t groupEnd = index;
    while (groupEnd < units_.size() && !units_[groupEnd].repeatEnd) ++groupEnd;
    for (; i <= groupEnd && i < units_.size(); ++i) total += UnitMinimum(units_[i], round_);
    if (roundsToGo_ > 1) {
      size_t group = 0;
      for (size_t g = groupStart_; g <= groupEnd && g < units_.size(); ++g) {
        group += UnitMinimum(units_[g], kUnknownRound);
      }
      total += group * static_cast<size_t>(roundsToGo_ - 1);
    }
    i = groupEnd + 1;
  }
  while (i < units_.size()) {
    const StyleUnit& unit = units_[i];
    if (!unit.repeatStart.starts_with(u"start")) {
      total += UnitMinimum(unit, -1);
      ++i;
      continue;
    }
    // A group ahead: walked once at least, as often as its count says when that is known.
    const std::u16string_view mark = unit.repeatStart;
    const size_t colon = mark.find(u':');
    const std::u16string_view count =
        colon == std::u16string_view::npos ? std::u16string_view() : mark.substr(colon + 1);
    bool found = style_text::AllDigits(count) && !count.empty();
    int64_t rounds = found ? style_text::ParseDecimal(count) : out_.GetInt(count, &found);
    rounds = found ? std::max<int64_t>(rounds, 1) : 1;
    size_t group = 0;
    for (; i < units_.size(); ++i) {
      group += UnitMinimum(units_[i], kUnknownRound);
      if (units_[i].repeatEnd) break;
    }
    ++i;
    // A frame is at most a few thousand bytes; a count beyond that is no bound worth keeping.
    total += group * static_cast<size_t>(std::min<int64_t>(rounds, 65536));
  }
  return total;
}

int FrameParser::CheckPending() {
  for (size_t p = 0; p < pending_.size();) {
    const std::u16string_view name = pending_[p].name;
    const StyleUnit* field = style_.FindUnit(name);
    if (field == nullptr) return Fail(msg::kChecksumUnitMissing);
    uint32_t computed = pending_[p].value;
    if (field->format == UnitFormat::kHex && field->length < 8) {
      computed = field->length <= 0 ? 0 : computed % (1u << (4 * field->length));
    } else if (field->format == UnitFormat::kNum && field->length < 4) {
      computed = field->length <= 0 ? 0 : computed % (1u << (8 * field->length));
    }
    if (const std::u16string* received = out_.FindStr(name)) {
      if (!owner_.CompareTextChecksum(name, computed, style_text::ParseDecimal(*received))) {
        std::u16string& text = ErrorText(msg::kChecksumMismatch);
        text.append(name);
        text.append(u", 측정값=");
        AppendDecimal(text, computed);
        text.append(u", 정상값=");
        text.append(*received);
        return kParseNoMatch;
      }
      pending_.erase(pending_.begin() + static_cast<ptrdiff_t>(p));
      continue;
    }
    if (const std::vector<uint8_t>* received = out_.FindBin(name)) {
      if (!owner_.CompareBinaryChecksum(name, pending_[p].value, *received)) {
        ErrorText(msg::kBinaryChecksumMismatch).append(name);
        return kParseNoMatch;
      }
      pending_.erase(pending_.begin() + static_cast<ptrdiff_t>(p));
      continue;
    }
    ++p;  // the field comes later
  }
  return kParseMatched;
}

int FrameParser::ParseUnit(size_t index) {
  const StyleUnit& unit = units_[index];
  if (unit.unitType == UnitType::kFixedVal) {
    if (pos_ >= bytes_.size()) return NeedMore(1);
    const uint8_t received = bytes_[pos_++];
    if (received != unit.fixedByte) {
      owner_.SetFixedMismatch(unit.fixedByte, received, index, round_);
      return kParseNoMatch;
    }
    return kParseMatched;
  }
  if (unit.unitType == UnitType::kVar) return ParseVar(unit, index);
  return FailAt(msg::kUnknownUnitType, index);
}

int FrameParser::ParseVar(const StyleUnit& unit, size_t index) {
  const size_t remaining = bytes_.size() - pos_;
  if (!unit.variableLength && unit.length > 0 && remaining < static_cast<size_t>(unit.length)) {
    return NeedMore(static_cast<size_t>(unit.length) - remaining);
  }
  if (unit.format != UnitFormat::kBit && unit.name.empty()) return FailAt(msg::kNoName, index);

  if (unit.format == UnitFormat::kNum) {
    // A number field of open length still reads its length in bytes, so check them here too.
    const size_t count = static_cast<size_t>(std::max(unit.length, 0));
    if (remaining < count) return NeedMore(count - remaining);
    uint32_t value = 0;  // the low 32 bits of the unsigned number
    for (size_t k = 0; k < count; ++k) {
      const uint32_t byte = bytes_[pos_ + k];
      if (unit.bigEndian) {
        value = (value << 8) | byte;
      } else if (k < 4) {
        value |= byte << (8 * k);
      }
    }
    pos_ += count;
    out_.SetInt(Key(unit.name, key_), static_cast<int32_t>(value));
    return kParseMatched;
  }
  if (unit.format == UnitFormat::kBit) {
    if (remaining < 1) return NeedMore(1);
    const uint32_t byte = bytes_[pos_++];
    for (size_t f = 0; f < unit.bitNames.size(); ++f) {
      const uint32_t first = unit.bitStarts[f];
      const uint32_t count = unit.bitCounts[f];
      const uint32_t shifted = first < 8 ? byte >> first : 0;
      const uint32_t mask = count >= 8 ? 0xFFu : (1u << count) - 1u;
      out_.SetInt(unit.bitNames[f], static_cast<int32_t>(shifted & mask));
    }
    return kParseMatched;
  }
  switch (unit.format) {
    case UnitFormat::kStr:
    case UnitFormat::kBin:
    case UnitFormat::kDec:
    case UnitFormat::kHex:
      return ParseField(unit, index);
    default:
      return FailAt(msg::kUnknownUnitType, index);
  }
}

int FrameParser::ParseField(const StyleUnit& unit, size_t index) {
  const bool hasExpression = !unit.lengthVariable.empty();
  // A field of open length ends at the fixed byte that follows it (not consumed here).
  bool hasTerminator = false;
  uint8_t terminator = 0;
  if (unit.variableLength && !hasExpression) {
    if (index + 1 >= units_.size()) return FailAt(msg::kNoTerminatorAtEnd, index);
    const StyleUnit& next = units_[index + 1];
    if (next.unitType != UnitType::kFixedVal) return FailAt(msg::kTerminatorNotFixed, index);
    hasTerminator = true;
    terminator = next.fixedByte;
  }
  // The limit: the length (the maximum), or less when a length read earlier says so.
  int64_t limit = unit.length;
  int64_t expected = 0;
  if (hasExpression) {
    const std::u16string_view expression = unit.lengthVariable;
    const size_t star = expression.find(u'*');
    const int64_t multiplier = star == std::u16string_view::npos
                                   ? 1
                                   : style_text::ParseDecimal(expression.substr(star + 1));
    const std::u16string_view lengthKey = Key(expression.substr(0, star), lengthKey_);
    bool found = false;
    const int32_t value = out_.GetInt(lengthKey, &found);
    if (!found) {
      std::u16string& text = ErrorText(msg::kNoLengthValue);
      text.append(lengthKey);
      text.append(u", UnitIdx=");
      return FailAt(text, index);
    }
    expected = multiplier * value;
    if (expected <= limit) limit = expected;
  }
  // Read up to the limit.
  const bool binary = unit.format == UnitFormat::kBin;
  const size_t start = pos_;
  size_t end = pos_;
  for (int64_t taken = 0; taken < limit; ++taken) {
    // An open field ends at its terminator, which the units after it count.
    if (end >= bytes_.size())
      return NeedMore(hasTerminator ? 0 : static_cast<size_t>(limit - taken));
    const uint8_t byte = bytes_[end];
    if (byte == 0 && !binary) return FailAt(msg::kNullCharacter, index);
    if (hasTerminator && byte == terminator) break;
    ++end;
  }
  pos_ = end;
  const std::span<const uint8_t> field = bytes_.subspan(start, end - start);
  const std::u16string_view key = Key(unit.name, key_);

  // Raw bytes.
  if (binary) {
    if (hasExpression && static_cast<int64_t>(field.size()) != expected) {
      std::u16string& text = ErrorText(msg::kBinLengthMismatch);
      text.append(key);
      text.append(u", 측정길이=");
      AppendDecimal(text, static_cast<int64_t>(field.size()));
      text.append(u", 정상 길이=");
      AppendDecimal(text, expected);
      return kParseNoMatch;
    }
    out_.SetBin(key, field);
    return kParseMatched;
  }
  // Text, or a number written as text.
  std::u16string& text = fieldText_;
  text.assign(field.begin(), field.end());
  if (hasExpression && static_cast<int64_t>(text.size()) != expected) {
    std::u16string& message = ErrorText(msg::kTextLengthMismatch);
    message.append(key);
    message.append(u", 내용=");
    message.append(text);
    message.append(u", 정상 길이=");
    AppendDecimal(message, expected);
    return kParseNoMatch;
  }
  if (unit.format == UnitFormat::kStr) {
    out_.SetStr(key, text);
    return kParseMatched;
  }
  int32_t value;
  if (unit.format == UnitFormat::kHex) {
    value = static_cast<int32_t>(text.find(u"0x") == std::u16string::npos
                                     ? HexFieldValue(text)
                                     : HexFieldValue(style_text::RemoveHexPrefixes(text)));
  } else {
    value = style_text::ParseDecimal(text);
  }
  if (unit.maxValue >= 0 && value > unit.maxValue) {
    std::u16string& message = ErrorText(msg::kValueTooLarge);
    message.append(key);
    message.append(u", 기준치=");
    AppendDecimal(message, unit.maxValue);
    message.append(u", 들어온 값=");
    AppendDecimal(message, value);
    return kParseNoMatch;
  }
  out_.SetInt(key, value);
  return kParseMatched;
}

// A receiver that resynchronises over garbage tries every Style at every byte, and most tries end
// at a first fixed byte that differs: decided here without setting up a walk, with the outcome and
// text the walk gives.
bool FailsAtFirstByte(const Style& style, std::span<const uint8_t> bytes, StyleOwner& owner) {
  const int32_t expected = style.DecidingFirstByte();
  if (expected < 0 || bytes.empty() || bytes.front() == expected) return false;
  owner.SetFixedMismatch(static_cast<uint8_t>(expected), bytes.front(), 0, -1);
  return true;
}

}  // namespace

int ParseFrameAt(const Style& style, std::span<const uint8_t> bytes, FrameValues& out,
                 StyleOwner& owner, size_t& consumed, size_t* shortfall) {
  if (FailsAtFirstByte(style, bytes, owner)) {
    consumed = 0;
    if (shortfall != nullptr) *shortfall = 0;
    return kParseNoMatch;
  }
  FrameParser parser(style, bytes, out, owner);
  const int result = parser.Run();
  consumed = result == kParseMatched ? parser.Position() : 0;
  if (shortfall != nullptr) *shortfall = result == kParseNeedMore ? parser.Shortfall() : 0;
  return result;
}

int ParseFrame(const Style& style, std::vector<uint8_t>& buffer, FrameValues& out,
               StyleOwner& owner) {
  size_t consumed = 0;
  const int result = ParseFrameAt(style, buffer, out, owner, consumed);
  if (result == kParseMatched) {
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(consumed));
  }
  return result;
}

}  // namespace qb
