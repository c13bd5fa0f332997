// The one engine behind the C exports, with its platform and its owner thread. It is constructed
// when the library is loaded, so the engine and its 10 ms timer exist before any export is
// called, and destroyed when the library is unloaded.
#pragma once

#include <atomic>
#include <memory>

#include "engine/engine_port.h"
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

  // Runs f(engine) on the owner thread and returns its result.
  template <class F>
  auto Run(F&& f) {
    return loop_.Invoke([&] { return f(engine_); });
  }
  // Runs f(engine, port, port-running flag) on the owner thread.
  template <class F>
  auto RunWithPort(F&& f) {
    return loop_.Invoke([&] { return f(engine_, *port_, portRunning_); });
  }
  // Runs f(platform) on the owner thread.
  template <class F>
  auto RunOnPlatform(F&& f) {
    return loop_.Invoke([&] { return f(platform_); });
  }

 private:
  DefaultPlatform platform_;
  OwnerLoop loop_;
  QueryEngine engine_;
  // The library-wide port-running integer the port's reader also watches.
  std::atomic<int32_t> portRunning_{1};
  std::unique_ptr<EnginePort> port_;
};

}  // namespace qb
