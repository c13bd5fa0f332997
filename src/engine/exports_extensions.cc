// C exports that the system does not have: the version, detailed events and the last error text.
#include <algorithm>

#include "engine/default_runtime.h"
#include "platform/version.h"
#include "quillbox/quillbox.h"

using qb::DefaultRuntime;
using qb::QueryEngine;

extern "C" {

const char* qbGetVersion(void) { return QB_VERSION_TEXT; }

void qbSetDetailedEvents(int32_t on) {
  DefaultRuntime::Get().Run([&](QueryEngine& e) { e.SetDetailedEvents(on != 0); });
}

int32_t qbGetLastErrorText(qb_wchar* dst, int32_t max) {
  return DefaultRuntime::Get().Run([&](QueryEngine& e) {
    const std::u16string& text = e.LastErrorText();
    if (dst != nullptr && max > 0) {
      const size_t n = std::min(text.size(), static_cast<size_t>(max) - 1);
      std::copy_n(text.data(), n, dst);
      dst[n] = 0;
    }
    return static_cast<int32_t>(text.size());
  });
}

}  // extern "C"
