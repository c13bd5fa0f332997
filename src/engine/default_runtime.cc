#include "engine/default_runtime.h"

namespace qb {
namespace {

// The default engine of the library: the one global object the exports drive.
DefaultRuntime runtime;

}  // namespace

DefaultRuntime::DefaultRuntime() : engine_(platform_) {
  engine_.OnCreated();
  port_ = std::make_unique<EnginePort>(platform_, loop_, engine_);
  engine_.SetPort(port_.get());
  loop_.StartThread();
  loop_.SetTimer(QueryEngine::kTimerPeriodMs, [this] { engine_.OnTimer(); });
}

DefaultRuntime::~DefaultRuntime() {
  loop_.SetTimer(0, nullptr);
  // The port closes on the owner thread, so no chunk is handed over while it goes.
  loop_.Call([this] {
    engine_.SetPort(nullptr);
    port_.reset();
  });
  loop_.Stop();
}

DefaultRuntime& DefaultRuntime::Get() { return runtime; }

void DefaultRuntime::SetTimerPeriod(int32_t ms) {
  if (ms == 0) {
    loop_.SetDeadlineTimer([this] { engine_.OnTimer(); }, [this] { return engine_.MsUntilDue(); });
  } else if (ms > 0 && ms <= 1000) {
    loop_.SetTimer(static_cast<uint32_t>(ms), [this] { engine_.OnTimer(); });
  }
}

}  // namespace qb
