// Resolution of port numbers to device paths (see port_device.h).
#include "serial/port_device.h"

#include <cstdlib>

#include "platform/code_page.h"

namespace qb {

bool PortDeviceMap::Set(int32_t port, std::u16string_view path) {
  if (port < 1) return false;
  std::string bytes = Utf16ToUtf8(path);
  if (bytes.size() > kMaxPathBytes || bytes.find('\0') != std::string::npos) return false;
  if (bytes.empty()) {
    paths_.erase(port);
  } else {
    paths_[port] = std::move(bytes);
  }
  return true;
}

const std::string* PortDeviceMap::Find(int32_t port) const {
  const auto it = paths_.find(port);
  return it == paths_.end() ? nullptr : &it->second;
}

std::optional<std::string> ProcessEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string ResolvePortDevice(int32_t port, const PortDeviceMap& mappings, const EnvLookup& env) {
  if (port < 1) return {};
  if (const std::string* mapped = mappings.Find(port)) return *mapped;
  if (env) {
    std::optional<std::string> value = env("QUILLBOX_COM" + std::to_string(port));
    if (value && !value->empty() && value->size() <= PortDeviceMap::kMaxPathBytes) return *value;
  }
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace qb
