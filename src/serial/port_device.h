// Which device file a COM port number stands for. Hosts name serial ports by number, as on the
// panel the library comes from; on Linux the number is mapped to a device path: a mapping the
// host set, else the environment variable QUILLBOX_COM<n>, else /dev/ttyS<n-1>. The resolution
// is a pure function of its inputs so that it can be checked without touching the environment.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qb {

// The host's port number -> device path mappings (paths in UTF-8, as Linux file names are).
class PortDeviceMap {
 public:
  // Longest path a mapping keeps; longer ones are refused (PATH_MAX of Linux, terminator included).
  static constexpr size_t kMaxPathBytes = 4095;

  // Maps port to path; an empty path removes the mapping. False (and no change) for a port number
  // below 1, a path that is too long or one with a zero character.
  bool Set(int32_t port, std::u16string_view path);
  // The mapped path, or null when the port has none.
  const std::string* Find(int32_t port) const;

 private:
  std::map<int32_t, std::string> paths_;
};

// Looks an environment variable up: its value, or nothing when it is not set.
using EnvLookup = std::function<std::optional<std::string>(const std::string& name)>;

// The process environment (getenv).
std::optional<std::string> ProcessEnvironment(const std::string& name);

// The device path of port: the mapping, else a non-empty QUILLBOX_COM<port> variable, else
// /dev/ttyS<port-1>. Empty for a port number below 1, which names no port.
std::string ResolvePortDevice(int32_t port, const PortDeviceMap& mappings, const EnvLookup& env);

}  // namespace qb
