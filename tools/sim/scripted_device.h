// A scripted device: a list of rules "when a request with these bytes arrives, answer these
// bytes", for protocols the simulator does not know, such as a user protocol. A reply may carry
// check sums that are computed when it is sent, so that a script states only the values. Written
// apart from the library's Style code: its own matching and its own sums.
//
// The script is a TOML file:
//   [[rule]]
//   request = "\u0002R01??\u0003"      # characters are bytes (code points 0 to 255)
//   any = [4, 5]                       # request positions that match any byte (the sum)
//   reply = "\u0002W01+001250kg??\u0003"
//   checksum = { method = "plus", from = 1, to = 14, at = 14, form = "hex2" }
// method: plus (sum), xor, crc16 (the Modbus CRC); from/to: the bytes summed, to excluded;
// at: where the sum goes; form: hex2 (two upper-case hexadecimal characters of the low byte),
// byte, be16 or le16. "checksum" may also be a list of such tables.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/plc_slave.h"

namespace qb::sim {

struct ScriptSum {
  std::string method, form;
  size_t from = 0, to = 0, at = 0;
};

struct ScriptRule {
  std::vector<uint8_t> request;
  std::vector<bool> any;  // per request byte
  std::vector<uint8_t> reply;
  std::vector<ScriptSum> sums;
};

// Reads a script file; nothing (and error, with the line) on a mistake.
std::optional<std::vector<ScriptRule>> LoadScript(const std::string& path, std::string* error);
// The device playing a script file; null (and error) on a mistake.
std::unique_ptr<PlcSlave> LoadScriptedDevice(const std::string& path, std::string* error);
// The reply with its sums filled in.
std::vector<uint8_t> FillSums(const ScriptRule& rule);

}  // namespace qb::sim
