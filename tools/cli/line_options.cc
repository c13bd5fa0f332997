#include "cli/line_options.h"

namespace qb::cli {

void AddLineOptions(CLI::App& app, LineOptions& line) {
  app.add_option("-b,--baud", line.baud, "Baud rate")
      ->check(CLI::Range(50, 4000000))
      ->capture_default_str();
  app.add_option("-d,--databits", line.dataBits, "Data bits: 7 or 8")
      ->check(CLI::IsMember({7, 8}))
      ->capture_default_str();
  app.add_option("-s,--stopbits", line.stopBits, "Stop bits: 1 or 2")
      ->check(CLI::IsMember({1, 2}))
      ->capture_default_str();
  app.add_option("-P,--parity", line.parity,
                 "Parity: none, even or odd (a pseudo-terminal needs none on the polling side)")
      ->transform(CLI::IsMember({"none", "even", "odd"}, CLI::ignore_case))
      ->capture_default_str();
}

}  // namespace qb::cli
