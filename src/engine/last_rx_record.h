// The record of the last event delivered to the host. The host reads it through the qbGetLastRx...
// getters during or after the event message; each event overwrites only the fields it concerns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb {

struct LastRxRecord {
  int32_t eventType = -1;
  int32_t itemId = 0;
  int32_t dataType = 1;  // 1: the words are bits (0 or 1 each); 0: 16-bit words
  std::u16string valuesText;
  std::vector<uint16_t> words;
  std::vector<uint8_t> raw;
};

}  // namespace qb
