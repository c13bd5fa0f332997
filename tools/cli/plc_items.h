// The poll items of the PLC link protocols ("LSMK", "MKLD", "MBFX"), named the way a PLC
// programmer writes them, and their registration through the library's C API:
//
//   read    [STATION:]DEVICE ADDRESS[.BIT][:COUNT]     D100   M10.5   2:D100   D100:3 (MBFX)
//   write   [STATION:]DEVICE ADDRESS[.BIT]=VALUE       D100=42   M10.5=1   M10=1 (MBFX)
//
// A '.' and a hexadecimal digit make an LSMK or MKLD item a bit of a word; MBFX has no bit
// positions and reads and writes its bit devices (X, Y, M, S, L, B, F) as bits, every other device
// as words, and alone reads several consecutive points (:COUNT). Without a station the item goes
// to the -a station; MKLD has none.
#pragma once

#include <optional>
#include <string>

#include "cli/poller.h"

namespace qb::cli {

// The protocol name as the library spells it ("LSMK", ...) for "lsmk", "Lsmk", ...; empty for a
// name that is no link protocol (MODBUS included).
std::string LinkProtocolName(const std::string& name);

std::optional<PollItem> ParsePlcRead(const std::string& protocol, const std::string& text,
                                     int station, std::string* error);
std::optional<PollItem> ParsePlcWrite(const std::string& protocol, const std::string& text,
                                      int station, std::string* error);

// "D100+3", "M10.5", "D100=42".
std::string DescribePlc(const PollItem& item);
// Registers an item made by ParsePlcRead or ParsePlcWrite under id.
void RegisterPlcItem(const PollItem& item, int32_t id);

}  // namespace qb::cli
