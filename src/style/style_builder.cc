// Building a frame from a compiled Style and its values (BuildFrame). Units are emitted in order;
// a repeat range is walked once per round with the round index appended to the value names, and
// the bytes of a checksum range are collected so that the checksum can be stored in its variable
// before the unit that carries it is emitted.
#include <algorithm>

#include "style/checksum.h"
#include "style/int_to_str.h"
#include "style/style.h"
#include "style/style_messages.h"
#include "style/style_text.h"

namespace qb {
namespace {

// Limits that keep a template with absurd lengths or counts from running away: no serial frame of
// a panel comes near them.
constexpr size_t kMaxFrameBytes = 1 << 16;
constexpr size_t kMaxUnitVisits = 1 << 17;

class FrameBuilder {
 public:
  FrameBuilder(FrameValues& values, std::vector<uint8_t>& frame) : values_(values), frame_(frame) {}

  // Emits the bytes of unit into frame_; false fails the build.
  bool EmitUnit(const StyleUnit& unit);

  // The value name of a unit: inside an open repeat range the round index is appended.
  std::u16string_view Key(std::u16string_view name) {
    if (repeatIndex_ < 0) return name;
    key_.assign(name);
    key_ += u':';
    style_text::AppendDecimal(key_, repeatIndex_);
    return key_;
  }

  int32_t repeatCount_ = 0;
  int32_t repeatIndex_ = -1;
  int32_t repeatStart_ = -1;

 private:
  bool EmitNumber(const StyleUnit& unit, std::u16string_view key);
  bool EmitText(const StyleUnit& unit, std::u16string_view key);
  bool EmitBinary(const StyleUnit& unit, std::u16string_view key);
  // The field length of "str" and "bin": from the length variable, or the unit length shortened
  // to the value's length when the field is of variable length.
  bool FieldLength(const StyleUnit& unit, int64_t valueLength, int64_t& n);
  bool Room(int64_t n) const { return frame_.size() + static_cast<size_t>(n) <= kMaxFrameBytes; }

