// The monitor's end of the line: a Unix datagram socket that only its owner may write to. A socket
// file left by a monitor that has gone is replaced; one that a running monitor still listens on is
// not.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace qb::monitor {

class DatagramSocket {
 public:
  DatagramSocket() = default;
  ~DatagramSocket();
  DatagramSocket(const DatagramSocket&) = delete;
  DatagramSocket& operator=(const DatagramSocket&) = delete;

  bool Bind(const std::string& path, std::string* error);
  // Waits up to `wait` for datagrams and hands each to onDatagram(first bytes, full length), until
  // none is left or onDatagram returns false.
  void ReceiveFor(std::chrono::milliseconds wait,
                  const std::function<bool(std::string_view, size_t)>& onDatagram);

 private:
  int fd_ = -1;
  std::string path_;
};

// $XDG_RUNTIME_DIR/quillbox-monitor.sock, else /tmp/quillbox-monitor-UID.sock.
std::string DefaultSocketPath();

}  // namespace qb::monitor
