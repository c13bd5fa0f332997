// Initial values of the simulated devices, from the command line or from a small text file.
// One assignment sets consecutive addresses of one table:
//
//   [slave:]table:address=value[,value...]
//
// table is co, di, hr or ir; numbers are decimal or 0x-prefixed hexadecimal; bit values are 0 or
// 1, register values 0..65535 or -32768..-1 (stored as their 16-bit two's complement). Without a
// slave the values go to every slave of the model. A file holds one assignment per line; '#'
// starts a comment and blank lines are skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sim/device_model.h"

namespace qb::sim {

// Initial-value files larger than this are refused rather than read.
inline constexpr size_t kMaxModelFileBytes = 1 << 20;

// Each returns true when every value was stored; otherwise false with the reason in *error (and
// nothing of the failing assignment stored; earlier lines of a text stay applied).
bool ApplyAssignment(DeviceModel& model, std::string_view text, std::string* error);
// Errors name the line: "line 3: unknown table 'xx'".
bool LoadModelText(DeviceModel& model, std::string_view text, std::string* error);
bool LoadModelFile(DeviceModel& model, const std::string& path, std::string* error);

// The same line rules for assignments of another form: apply(line, error) stores one.
using ApplyFn = std::function<bool(std::string_view, std::string*)>;
bool LoadAssignmentText(std::string_view text, const ApplyFn& apply, std::string* error);
bool LoadAssignmentFile(const std::string& path, const ApplyFn& apply, std::string* error);

// A decimal or 0x-prefixed hexadecimal number, optionally negative, surrounded by blanks or not;
// nothing when the text is not exactly one number.
std::optional<int64_t> ParseModelNumber(std::string_view text);

}  // namespace qb::sim
