// The serial line options that `quillbox poll` and `quillbox sim` share, with mbpoll's names and
// defaults: -b 19200, -d 8, -s 1, -P even.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace qb::cli {

struct LineOptions {
  int baud = 19200;
  int dataBits = 8;
  int stopBits = 1;
  std::string parity = "even";  // none, even or odd
};

void AddLineOptions(CLI::App& app, LineOptions& line);

}  // namespace qb::cli
