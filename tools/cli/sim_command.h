// The "sim" subcommand: the Modbus RTU/ASCII device simulator on a serial device or on a new
// pseudo-terminal whose path it prints.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/command.h"

namespace qb::cli {

Command AddSimCommand(CLI::App& parent);

}  // namespace qb::cli
