// The "monitor" subcommand: receives the trace viewer's commands and the library's Log window and
// drawn texts on a Unix socket and shows them live in a read-only web page.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/command.h"

namespace qb::cli {

Command AddMonitorCommand(CLI::App& parent);

}  // namespace qb::cli
