// The "demo" subcommand: the library polls the built-in simulator over a pseudo-terminal pair,
// with no hardware and no arguments needed.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/command.h"

namespace qb::cli {

Command AddDemoCommand(CLI::App& parent);

}  // namespace qb::cli
