#include "cli/userproto_command.h"

#include <iostream>
#include <iterator>
#include <memory>

#include "cli/exit_codes.h"
#include "cli/userproto_format.h"
#include "platform/code_page.h"
#include "platform/quiet_platform.h"
#include "userprotocol/packet_style.h"

namespace qb::cli {
namespace {

struct Options {
  std::string file;
  std::string hex;
};

int Encode(const Options& o) {
  std::string error;
  const auto definition = ReadDefinitionFile(o.file, error);
  if (!definition) {
    std::cerr << error << "\n";
    return kExitValuesFile;
  }
  std::cout << EncodeDefinition(*definition) << "\n";
  return kExitOk;
}

int Decode(const Options& o) {
  std::string hex = o.hex;
  if (hex == "-") hex.assign(std::istreambuf_iterator<char>(std::cin), {});
  while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r' || hex.back() == ' ')) {
    hex.pop_back();
  }
  std::string error;
  const auto definition = DecodeDefinition(hex, error);
  if (!definition) {
    std::cerr << "quillbox userproto decode: " << error << "\n";
    return kExitValuesFile;
  }
  std::cout << WriteReadable(*definition);
  return kExitOk;
}

int Show(const Options& o) {
  std::string error;
  const auto definition = ReadDefinitionFile(o.file, error);
  if (!definition) {
    std::cerr << error << "\n";
    return kExitValuesFile;
  }
  const std::string hex = EncodeDefinition(*definition);
  QuietPlatform platform;
  UserProtocol protocol;
  protocol.Load(std::u16string(hex.begin(), hex.end()), platform);
  for (const auto& packet : protocol.Packets()) {
    const PacketFrame frame = FrameOf(*packet);
    std::cout << Utf16ToUtf8(packet->GetStr(upkeys::kPaktName)) << " ("
              << Utf16ToUtf8(packet->GetStr(upkeys::kCommDirection))
              << (frame.highFirst ? ", high byte first" : ", low byte first");
    if (frame.checksum) {
      std::cout << ", " << Utf16ToUtf8(frame.checksumMethod) << " of units "
                << frame.checksumFirst + 1 << ".." << frame.checksumFirst + frame.checksumCount
                << " into " << Utf16ToUtf8(frame.checksumVariable);
    }
    std::cout << "): " << Utf16ToUtf8(frame.styleText) << "\n";
  }
  return kExitOk;
}

}  // namespace

Command AddUserprotoCommand(CLI::App& parent) {
  auto options = std::make_shared<Options>();
  CLI::App* app = parent.add_subcommand(
      "userproto", "Write user protocol definitions by hand: encode, decode, show");
  app->require_subcommand(1);
  CLI::App* encode = app->add_subcommand(
      "encode", "Print the hexadecimal definition text of a readable (TOML) definition file");
  encode->add_option("FILE", options->file, "the readable definition")->required();
  CLI::App* decode =
      app->add_subcommand("decode", "Print a hexadecimal definition text in the readable form");
  decode->add_option("HEX", options->hex, "the definition text, or - to read it from stdin")
      ->required();
  CLI::App* show = app->add_subcommand(
      "show", "Print each packet's Style text: what goes on the wire, unit by unit");
  show->add_option("FILE", options->file, "the readable definition")->required();
  return {app, [options, encode, decode, show]() {
            if (encode->parsed()) return Encode(*options);
            if (decode->parsed()) return Decode(*options);
            if (show->parsed()) return Show(*options);
            return kExitBadArgument;
          }};
}

}  // namespace qb::cli
