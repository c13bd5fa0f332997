// The command-line forms of poll items: "hr:1:0:10" reads, "reg:1:5=42" and friends write.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/poller.h"

namespace qb::cli {

// "a,,b" split at ',' gives "a", "" and "b": an empty part stays, for the caller to refuse.
std::vector<std::string> Split(const std::string& text, char separator);
// A whole number in [low, high], decimal or 0x-hexadecimal; nullopt for anything else.
std::optional<int> Number(const std::string& text, int low, int high);

// mbpoll's lists: numbers and FIRST:LAST ranges separated by commas, "32,33,36:40" (a range may
// run downwards, 40:36 is the same); every number in [low, high]. nullopt and *error if not.
std::optional<std::vector<int>> ParseList(const std::string& text, int low, int high,
                                          std::string* error);

// Read: TYPE:SLAVE:START:COUNT[:FORMAT] with TYPE co, di, hr or ir (or mbpoll's 0, 1, 4, 3) and
// FORMAT one of -t's (int16, hex, int, float; COUNT then counts values, not registers).
std::optional<PollItem> ParseReadArgument(const std::string& text, std::string* error);
// Writes, each SLAVE:ADDRESS=VALUES:
//   coil:1:5=1   reg:1:5=42   coils:1:0=1,0,1   regs:1:0=10,20   mask:1:5=AND,OR
//   rw:1:0+3:10=7,8   (read 3 registers from 0, write 7 and 8 from 10)
// Values are decimal or 0x-hexadecimal.
std::optional<PollItem> ParseWriteArgument(const std::string& text, std::string* error);

}  // namespace qb::cli
