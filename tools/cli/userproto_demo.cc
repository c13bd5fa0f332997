// `quillbox demo --protocol USRPRTCL`: the bench scale of examples/userproto polled unattended.
// The scripted device answers the library's READ with the weight its script holds; the demo exits
// 0 only when every received packet carries exactly the values of the simulator's reply, read
// from the reply's bytes here without the library.
#include "cli/userproto_demo.h"

#include <iostream>

#include "cli/exit_codes.h"
#include "cli/userproto_format.h"
#include "cli/userproto_host.h"
#include "sim/scripted_device.h"
#include "sim/serial_line.h"
#include "sim/simulator.h"

namespace qb::cli {
namespace {

std::string HexOf(const std::string& s) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string h;
  for (unsigned char c : s) {
    h += kDigits[c >> 4];
    h += kDigits[c & 15];
  }
  return h;
}

// The values text the scale's reply STX 'W' ADDR(2) SIGN(1) WEIGHT(6) UNIT(2) SUM(2) ETX means.
std::string ExpectedValues(const std::vector<uint8_t>& reply) {
  const std::string r(reply.begin(), reply.end());
  if (r.size() != 16) return "";
  return "ADDR=n" + std::to_string(std::stoi(r.substr(2, 2))) + "&SIGN=s" + HexOf(r.substr(4, 1)) +
         "&SUM=n" + std::to_string(std::stoi(r.substr(13, 2), nullptr, 16)) + "&UNIT=s" +
         HexOf(r.substr(11, 2)) + "&WEIGHT=n" + std::to_string(std::stoi(r.substr(5, 6)));
}

}  // namespace

int RunUserProtocolDemo(double seconds, const std::string& definitionFile,
                        const std::string& scriptFile) {
  std::string error;
  const auto def = ReadDefinitionFile(definitionFile, error);
  const auto rules = def ? sim::LoadScript(scriptFile, &error) : std::nullopt;
  if (!def || !rules || rules->empty()) {
    std::cerr << "quillbox demo: " << (error.empty() ? "the script has no rule" : error) << "\n";
    return kExitValuesFile;
  }
  const std::string expected = ExpectedValues(sim::FillSums(rules->front()));
  sim::PseudoTerminal line;
  if (!line.Open(&error)) {
    std::cerr << "quillbox demo: " << error << "\n";
    return kExitDevice;
  }
  sim::SimulatorOptions options;
  options.line.baud = 9600;
  options.paced = true;
  sim::Simulator simulator(line.MasterFd(), sim::LoadScriptedDevice(scriptFile, &error), options);
  if (!simulator.Start(&error)) {
    std::cerr << "quillbox demo: " << error << "\n";
    return kExitFailure;
  }
  std::cout << "Scripted scale on " << line.SlavePath() << " (" << scriptFile
            << "); the library polls it as COM1 with " << definitionFile << ".\n";
  UserPollConfig config;
  config.device = line.SlavePath();
  config.seconds = seconds;
  config.stopAfterReceived = 3;
  config.definitionHex = EncodeDefinition(*def);
  config.packets = {{"READ", "ADDR=1", false}};
  UserPollResult result;
  int code = RunUserProtocolPoll(config, std::cout, std::cerr, &result);
  simulator.Stop();
  bool match = result.received > 0;
  for (const auto& text : result.valuesTexts) match = match && text == expected;
  std::cout << result.received << " weights received, " << result.timeouts << " time-outs; "
            << (match ? "the values are those the simulator sent"
                      : "the values DIFFER from those the simulator sent (" + expected + ")")
            << "\n";
  if (code == kExitOk && !match) code = kExitFailure;
  return code;
}

}  // namespace qb::cli
