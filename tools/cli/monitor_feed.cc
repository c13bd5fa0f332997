#include "cli/monitor_feed.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "monitor/datagram_socket.h"

namespace qb::cli {

MonitorFeed::MonitorFeed(const std::string& socketPath)
    : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)), path_(socketPath) {}

MonitorFeed::~MonitorFeed() {
  if (fd_ >= 0) ::close(fd_);
}

void MonitorFeed::Send(const std::string& command) {
  sockaddr_un address{};
  if (fd_ < 0 || path_.size() >= sizeof address.sun_path) return;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path_.data(), path_.size());
  // As the library does: a monitor that is away or busy loses the line, the poll goes on.
  ::sendto(fd_, command.data(), command.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
           reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

void MonitorFeed::Event(const PollEvent& event) {
  using Kind = PollEvent::Kind;
  static const char* const kNames[] = {"reply", "timeout",  "watchdog", "exception",
                                       "sent",  "rejected", "port lost"};
  if (event.kind == Kind::kSent) return;
  std::string line =
      "item " + std::to_string(event.item) + " " + kNames[static_cast<int>(event.kind)];
  if (event.kind == Kind::kException) line += " " + std::to_string(event.exceptionCode);
  for (size_t i = 0; i < event.data.size(); ++i) {
    line += (i == 0 ? " [" : " ") + std::to_string(event.data[i]);
  }
  if (!event.data.empty()) line += "]";
  if (!event.text.empty()) line += " " + event.text;
  Send("xta1t:" + line);
  // The second pane gathers what went wrong.
  if (event.kind != Kind::kReply) Send("xta2t:" + line);
}

void MonitorFeed::Status(const std::string& name, uint64_t value) {
  Send("xts:" + name + "=" + std::to_string(value));
}

CLI::Option* AddMonitorOption(CLI::App* app, std::string* path) {
  return app
      ->add_option("--monitor", *path,
                   "Send the traffic to `quillbox monitor` too: --monitor=PATH, or --monitor alone "
                   "for $QUILLBOX_MONITOR or the monitor's default socket")
      ->expected(0, 1);
}

std::string MonitorPath(const CLI::Option* option, const std::string& given) {
  if (option->count() == 0) return "";
  if (!given.empty()) return given;
  const char* fromEnvironment = std::getenv("QUILLBOX_MONITOR");
  return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment
                                                                : monitor::DefaultSocketPath();
}

}  // namespace qb::cli
