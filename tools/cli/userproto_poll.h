// `quillbox poll --protocol USRPRTCL --definition FILE`: the poll command's user protocol options
// (besides --protocol, which the poll command has) and run. Tx packets are sent auto (--packet) or
// once (--send), with their values in the values-text form or the friendlier NAME=123,NAME="text";
// received packets are printed with their variables.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace qb::cli {

struct UserPollOptions {
  std::string definition;
  std::vector<std::string> autoPackets;    // NAME[:VALUES]
  std::vector<std::string> manualPackets;  // NAME[:VALUES]
};

void AddUserPollOptions(CLI::App& app, UserPollOptions& options);
// The exit code of the poll command under "USRPRTCL".
int RunUserPoll(const UserPollOptions& options, const std::string& device, uint32_t baud,
                int timeoutMs, double seconds);

}  // namespace qb::cli
