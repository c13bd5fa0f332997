#include "cli/userproto_poll.h"

#include <iostream>

#include "cli/exit_codes.h"
#include "cli/userproto_format.h"
#include "cli/userproto_host.h"

namespace qb::cli {

void AddUserPollOptions(CLI::App& app, UserPollOptions& o) {
  app.add_option("--definition", o.definition,
                 "USRPRTCL: the readable (TOML) user protocol definition");
  app.add_option("--packet", o.autoPackets,
                 "USRPRTCL: a Tx packet polled every cycle, NAME[:VALUES] with VALUES as "
                 "ADDR=1,TEXT=\"ab\" or a values text ADDR=n1&TEXT=s6162 (repeatable)");
  app.add_option("--send", o.manualPackets, "USRPRTCL: a Tx packet sent once, NAME[:VALUES]");
}

int RunUserPoll(const UserPollOptions& o, const std::string& device, uint32_t baud, int timeoutMs,
                double seconds) {
  if (o.definition.empty() || device.empty()) {
    std::cerr << "quillbox poll: USRPRTCL needs a device and --definition\n";
    return kExitBadArgument;
  }
  std::string error;
  const auto def = ReadDefinitionFile(o.definition, error);
  if (!def) {
    std::cerr << error << "\n";
    return kExitValuesFile;
  }
  UserPollConfig config;
  config.device = device;
  config.baud = baud;
  config.timeoutMs = timeoutMs;
  config.seconds = seconds > 0 ? seconds : 3;
  config.definitionHex = EncodeDefinition(*def);
  for (const bool manual : {false, true}) {
    for (const std::string& p : manual ? o.manualPackets : o.autoPackets) {
      const size_t colon = p.find(':');
      config.packets.push_back(
          {p.substr(0, colon), colon == std::string::npos ? "" : p.substr(colon + 1), manual});
    }
  }
  return RunUserProtocolPoll(config, std::cout, std::cerr, nullptr);
}

}  // namespace qb::cli
