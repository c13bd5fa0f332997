// Makes the query item of each registration family with exactly the keys that family sets, so
// that the auto and manual exports of a family cannot drift apart.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/query_item.h"

namespace qb {

// Bit reads (code 1 or 2) and word reads (code 3 or 4).
std::unique_ptr<QueryItem> MakeReadItem(int32_t id, int32_t code, int32_t slave, int32_t start,
                                        int32_t length);
// The device name is stored only when not empty, the bit position only when not -1.
std::unique_ptr<QueryItem> MakeReadItemEx(int32_t id, int32_t code, int32_t slave, int32_t start,
                                          std::u16string_view deviceName, int32_t bitPosition,
                                          int32_t length);
std::unique_ptr<QueryItem> MakeBitWriteItem(int32_t id, int32_t slave, int32_t address,
                                            int32_t value, std::u16string_view deviceName,
                                            int32_t bitPosition);
std::unique_ptr<QueryItem> MakeWordWriteItem(int32_t id, int32_t slave, int32_t address,
                                             int32_t value, std::u16string_view deviceName);
// Codes 15 and 16; the byte count bytes of data are copied (none when data is null).
std::unique_ptr<QueryItem> MakeMultipleWriteItem(int32_t id, int32_t code, int32_t slave,
                                                 int32_t start, int32_t length, uint32_t byteCount,
                                                 const uint8_t* data);
std::unique_ptr<QueryItem> MakeMaskWriteItem(int32_t id, int32_t slave, int32_t address,
                                             int32_t andMask, int32_t orMask);
// 2 x write length bytes of data are copied (none when data is null or the length negative).
std::unique_ptr<QueryItem> MakeReadWriteItem(int32_t id, int32_t slave, int32_t readAddress,
                                             int32_t readLength, int32_t writeAddress,
                                             int32_t writeLength, const uint8_t* data);
// A frame the host made itself, sent as it stands; replyLength bytes complete its reply.
std::unique_ptr<QueryItem> MakeHostFrameItem(int32_t id, int32_t replyLength, const uint8_t* frame,
                                             uint32_t frameLength);

}  // namespace qb
