// The readable form of a user protocol definition: a TOML file that people write by hand, with
// comments, in place of the hexadecimal text that qbSetUsrPrtclFromBinHexExp takes.
//
//   protocol = "Scale"
//   [[packet]]
//   name = "READ"
//   direction = "Tx"                  # "Tx" (default) or "Rx"
//   byte_order = "HiFirst"            # "HiFirst" (default) or "LoFirst"
//   checksum = { method = "plus", first = 2, last = 3, variable = "SUM" }
//   units = [ { hex = "02" }, { char = "R" }, { dec = "13" },
//             { var = "ADDR", type = "AscDec", count = 2 },
//             { var = "TEXT", type = "Str", count_var = "LEN", multiplier = 2, max_count = 16 },
//             { var = "N", type = "BinByte", max = "99" } ]
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qb::cli {

struct UnitSpec {
  std::string kind;                  // "char", "dec", "hex" (constants) or "var"
  std::string value;                 // the constant's text or the variable's name
  std::string type;                  // variable type
  std::optional<std::string> count;  // element count given as digits
  std::optional<std::string> countVar, multiplier, maxCount;  // element count from a variable
  std::optional<std::string> max;                             // the variable's upper bound
};

struct ChecksumSpec {
  std::string method, first, last, variable;
};

struct PacketSpec {
  std::string name, direction = "Tx", byteOrder = "HiFirst";
  std::optional<ChecksumSpec> checksum;
  std::vector<UnitSpec> units;
};

struct DefinitionSpec {
  std::string protocol, editorVersion = "quillbox";
  std::vector<PacketSpec> packets;
};

// Reads a readable file; on a mistake returns nothing and sets error to a message with the file,
// the line and what was expected.
std::optional<DefinitionSpec> ReadDefinitionFile(const std::string& path, std::string& error);
// The hexadecimal definition text.
std::string EncodeDefinition(const DefinitionSpec& def);
// A hexadecimal definition text as the library loads it; nothing (and error) when the library does
// not load it or a unit has no readable form.
std::optional<DefinitionSpec> DecodeDefinition(const std::string& hex, std::string& error);
// The readable file text of a definition.
std::string WriteReadable(const DefinitionSpec& def);

}  // namespace qb::cli
