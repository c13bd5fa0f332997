#include "platform/monitor_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/code_page.h"

namespace qb {

MonitorSocket::~MonitorSocket() { Close(); }

void MonitorSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
}

bool MonitorSocket::Attach(const std::string& path) {
  Close();
  if (path.empty() || path.size() >= sizeof(sockaddr_un::sun_path)) return false;
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  path_ = path;
  return true;
}

bool MonitorSocket::Send(std::u16string_view command) {
  if (fd_ < 0) return false;
  std::string bytes = Utf16ToUtf8(command);
  if (bytes.size() > kMaxDatagram) {
    // Cut at a character boundary, so the monitor still reads valid text.
    size_t end = kMaxDatagram;
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) --end;
    bytes.resize(end);
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path_.data(), path_.size());
  // MSG_DONTWAIT: a full queue drops the line instead of holding up the owner thread.
  const ssize_t sent = ::sendto(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return sent == static_cast<ssize_t>(bytes.size());
}

}  // namespace qb
