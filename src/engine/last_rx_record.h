// The record of the last event delivered to the host. The host reads it through the qbGetLastRx...
// getters during or after the event message; each event overwrites only the fields it concerns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillbox/quillbox.h"

namespace qb {

struct LastRxRecord {
  int32_t eventType = QB_EVENT_NONE;
  int32_t itemId = 0;
  int32_t dataType = QB_DATA_BITS;  // or QB_DATA_WORDS
  std::u16string valuesText;
  std::vector<uint16_t> words;
  std::vector<uint8_t> raw;
};

}  // namespace qb
