// The "poll" subcommand: polls Modbus devices through the library, printing every event and a
// summary with round-trip statistics.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/command.h"

namespace qb::cli {

Command AddPollCommand(CLI::App& parent);

}  // namespace qb::cli
