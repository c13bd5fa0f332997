// The line to the diagnostics monitor (`quillbox monitor`): each command text goes as one datagram
// to a Unix socket. The owner thread sends, so a send never waits: a monitor that is not there or
// whose queue is full loses the line, and the library runs on as if no monitor were attached.
#pragma once

#include <string>
#include <string_view>

namespace qb {

class MonitorSocket {
 public:
  // The largest datagram the monitor takes; longer commands are cut to it.
  static constexpr size_t kMaxDatagram = 65536;

  MonitorSocket() = default;
  ~MonitorSocket();
  MonitorSocket(const MonitorSocket&) = delete;
  MonitorSocket& operator=(const MonitorSocket&) = delete;

  // Names the monitor's socket; empty detaches. False (and detached) for a path that does not fit
  // a socket address or when no socket can be made.
  bool Attach(const std::string& path);
  bool Attached() const { return fd_ >= 0; }
  // Sends one command as UTF-8; false when it was dropped.
  bool Send(std::u16string_view command);

 private:
  void Close();

  int fd_ = -1;
  std::string path_;
};

}  // namespace qb
