#include "monitor/datagram_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "monitor/monitor_state.h"

namespace qb::monitor {
namespace {

bool Address(const std::string& path, sockaddr_un* address) {
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

// True when a monitor still takes datagrams at path.
bool Listening(const sockaddr_un& address) {
  const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool live =
      ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(probe);
  return live;
}

}  // namespace

std::string DefaultSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0')
    return std::string(runtime) + "/quillbox-monitor.sock";
  return "/tmp/quillbox-monitor-" + std::to_string(::getuid()) + ".sock";
}

DatagramSocket::~DatagramSocket() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
}

bool DatagramSocket::Bind(const std::string& path, std::string* error) {
  sockaddr_un address;
  if (!Address(path, &address)) {
    *error = "socket path is empty or too long: " + path;
    return false;
  }
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      *error = path + " exists and is not a socket";
      return false;
    }
    if (Listening(address)) {
      *error = "another monitor listens on " + path;
      return false;
    }
    ::unlink(path.c_str());
  }
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  // Owner-only from the moment it exists: no other user can send to the monitor.
  const mode_t previous = ::umask(0177);
  const int bound = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::umask(previous);
  if (bound != 0 || ::chmod(path.c_str(), 0600) != 0) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  // Room for bursts: the library drops lines when this queue is full.
  const int size = 4 << 20;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  path_ = path;
  return true;
}

void DatagramSocket::ReceiveFor(std::chrono::milliseconds wait,
                                const std::function<bool(std::string_view, size_t)>& onDatagram) {
  pollfd ready{fd_, POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) return;
  std::vector<char> buffer(MonitorState::kMaxDatagram + 1);
  for (;;) {
    // MSG_TRUNC: the full length comes back even when the datagram did not fit.
    const ssize_t size = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (size < 0) return;
    const size_t kept = std::min(static_cast<size_t>(size), buffer.size());
    if (!onDatagram(std::string_view(buffer.data(), kept), static_cast<size_t>(size))) return;
  }
}

}  // namespace qb::monitor
