// C exports: the getters of the last event on the default engine.
#include <algorithm>
#include <cstring>

#include "engine/default_runtime.h"
#include "quillbox/quillbox.h"

using qb::DefaultRuntime;
using qb::QueryEngine;

namespace {

// Copies n bytes of the text as UTF-16 (least significant byte first), then two zero bytes.
int32_t CopyWide(uint8_t* dst, const std::u16string& text, int32_t n) {
  if (dst == nullptr) return 0;
  for (int32_t i = 0; i < n; ++i) {
    const char16_t c = text[static_cast<size_t>(i / 2)];
    dst[i] = static_cast<uint8_t>(i % 2 == 0 ? c & 0xFF : c >> 8);
  }
  dst[n] = 0;
  dst[n + 1] = 0;
  return n;
}

int32_t TextBytes(const std::u16string& text) { return static_cast<int32_t>(2 * text.size()); }

int32_t CopyWhole(uint8_t* dst, const std::u16string& (QueryEngine::*text)() const) {
  return DefaultRuntime::Get().Run([&](QueryEngine& e) {
    const std::u16string& t = (e.*text)();
    return CopyWide(dst, t, TextBytes(t));
  });
}

// Copies as much of the text as fits in maxBytes bytes with its two zero bytes, in whole UTF-16
// units; returns the bytes the whole text needs with them.
int32_t CopyBounded(uint8_t* dst, const std::u16string& text, int32_t maxBytes) {
  const int32_t needed = TextBytes(text) + 2;
  if (dst != nullptr && maxBytes >= 2) {
    CopyWide(dst, text, std::min(TextBytes(text), (maxBytes - 2) / 2 * 2));
  }
  return needed;
}

int32_t CopyBoundedFrom(uint8_t* dst, int32_t maxBytes,
                        const std::u16string& (QueryEngine::*text)() const) {
  return DefaultRuntime::Get().Run(
      [&](QueryEngine& e) { return CopyBounded(dst, (e.*text)(), maxBytes); });
}

}  // namespace

extern "C" {

int32_t qbGetLastRxEventType(void) {
  return DefaultRuntime::Get().Run([](QueryEngine& e) { return e.LastRx().eventType; });
}
int32_t qbGetLastRxItemId(void) {
  return DefaultRuntime::Get().Run([](QueryEngine& e) { return e.LastRx().itemId; });
}
int32_t qbGetLastRxDataType(void) {
  return DefaultRuntime::Get().Run([](QueryEngine& e) { return e.LastRx().dataType; });
}
int32_t qbGetLastRxDataCount(void) {
  return DefaultRuntime::Get().Run(
      [](QueryEngine& e) { return static_cast<int32_t>(e.LastRx().words.size()); });
}
int32_t qbGetLastRxDataAtIndex(int32_t index) {
  return DefaultRuntime::Get().RunOr(QB_NO_DATA, [&](QueryEngine& e) -> int32_t {
    const auto& words = e.LastRx().words;
    if (index < 0 || static_cast<size_t>(index) >= words.size()) return QB_NO_DATA;
    return words[static_cast<size_t>(index)];
  });
}
int32_t qbGetLastRxRawSize(void) {
  return DefaultRuntime::Get().Run(
      [](QueryEngine& e) { return static_cast<int32_t>(e.LastRx().raw.size()); });
}
int32_t qbGetLastRxRaw(uint8_t* dst) {
  if (dst == nullptr) return QB_NO;
  return DefaultRuntime::Get().Run([&](QueryEngine& e) {
    const auto& raw = e.LastRx().raw;
    if (!raw.empty()) std::memcpy(dst, raw.data(), raw.size());
    return QB_YES;
  });
}
int32_t qbGetLastItmExp(uint8_t* dst, int32_t maxBytes) {
  return DefaultRuntime::Get().Run([&](QueryEngine& e) {
    const std::u16string text = e.CurrentItemDescription();
    return CopyWide(dst, text, std::clamp(TextBytes(text), 0, std::max(maxBytes, 0)));
  });
}
int32_t qbGetLastEvntAsgstr(uint8_t* dst) {
  return DefaultRuntime::Get().Run([&](QueryEngine& e) {
    const std::u16string& text = e.LastRx().valuesText;
    return CopyWide(dst, text, TextBytes(text));
  });
}
int32_t qbGetLastEvntAsgstrEnoughByteCnt(void) {
  return DefaultRuntime::Get().Run(
      [](QueryEngine& e) { return TextBytes(e.LastRx().valuesText) + 2; });
}
int32_t qbGetLastPaktToSend(uint8_t* dst) { return CopyWhole(dst, &QueryEngine::LastPacketName); }
int32_t qbGetLastWordArrLoVars(uint8_t* dst) { return CopyWhole(dst, &QueryEngine::WordArrLoVars); }
int32_t qbGetLastWordArrLoVarsEnoughByteCnt(void) {
  return DefaultRuntime::Get().Run([](QueryEngine& e) { return TextBytes(e.WordArrLoVars()) + 2; });
}
int32_t qbGetLastTxSituation(uint8_t* dst) { return CopyWhole(dst, &QueryEngine::LastTxSituation); }
int32_t qbGetTotalStatusDescription(void) { return 0; }

int32_t qbGetLastRxRawEx(uint8_t* dst, int32_t maxBytes) {
  return DefaultRuntime::Get().Run([&](QueryEngine& e) {
    const auto& raw = e.LastRx().raw;
    const auto size = static_cast<int32_t>(raw.size());
    if (dst != nullptr && maxBytes > 0 && size > 0) {
      std::memcpy(dst, raw.data(), static_cast<size_t>(std::min(size, maxBytes)));
    }
    return size;
  });
}
int32_t qbGetLastEvntAsgstrEx(uint8_t* dst, int32_t maxBytes) {
  return DefaultRuntime::Get().Run(
      [&](QueryEngine& e) { return CopyBounded(dst, e.LastRx().valuesText, maxBytes); });
}
int32_t qbGetLastPaktToSendEx(uint8_t* dst, int32_t maxBytes) {
  return CopyBoundedFrom(dst, maxBytes, &QueryEngine::LastPacketName);
}
int32_t qbGetLastWordArrLoVarsEx(uint8_t* dst, int32_t maxBytes) {
  return CopyBoundedFrom(dst, maxBytes, &QueryEngine::WordArrLoVars);
}
int32_t qbGetLastTxSituationEx(uint8_t* dst, int32_t maxBytes) {
  return CopyBoundedFrom(dst, maxBytes, &QueryEngine::LastTxSituation);
}

}  // extern "C"
