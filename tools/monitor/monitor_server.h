// `quillbox monitor` at work: datagrams from the socket update the monitor's state, a 50 ms refresh
// publishes what changed, and a read-only web page shows it live. The page gets the whole state
// when it connects, then each refresh's changes as server-sent events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "monitor/datagram_socket.h"
#include "monitor/monitor_state.h"

namespace httplib {
class Server;
}

namespace qb::monitor {

class MonitorServer {
 public:
  static constexpr std::chrono::milliseconds kRefresh{50};

  MonitorServer();
  ~MonitorServer();

  // Creates the socket and binds the page's address (port 0: any free port).
  bool Start(const std::string& socketPath, const std::string& host, int port, std::string* error);
  int Port() const { return port_; }
  // Receives and refreshes until stop is set, then closes the page's connections.
  void Run(const std::atomic<bool>& stop);

 private:
  void Publish();
  void AddRoutes();

  std::mutex mutex_;
  std::condition_variable published_;
  MonitorState state_;
  // The latest refreshes' changes, oldest first; a page that fell further behind starts over.
  std::deque<std::pair<uint64_t, std::string>> updates_;
  uint64_t sequence_ = 0;
  bool stopping_ = false;

  DatagramSocket socket_;
  std::unique_ptr<httplib::Server> http_;
  std::thread httpThread_;
  int port_ = 0;
};

}  // namespace qb::monitor
