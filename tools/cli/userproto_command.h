// The "userproto" subcommand: writes user protocol definitions from their readable form
// (encode), shows a definition text in that form (decode) and the Style text of each packet (show).
#pragma once

#include <CLI/CLI.hpp>

#include "cli/command.h"

namespace qb::cli {

Command AddUserprotoCommand(CLI::App& parent);

}  // namespace qb::cli
