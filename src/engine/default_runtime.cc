#include "engine/default_runtime.h"

namespace qb {
namespace {

// The default engine of the library: the one global object the exports drive.
DefaultRuntime runtime;

}  // namespace

DefaultRuntime::DefaultRuntime() : engine_(platform_) {
  engine_.OnCreated();
  loop_.StartThread();
  loop_.SetTimer(QueryEngine::kTimerPeriodMs, [this] { engine_.OnTimer(); });
}

DefaultRuntime::~DefaultRuntime() {
  loop_.SetTimer(0, nullptr);
  loop_.Stop();
}

DefaultRuntime& DefaultRuntime::Get() { return runtime; }

}  // namespace qb