  FrameValues& values_;
  std::vector<uint8_t>& frame_;
  std::u16string key_;
  std::u16string lengthKey_;
};

bool FrameBuilder::EmitUnit(const StyleUnit& unit) {
  if (unit.unitType == UnitType::kFixedVal) {
    if (!Room(1)) return false;
    frame_.push_back(unit.fixedByte);
    return true;
  }
  if (unit.unitType != UnitType::kVar) return true;  // an unclassified unit emits nothing

  if (unit.format == UnitFormat::kBit) {
    uint8_t byte = 0;
    for (size_t f = 0; f < unit.bitNames.size(); ++f) {
      bool found = false;
      const int32_t value = values_.GetInt(unit.bitNames[f], &found);
      if (!found) continue;
      // Only positions 0 to 7 reach the byte, so no more than 8 bits of a field matter.
      const uint32_t first = unit.bitStarts[f];
      const uint32_t count = std::min<uint32_t>(unit.bitCounts[f], 8);
      for (uint32_t k = 0; k < count && first < 8 && first + k < 8; ++k) {
        const uint8_t mask = static_cast<uint8_t>(1u << (first + k));
        if ((static_cast<uint32_t>(value) >> k) & 1u) {
          byte = static_cast<uint8_t>(byte | mask);
        } else {
          byte = static_cast<uint8_t>(byte & ~mask);
        }
      }
    }
    if (!Room(1)) return false;
    frame_.push_back(byte);
    return true;
  }

  const std::u16string_view key = Key(unit.name);
  if (key.empty()) return false;
  switch (unit.format) {
    case UnitFormat::kStr:
      return EmitText(unit, key);
    case UnitFormat::kBin:
      return EmitBinary(unit, key);
    case UnitFormat::kNum:
    case UnitFormat::kDec:
    case UnitFormat::kHex:
      return EmitNumber(unit, key);
    default:
      return true;
  }
}

bool FrameBuilder::FieldLength(const StyleUnit& unit, int64_t valueLength, int64_t& n) {
  if (unit.lengthVariable.empty()) {
    n = unit.length;
    if (unit.variableLength && valueLength < n) n = valueLength;
    return true;
  }
  const std::u16string_view expression = unit.lengthVariable;
  const size_t star = expression.find(u'*');
  const std::u16string_view variable = expression.substr(0, star);
  const int64_t multiplier =
      star == std::u16string_view::npos ? 1 : style_text::ParseDecimal(expression.substr(star + 1));
  bool found = false;
  int32_t value = 0;
  if (repeatIndex_ >= 0) {
    lengthKey_.assign(variable);
    lengthKey_ += u':';
    style_text::AppendDecimal(lengthKey_, repeatIndex_);
    value = values_.GetInt(lengthKey_, &found);
  }
  if (!found) value = values_.GetInt(variable, &found);
  if (!found) return false;
  n = std::min<int64_t>(int64_t{value} * multiplier, unit.length);
  return true;
}

bool FrameBuilder::EmitText(const StyleUnit& unit, std::u16string_view key) {
  const std::u16string* text = values_.FindStr(key);
  if (text == nullptr) return false;
  int64_t n = 0;
  if (!FieldLength(unit, static_cast<int64_t>(text->size()), n)) return false;
  if (n <= 0) return true;
  if (!Room(n)) return false;
  for (int64_t k = 0; k < n; ++k) {
    frame_.push_back(static_cast<size_t>(k) < text->size()
                         ? static_cast<uint8_t>((*text)[static_cast<size_t>(k)] & 0xFF)
                         : uint8_t{0x20});
  }
  return true;
}

bool FrameBuilder::EmitBinary(const StyleUnit& unit, std::u16string_view key) {
  const std::vector<uint8_t>* bytes = values_.FindBin(key);
  if (bytes == nullptr) return false;
  int64_t n = 0;
  if (!FieldLength(unit, static_cast<int64_t>(bytes->size()), n)) return false;
  if (n <= 0) return true;
  if (!Room(n)) return false;
  for (int64_t k = 0; k < n; ++k) {
    frame_.push_back(static_cast<size_t>(k) < bytes->size() ? (*bytes)[static_cast<size_t>(k)]
                                                            : uint8_t{0});
  }
  return true;
}

bool FrameBuilder::EmitNumber(const StyleUnit& unit, std::u16string_view key) {
  bool found = false;
  int32_t value = values_.GetInt(key, &found);
  if (!found) return false;
  if (unit.maxValue >= 0 && value > unit.maxValue) value = unit.maxValue;
  const int width = std::clamp(unit.length, 1, 8);
  if (unit.format == UnitFormat::kNum) {
    if (!Room(width)) return false;
    for (int i = 0; i < width; ++i) {
      // Byte b from the least significant end; beyond the fourth the sign repeats.
      const int b = unit.bigEndian ? width - 1 - i : i;
      const uint8_t byte = b < 4 ? static_cast<uint8_t>((value >> (8 * b)) & 0xFF)
                                 : static_cast<uint8_t>(value < 0 ? 0xFF : 0x00);
      frame_.push_back(byte);
    }
    return true;
  }
  char16_t digits[detail::kIntToStrMax];
  const size_t n =
      detail::IntToStrInto(value, unit.format == UnitFormat::kDec ? 10 : 16, width, digits);
  if (!Room(static_cast<int64_t>(n))) return false;
  for (size_t k = 0; k < n; ++k) frame_.push_back(static_cast<uint8_t>(digits[k] & 0xFF));
  return true;
}

}  // namespace

bool Style::BuildFrame(std::vector<uint8_t>& frame) {
  // The frame is built in place (keeping the caller's storage) and emptied again on a failure.
  frame.clear();
  FrameBuilder builder(values_, frame);
  // The checksum covers every byte emitted while it is open, and those bytes are contiguous in
  // the frame: from where it opened (after the last close) to the end.
  bool checksumOpen = false;
  size_t checksumFrom = 0;
  std::u16string_view checksumVariable;
  std::u16string_view checksumMethod;

  size_t visits = 0;
  for (size_t i = 0; i < units_.size(); ++i) {
    const StyleUnit& unit = units_[i];
    if (++visits > kMaxUnitVisits) {
      frame.clear();
      return false;
    }

    // A checksum range opens: "start:" + variable + "," + method.
    if (unit.checksumStart.starts_with(u"start")) {
      const std::u16string_view mark = std::u16string_view(unit.checksumStart)
                                           .substr(std::min<size_t>(6, unit.checksumStart.size()));
      if (style_text::PartCount(mark, u',') == 2) {
        const size_t comma = mark.find(u',');
        if (!checksumOpen) checksumFrom = frame.size();
        checksumOpen = true;
        checksumVariable = mark.substr(0, comma);
        checksumMethod = mark.substr(comma + 1);
      }
    }
    // A repeat range opens: "start:" + count.
    if (builder.repeatIndex_ < 0 && unit.repeatStart.starts_with(u"start")) {
      const std::u16string_view mark = unit.repeatStart;
      if (style_text::PartCount(mark, u':') != 2) {
        frame.clear();
        return false;
      }
      const std::u16string_view count = mark.substr(mark.find(u':') + 1);
      builder.repeatCount_ =
          style_text::AllDigits(count) ? style_text::ParseDecimal(count) : values_.GetInt(count);
      builder.repeatIndex_ = 0;
      builder.repeatStart_ = static_cast<int32_t>(i);
    }
    // The unit's bytes (inside the checksum while it is open).
    if (!builder.EmitUnit(unit)) {
      frame.clear();
      return false;
    }
    // The repeat range ends here: another round, or close it.
    if (unit.repeatEnd) {
      --builder.repeatCount_;
      ++builder.repeatIndex_;
      if (builder.repeatCount_ >= 1 && builder.repeatStart_ >= 0) {
        i = static_cast<size_t>(builder.repeatStart_) - 1;  // the loop's ++ lands on the start
        continue;
      }
      builder.repeatCount_ = 0;
      builder.repeatIndex_ = -1;
      builder.repeatStart_ = -1;
    }
    // The checksum range ends here: store the checksum in its variable.
    if (checksumOpen && unit.checksumEnd) {
      const uint32_t checksum =
          Checksum(std::span<const uint8_t>(frame).subspan(checksumFrom), checksumMethod);
      checksumOpen = false;
      const std::u16string_view format = GetUnitFormat(checksumVariable);
      if (format == u"num" || format == u"hex") {
        values_.SetInt(checksumVariable, ChecksumToInteger(checksumVariable, checksum));
      } else if (format == u"bin") {
        std::vector<uint8_t> bytes;
        ChecksumToBytes(checksumVariable, checksum, bytes);
        values_.SetBin(checksumVariable, bytes);
      } else {
        ShowMessageBoxOnce(platform_, style_messages::buildChecksumNotShown,
                           style_messages::kBuildChecksumFormat);
      }
    }
  }
  return true;
}

}  // namespace qb
