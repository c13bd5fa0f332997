// The trace file: selected events, each stamped with the millisecond tick, appended in the system
// code page while tracing is enabled. Each run of the library starts a new file: the file is
// deleted when the engine comes to life. The file is opened and closed for every line so that
// it can be read, copied or deleted while the library runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace qb {

class TraceFile {
 public:
  static constexpr const char* kDefaultPath = "Flash Disk/OrdwickLog.txt";

  TraceFile() = default;
  explicit TraceFile(std::string path) : path_(std::move(path)) {}

  void Enable() { enabled_ = true; }
  bool Enabled() const { return enabled_; }
  // Changes where lines go; the file at the old or the new path is left as it is.
  void SetPath(std::string path) { path_ = std::move(path); }
  const std::string& Path() const { return path_; }
  // Removes the file of an earlier run; a missing file is fine.
  void Delete() const;
  // Appends "[" + tick + "]" + text (no line end added). A file that cannot be opened loses the
  // line. False when nothing was written.
  bool Write(uint32_t tick, std::u16string_view text, const CodePage& codePage) const;

 private:
  std::string path_ = kDefaultPath;
  bool enabled_ = false;
};

}  // namespace qb
