// See frame_receiver.h. Consumed bytes are not erased one by one: the receive loop walks an offset
// through the buffer and cuts the front once per call, so resynchronising over a long run of
// garbage costs no more than the parse attempts themselves.
#include "protocols/frame_receiver.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "style/style_parser.h"
#include "style/style_text.h"

namespace qb {
namespace {

constexpr std::u16string_view kNoCurrentStyle = u"먼저 AddRecvStyle()을 하세요";

// The largest value a field can hold once parsed, as a repeat count; cap when it could be larger.
uint64_t LargestCount(const StyleUnit& unit, size_t cap) {
  if (unit.maxValue >= 0) return static_cast<uint64_t>(unit.maxValue);
  const int32_t length = std::max(unit.length, 0);
  uint64_t base = 10;
  if (unit.format == UnitFormat::kHex) base = 16;
  if (unit.format == UnitFormat::kNum) base = 256;
  uint64_t largest = 1;
  for (int32_t i = 0; i < length && largest <= cap; ++i) largest *= base;
  return largest - 1;
}

uint64_t RoundsBound(const Style& style, std::u16string_view count, size_t cap) {
  if (style_text::AllDigits(count)) {
    return static_cast<uint64_t>(std::max(style_text::ParseDecimal(count), 0));
  }
  for (const StyleUnit& unit : style.Units()) {
    if (unit.name == count) return LargestCount(unit, cap);
    for (size_t f = 0; f < unit.bitNames.size(); ++f) {
      if (unit.bitNames[f] == count) {
        return unit.bitCounts[f] >= 32 ? cap : (uint64_t{1} << unit.bitCounts[f]) - 1;
      }
    }
  }
  return cap;  // a count that no unit of the frame carries: no bound known
}

uint64_t UnitBound(const StyleUnit& unit) {
  if (unit.unitType == UnitType::kFixedVal) return 1;
  if (unit.unitType != UnitType::kVar) return 0;
  if (unit.format == UnitFormat::kBit) return 1;
  return static_cast<uint64_t>(std::max(unit.length, 0));
}

}  // namespace

size_t LongestFrameOf(const Style& style, size_t cap) {
  uint64_t total = 0;
  uint64_t group = 0;
  uint64_t rounds = 0;
  bool inGroup = false;
  for (const StyleUnit& unit : style.Units()) {
    if (!inGroup && unit.repeatStart.starts_with(u"start")) {
      const std::u16string_view mark = unit.repeatStart;
      const size_t colon = mark.find(u':');
      rounds = colon == std::u16string_view::npos ? cap
                                                  : RoundsBound(style, mark.substr(colon + 1), cap);
      rounds = std::max<uint64_t>(rounds, 1);  // a group is always walked once
      inGroup = true;
      group = 0;
    }
    (inGroup ? group : total) += UnitBound(unit);
    if (inGroup && unit.repeatEnd) {
      total += std::min<uint64_t>(rounds, cap) * group;
      inGroup = false;
    }
    if (total >= cap) return cap;
  }
  if (inGroup) total += std::min<uint64_t>(rounds, cap) * group;
  return static_cast<size_t>(std::min<uint64_t>(total, cap));
}

FrameReceiver::FrameReceiver(Platform& platform) : platform_(platform) {}

FrameReceiver::~FrameReceiver() = default;

bool FrameReceiver::AddRecvStyle(std::u16string_view text, std::u16string_view protocol,
                                 std::u16string_view packet, bool bigEndian) {
  auto style = std::make_unique<Style>(platform_);
  const bool compiled = style->MakeStyle(text, bigEndian);
  style->SetReplyNames(protocol, packet);
  style->SetOwner(this);
  styles_.push_back(std::move(style));
  hasCurrent_ = true;
  longestFrameKnown_ = false;
  return compiled;
}

Style* FrameReceiver::CurrentStyle() {
  if (!hasCurrent_ || styles_.empty()) {
    platform_.ShowMessageBox(kNoCurrentStyle);
    return nullptr;
  }
  return styles_.back().get();
}

bool FrameReceiver::DefineRecvChecksum(std::u16string_view key, int32_t first, int32_t count,
                                       std::u16string_view method) {
  Style* style = CurrentStyle();
  return style != nullptr && style->SetChecksumRange(key, first, count, method);
}

bool FrameReceiver::DefineRecvRepeat(std::u16string_view count, int32_t first, int32_t unitCount) {
  Style* style = CurrentStyle();
  longestFrameKnown_ = false;
  return style != nullptr && style->SetRepeatRange(count, first, unitCount);
}

bool FrameReceiver::SetRecvStyleValue(std::u16string_view key, std::u16string_view text) {
  Style* style = CurrentStyle();
  if (style == nullptr) return false;
  style->Defaults().SetStr(key, text);
  return true;
}

void FrameReceiver::ClearRecvStyles() {
  styles_.clear();
  hasCurrent_ = false;
  longestFrameKnown_ = false;
}

void FrameReceiver::DropBuffered() {
  buffer_.clear();
  awaited_ = 0;
}

const Style* FrameReceiver::FindRecvStyle(std::u16string_view packet) const {
  for (const auto& style : styles_) {
    if (style->ReplyName() == packet) return style.get();
  }
  return nullptr;
}

size_t FrameReceiver::LongestFrame() const {
  if (!longestFrameKnown_) {
    longestFrame_ = 0;
    for (const auto& style : styles_) {
      longestFrame_ = std::max(longestFrame_, LongestFrameOf(*style, kLongestFrameCap));
    }
    longestFrameKnown_ = true;
  }
  return longestFrame_;
}

int FrameReceiver::TryStyles(std::span<const uint8_t> window, size_t& consumed, size_t& styleIndex,
                             size_t& shortfall) {
  bool needMore = false;
  shortfall = SIZE_MAX;
  for (size_t s = 0; s < styles_.size(); ++s) {
    scratch_.Clear();
    size_t used = 0;
    size_t missing = 0;
    const int result = ParseFrameAt(*styles_[s], window, scratch_, *this, used, &missing);
    // A Style that matches without reading a byte would match forever at the same place.
    if (result == kParseMatched && used > 0) {
      consumed = used;
      styleIndex = s;
      return kParseMatched;
    }
    if (result == kParseNeedMore) {
      needMore = true;
      shortfall = std::min(shortfall, missing);
    }
  }
  return needMore ? kParseNeedMore : kParseNoMatch;
}

void FrameReceiver::Deliver(size_t styleIndex) {
  const Style& style = *styles_[styleIndex];
  lastProtocol_ = style.ReplyKind();
  lastPacket_ = style.ReplyName();
  std::swap(values_, scratch_);
  // Copies: the hooks may replace the Styles and the names while they run.
  const std::u16string protocol = lastProtocol_;
  const std::u16string packet = lastPacket_;
  values_.ForEachText([&](std::u16string_view key, std::u16string_view text, bool isNumber) {
    if (isNumber) {
      OnIntValue(protocol, packet, key, style_text::ParseDecimal(text));
    } else {
      OnTextValue(protocol, packet, key, text);
    }
  });
  for (const auto& [key, bytes] : values_.Binaries()) OnBinaryValue(protocol, packet, key, bytes);
  OnPacket(protocol, packet);
}

void FrameReceiver::Receive(const uint8_t* bytes, size_t count) {
  if (bytes != nullptr && count > 0) buffer_.insert(buffer_.end(), bytes, bytes + count);
  // A hook that feeds bytes back in (through the host) only adds them; the running loop takes them.
  if (receiving_) return;
  receiving_ = true;
  awaited_ = 0;
  size_t head = 0;
  size_t overlong = 0;
  while (head < buffer_.size()) {
    const size_t longest = LongestFrame();
    const size_t available = buffer_.size() - head;
    const std::span<const uint8_t> window(buffer_.data() + head, std::min(available, longest));
    size_t consumed = 0;
    size_t styleIndex = 0;
    size_t shortfall = 0;
    const int result = TryStyles(window, consumed, styleIndex, shortfall);
    if (result == kParseMatched) {
      head += consumed;
      Deliver(styleIndex);
      continue;
    }
    if (result == kParseNeedMore) {
      if (available <= longest) {
        awaited_ = shortfall;  // a frame may still be on its way
        break;
      }
      // Even the longest frame would have been decided within the window: what waits at the
      // front is no frame, however long it goes on.
      ++overlong;
    }
    ++head;  // resynchronise one byte further on
  }
  // A hook may have dropped the buffer under the running loop.
  head = std::min(head, buffer_.size());
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(head));
  receiving_ = false;
  if (overlong > 0) {
    std::u16string note = u"FrameReceiver: ";
    style_text::AppendDecimal(note, static_cast<int64_t>(overlong));
    note += u" byte(s) dropped, longer than any frame of ";
    style_text::AppendDecimal(note, static_cast<int64_t>(LongestFrame()));
    note += u" bytes";
    platform_.DebugNote(note);
  }
}

void FrameReceiver::OnPacket(std::u16string_view, std::u16string_view) {}
void FrameReceiver::OnIntValue(std::u16string_view, std::u16string_view, std::u16string_view,
                               int32_t) {}
void FrameReceiver::OnTextValue(std::u16string_view, std::u16string_view, std::u16string_view,
                                std::u16string_view) {}
void FrameReceiver::OnBinaryValue(std::u16string_view, std::u16string_view, std::u16string_view,
                                  std::span<const uint8_t>) {}

}  // namespace qb
