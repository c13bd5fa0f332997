// Work on the owner thread (the timer's ticks, received bytes, the exports' calls) runs under a
// last barrier: an exception the engine lets out there (a failed allocation) would end the host's
// process or cross the C interface into it. It is noted instead and the loop goes on; the query in
// progress then ends as a lost reply does, by its time-out, and an export gives its refused value.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "platform/code_page.h"
#include "platform/platform.h"

namespace qb {

template <class F>
void RunOwnerWork(Platform& platform, std::u16string_view what, F&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    platform.DebugNote(std::u16string(what) + u": stopped by " + Utf8ToUtf16(e.what()));
  } catch (...) {
    platform.DebugNote(std::u16string(what) + u": stopped by an exception");
  }
}

}  // namespace qb
