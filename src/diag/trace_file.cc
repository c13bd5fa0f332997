#include "diag/trace_file.h"

#include <cstdio>

namespace qb {

void TraceFile::Delete() const { std::remove(path_.c_str()); }

bool TraceFile::Write(uint32_t tick, std::u16string_view text, const CodePage& codePage) const {
  if (!enabled_) return false;
  std::string line = "[";
  line += std::to_string(tick);
  line += ']';
  line += codePage.ToBytes(text);
  std::FILE* file = std::fopen(path_.c_str(), "ab");
  if (file == nullptr) return false;
  const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace qb
