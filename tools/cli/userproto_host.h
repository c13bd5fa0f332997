// A host of the user protocol, driving the library through its C API as a panel application does:
// loads a definition, selects "USRPRTCL", gives the values of its Tx packets when the library asks
// for them (event 101), and collects the received packets (event 100) with their values texts.
// Used by `quillbox poll --protocol USRPRTCL` and `quillbox demo --protocol USRPRTCL`.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qb::cli {

struct UserPacketRequest {
  std::string packet;
  std::string values;  // values text, or the friendlier NAME=123,NAME="text" form
  bool manual = false;
};

struct UserPollConfig {
  std::string device;
  uint32_t baud = 9600;
  int32_t timeoutMs = 500;
  int32_t intervalMs = 50;
  double seconds = 3;
  int stopAfterReceived = 0;  // 0: run for seconds
  std::string definitionHex;
  std::vector<UserPacketRequest> packets;
};

struct UserPollResult {
  int prepared = 0;  // events 101
  int received = 0;  // events 100
  int timeouts = 0;
  std::vector<std::string> valuesTexts;  // of the received packets, in order
};

// NAME=123 -> NAME=n123, NAME="AB" -> NAME=s4142; entries already in the values-text form pass.
std::string FriendlyToValuesText(const std::string& text);

// Runs the poll; the exit code of the quillbox command.
int RunUserProtocolPoll(const UserPollConfig& config, std::ostream& out, std::ostream& err,
                        UserPollResult* result);

}  // namespace qb::cli
