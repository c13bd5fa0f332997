// The one engine behind the C exports, with its platform and its owner thread. It is constructed
// when the library is loaded, so the engine and its 10 ms timer exist before any export is
// called, and destroyed when the library is unloaded or the process exits.
//
// Every export passes a gate first. Once teardown has begun (or in a child process made by fork,
// which has none of the parent's threads) the gate refuses: the export does nothing and returns
// its failure value instead of reaching an engine that is going or that no thread serves.
#pragma once

#include <atomic>
#include <memory>
#include <type_traits>

#include "engine/engine_port.h"
#include "engine/owner_work.h"
#include "engine/query_engine.h"
#include "platform/default_platform.h"
#include "platform/owner_loop.h"

namespace qb {

class DefaultRuntime {
 public:
  DefaultRuntime();
  ~DefaultRuntime();

  static DefaultRuntime& Get();

  // 1 to 1000: the timer handler runs every ms milliseconds (10 by default). 0: no period; the
  // owner thread sleeps until the engine has something due or a call or bytes arrive. Other
  // values change nothing.
  void SetTimerPeriod(int32_t ms);

  // Runs f(engine) on the owner thread and returns its result; refused: R{}.
  template <class F>
  auto Run(F&& f) {
    return Guarded([&](State& s) { return s.loop.Invoke(Caught([&] { return f(s.engine); })); });
  }
  // The same with the result to give when the call is refused.
  template <class F, class R>
  R RunOr(R refused, F&& f) {
    CallGuard guard;
    if (!guard.admitted) return refused;
    return state_->loop.Invoke(Caught([&] { return f(state_->engine); }, refused));
  }
  // Runs f(engine, port, port-running flag) on the owner thread.
  template <class F>
  auto RunWithPort(F&& f) {
    return Guarded([&](State& s) {
      return s.loop.Invoke(Caught([&] { return f(s.engine, *s.port, s.portRunning); }));
    });
  }
  // Runs f(platform) on the owner thread.
  template <class F>
  auto RunOnPlatform(F&& f) {
    return Guarded([&](State& s) { return s.loop.Invoke(Caught([&] { return f(s.platform); })); });
  }

 private:
  struct State {
    DefaultPlatform platform;
    OwnerLoop loop;
    QueryEngine engine{platform};
    // The library-wide port-running integer the port's reader also watches.
    std::atomic<int32_t> portRunning{1};
    std::unique_ptr<EnginePort> port;
  };

  // One export in progress; admitted is false when the gate refuses.
  struct CallGuard {
    CallGuard();
    ~CallGuard();
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;
    bool admitted;
  };

  template <class G>
  auto Guarded(G&& g) -> std::invoke_result_t<G&, State&> {
    using R = std::invoke_result_t<G&, State&>;
    CallGuard guard;
    if (!guard.admitted) return R();
    return g(*state_);
  }

  // f as a call that nothing escapes from: an exception (a failed allocation) must not cross the C
  // interface into the host, so it is noted and the export gives what it gives when refused.
  template <class F, class R = std::invoke_result_t<F&>>
  auto Caught(F&& f, R failed = R()) {
    return [this, &f, failed]() -> R {
      R result = failed;
      RunOwnerWork(state_->platform, u"call", [&] { result = f(); });
      return result;
    };
  }
  template <class F>
  requires std::is_void_v<std::invoke_result_t<F&>>
  auto Caught(F&& f) {
    return [this, &f] { RunOwnerWork(state_->platform, u"call", f); };
  }

  // One tick of the engine's timer, under the owner thread's barrier.
  static void Tick(State& s);
  static void AfterForkInChild();
  // Leaves the state to the end of the process: no thread is joined, nothing is freed.
  void Abandon();

  std::unique_ptr<State> state_;
};

}  // namespace qb
