#include "engine/default_runtime.h"

#include <pthread.h>

#include <chrono>
#include <thread>

#include "engine/owner_work.h"

namespace qb {
namespace {

enum GateState : int32_t { kOpen, kClosed, kForked };

// The gate outlives the runtime: both are trivially destroyed, so an export that comes after the
// teardown still finds them.
constinit std::atomic<int32_t> gateState{kOpen};
constinit std::atomic<int32_t> activeCalls{0};
// A state left to the end of the process stays reachable from here (no leak is reported).
constinit void* abandonedState = nullptr;

// How long the teardown waits for the exports in progress on other threads to return.
constexpr std::chrono::seconds kDrainLimit{2};

// The default engine of the library: the one global object the exports drive.
DefaultRuntime runtime;

}  // namespace

DefaultRuntime::CallGuard::CallGuard() {
  activeCalls.fetch_add(1);
  admitted = gateState.load() == kOpen;
  if (!admitted) activeCalls.fetch_sub(1);
}

DefaultRuntime::CallGuard::~CallGuard() {
  if (admitted) activeCalls.fetch_sub(1);
}

DefaultRuntime::DefaultRuntime() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.engine.OnCreated();
  s.platform.SetOwnerLoop(&s.loop);
  s.port = std::make_unique<EnginePort>(s.platform, s.loop, s.engine);
  s.engine.SetPort(s.port.get());
  s.loop.StartThread();
  s.loop.SetTimer(QueryEngine::kTimerPeriodMs, [&s] { Tick(s); });
  pthread_atfork(nullptr, nullptr, &DefaultRuntime::AfterForkInChild);
}

DefaultRuntime::~DefaultRuntime() {
  if (!state_) return;
  if (gateState.exchange(kClosed) == kForked) {
    // A child of fork: the owner thread exists only in the parent.
    Abandon();
    return;
  }
  State& s = *state_;
  if (s.loop.IsOwnerThread()) {
    // exit() from inside the event procedure or another callback: the owner thread never returns
    // to its loop. The device is given back; the rest ends with the process.
    s.engine.SetPort(nullptr);
    s.port->Close();
    Abandon();
    return;
  }
  // Exports that other threads are making now run to their end; later ones are refused.
  const auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
  while (activeCalls.load() != 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      Abandon();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  s.loop.SetTimer(0, nullptr);
  // The port closes on the owner thread, so no chunk is handed over while it goes.
  s.loop.Call([&s] {
    s.engine.SetPort(nullptr);
    s.port.reset();
  });
  s.loop.Stop();
  state_.reset();
}

void DefaultRuntime::Abandon() { abandonedState = state_.release(); }

void DefaultRuntime::AfterForkInChild() {
  gateState.store(kForked);
  activeCalls.store(0);
  // Neither the port's lock nor its descriptors stay with a child that does not exec.
  if (runtime.state_ && runtime.state_->port) runtime.state_->port->ForgetAfterFork();
}

DefaultRuntime& DefaultRuntime::Get() { return runtime; }

void DefaultRuntime::Tick(State& s) {
  RunOwnerWork(s.platform, u"timer", [&s] { s.engine.OnTimer(); });
}

void DefaultRuntime::SetTimerPeriod(int32_t ms) {
  CallGuard guard;
  if (!guard.admitted) return;
  State& s = *state_;
  if (ms == 0) {
    s.loop.SetDeadlineTimer([&s] { Tick(s); },
                            [&s] {
                              int64_t due = -1;  // nothing due: a failed answer must not spin
                              RunOwnerWork(s.platform, u"timer",
                                           [&] { due = s.engine.MsUntilDue(); });
                              return due;
                            });
  } else if (ms > 0 && ms <= 1000) {
    s.loop.SetTimer(static_cast<uint32_t>(ms), [&s] { Tick(s); });
  }
}

}  // namespace qb
