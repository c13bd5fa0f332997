// What each subcommand of the quillbox command gives to main: its CLI11 sub-application, and the
// action to run once the command line has been parsed into it.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace qb::cli {

struct Command {
  CLI::App* app = nullptr;
  std::function<int()> run;
};

}  // namespace qb::cli
