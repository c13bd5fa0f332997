// The quillbox developer command. Each subcommand lives in its own file and registers itself with
// an Add...Command function; main only parses and runs the one that was chosen.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/demo_command.h"
#include "cli/exit_codes.h"
#include "cli/monitor_command.h"
#include "cli/poll_command.h"
#include "cli/sim_command.h"
#include "cli/userproto_command.h"
#include "quillbox/quillbox.h"

int main(int argc, char** argv) {
  CLI::App app{"Quillbox developer tools"};
  app.name("quillbox");
  app.require_subcommand(1);
  app.footer(qb::cli::kExitCodesHelp);
  app.set_version_flag("--version", std::string("quillbox ") + qbGetVersion());

  std::vector<qb::cli::Command> commands;
  commands.push_back(qb::cli::AddPollCommand(app));
  commands.push_back(qb::cli::AddSimCommand(app));
  commands.push_back(qb::cli::AddDemoCommand(app));
  commands.push_back(qb::cli::AddUserprotoCommand(app));
  commands.push_back(qb::cli::AddMonitorCommand(app));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);  // prints the help, or the error and a hint
    return code == 0 ? qb::cli::kExitOk : qb::cli::kExitBadArgument;
  }
  for (const qb::cli::Command& command : commands) {
    if (command.app->parsed()) return command.run();
  }
  return qb::cli::kExitBadArgument;
}
