// The Style's setup and value operations: ranges, the declared-name check, lookups and copying.
// Compilation, building and parsing live in their own files.
#include "style/style.h"

#include "style/style_messages.h"
#include "style/style_text.h"

namespace qb {
namespace {

// Both ranges must lie inside the units: 0 <= first, count >= 1, first + count <= unit count.
bool RangeInside(int32_t first, int32_t count, size_t unitCount) {
  return first >= 0 && count >= 1 &&
         int64_t{first} + int64_t{count} <= static_cast<int64_t>(unitCount);
}

}  // namespace

Style::Style(Platform& platform) : platform_(platform) {}

Style::~Style() = default;

bool Style::SetChecksumRange(std::u16string_view variable, int32_t first, int32_t count,
                             std::u16string_view method) {
  if (!RangeInside(first, count, units_.size())) return false;
  std::u16string& start = units_[static_cast<size_t>(first)].checksumStart;
  start.assign(u"start:");
  start.append(variable);
  start.append(u",");
  start.append(method);
  units_[static_cast<size_t>(first + count - 1)].checksumEnd = true;
  UpdateDecidingFirstByte();
  return true;
}

bool Style::SetRepeatRange(std::u16string_view count, int32_t first, int32_t unitCount) {
  if (!RangeInside(first, unitCount, units_.size())) return false;
  std::u16string& start = units_[static_cast<size_t>(first)].repeatStart;
  start.assign(u"start:");
  start.append(count);
  units_[static_cast<size_t>(first + unitCount - 1)].repeatEnd = true;
  UpdateDecidingFirstByte();
  return true;
}

void Style::UpdateDecidingFirstByte() {
  decidingFirstByte_ = -1;
  if (units_.empty()) return;
  const StyleUnit& first = units_.front();
  if (first.unitType != UnitType::kFixedVal || first.repeatStart.starts_with(u"start")) return;
  if (first.checksumStart.starts_with(u"start")) {
    // The walk checks the mark's shape before it looks at the byte.
    const std::u16string_view mark = first.checksumStart;
    if (style_text::PartCount(mark, u':') != 2) return;
    if (style_text::PartCount(mark.substr(mark.find(u':') + 1), u',') != 2) return;
  }
  decidingFirstByte_ = first.fixedByte;
}

bool Style::IsDeclared(std::u16string_view name) const {
  return declared_.find(name.substr(0, name.find(u':'))) != declared_.end();
}

bool Style::Refuse(std::u16string_view name, std::atomic<bool>& flag, std::u16string_view message) {
  if (IsDeclared(name)) return false;
  std::u16string text(message);
  text.append(name);
  text.append(u"'");
  ShowMessageBoxOnce(platform_, flag, text);
  return true;
}

void Style::SetInt(std::u16string_view name, int32_t value) {
  if (Refuse(name, style_messages::setIntNotShown, style_messages::kSetIntUndeclared)) return;
  values_.SetInt(name, value);
}

void Style::SetStr(std::u16string_view name, std::u16string_view text) {
  if (Refuse(name, style_messages::setStrNotShown, style_messages::kSetStrUndeclared)) return;
  values_.SetStr(name, text);
}

int32_t Style::GetInt(std::u16string_view name, bool* found) const {
  return values_.GetInt(name, found);
}

std::u16string Style::GetStr(std::u16string_view name, bool* found) const {
  return values_.GetStr(name, found);
}

bool Style::GetBin(std::u16string_view name, std::vector<uint8_t>& bytes) const {
  return values_.GetBin(name, bytes);
}

std::u16string_view Style::GetUnitFormat(std::u16string_view name) const {
  const StyleUnit* unit = FindUnit(name);
  return unit != nullptr ? UnitFormatText(unit->format) : std::u16string_view();
}

const StyleUnit* Style::FindUnit(std::u16string_view name) const {
  for (const StyleUnit& unit : units_) {
    if (unit.name == name) return &unit;
  }
  return nullptr;
}

const StyleUnit* Style::GetUnit(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= units_.size()) return nullptr;
  return &units_[static_cast<size_t>(index)];
}

void Style::CopyFrom(const Style& other, bool copyValues) {
  if (other.units_.empty() || &other == this) return;
  replyName_ = other.replyName_;
  replyKind_ = other.replyKind_;
  units_ = other.units_;
  for (StyleUnit& unit : units_) unit.owner = this;
  decidingFirstByte_ = other.decidingFirstByte_;
  if (copyValues) values_.CopyFrom(other.values_, true);
}

void Style::SetReplyNames(std::u16string_view kind, std::u16string_view name) {
  replyKind_.assign(kind);
  replyName_.assign(name);
}

void Style::ChecksumToBytes(std::u16string_view /*variable*/, uint32_t /*checksum*/,
                            std::vector<uint8_t>& bytes) {
  bytes.clear();
}

int32_t Style::ChecksumToInteger(std::u16string_view /*variable*/, uint32_t checksum) {
  return static_cast<int32_t>(checksum);
}

}  // namespace qb
