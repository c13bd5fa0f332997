#include "engine/item_factory.h"

#include <limits>

#include "engine/item_keys.h"

namespace qb {
namespace {

std::unique_ptr<QueryItem> NewItem(int32_t id, int32_t slave) {
  auto item = std::make_unique<QueryItem>();
  item->SetInt(keys::kItmId, id);
  item->SetInt(keys::kSlvAddr, slave);
  return item;
}

// Byte values are held with 32-bit signed lengths; larger blocks are cut to what fits.
int32_t ClampedCount(uint64_t count) {
  return static_cast<int32_t>(std::min<uint64_t>(count, std::numeric_limits<int32_t>::max()));
}

void SetBytes(QueryItem& item, std::u16string_view key, const uint8_t* data, uint64_t count) {
  if (data == nullptr) count = 0;
  item.SetBin(key, data, ClampedCount(count));
}

void SetDeviceName(QueryItem& item, std::u16string_view deviceName) {
  if (!deviceName.empty()) item.SetStr(keys::kDeviceName, deviceName);
}

void SetBitPosition(QueryItem& item, int32_t bitPosition) {
  if (bitPosition != -1) item.SetInt(keys::kBitPos, bitPosition);
}

}  // namespace

std::unique_ptr<QueryItem> MakeReadItem(int32_t id, int32_t code, int32_t slave, int32_t start,
                                        int32_t length) {
  auto item = NewItem(id, slave);
  item->SetInt(keys::kFncCode, code);
  item->SetInt(keys::kSttAddr, start);
  item->SetInt(keys::kLength, length);
  return item;
}

std::unique_ptr<QueryItem> MakeReadItemEx(int32_t id, int32_t code, int32_t slave, int32_t start,
                                          std::u16string_view deviceName, int32_t bitPosition,
                                          int32_t length) {
  auto item = MakeReadItem(id, code, slave, start, length);
  SetDeviceName(*item, deviceName);
  SetBitPosition(*item, bitPosition);
  return item;
}

std::unique_ptr<QueryItem> MakeBitWriteItem(int32_t id, int32_t slave, int32_t address,
                                            int32_t value, std::u16string_view deviceName,
                                            int32_t bitPosition) {
  auto item = NewItem(id, slave);
  item->SetInt(keys::kFncCode, 5);
  item->SetInt(keys::kSttAddr, address);
  item->SetInt(keys::kWritingBit, value);
  SetDeviceName(*item, deviceName);
  SetBitPosition(*item, bitPosition);
  return item;
}

std::unique_ptr<QueryItem> MakeWordWriteItem(int32_t id, int32_t slave, int32_t address,
                                             int32_t value, std::u16string_view deviceName) {
  auto item = NewItem(id, slave);
  item->SetInt(keys::kFncCode, 6);
  item->SetInt(keys::kSttAddr, address);
  item->SetInt(keys::kWritingWord, value);
  SetDeviceName(*item, deviceName);
  return item;
}

std::unique_ptr<QueryItem> MakeMultipleWriteItem(int32_t id, int32_t code, int32_t slave,
                                                 int32_t start, int32_t length, uint32_t byteCount,
                                                 const uint8_t* data) {
  auto item = NewItem(id, slave);
  item->SetInt(keys::kFncCode, code);
  item->SetInt(keys::kSttAddr, start);
  item->SetInt(keys::kLength, length);
  SetBytes(*item, keys::kRawData, data, byteCount);
  return item;
}

std::unique_ptr<QueryItem> MakeMaskWriteItem(int32_t id, int32_t slave, int32_t address,
                                             int32_t andMask, int32_t orMask) {
  auto item = NewItem(id, slave);
  item->SetInt(keys::kFncCode, 22);
  item->SetInt(keys::kSttAddr, address);
  item->SetInt(keys::kAndMask, andMask);
  item->SetInt(keys::kOrMask, orMask);
  return item;
}

std::unique_ptr<QueryItem> MakeReadWriteItem(int32_t id, int32_t slave, int32_t readAddress,
                                             int32_t readLength, int32_t writeAddress,
                                             int32_t writeLength, const uint8_t* data) {
  auto item = NewItem(id, slave);
  item->SetInt(keys::kFncCode, 23);
  item->SetInt(keys::kReadRefAddress, readAddress);
  item->SetInt(keys::kReadLength, readLength);
  item->SetInt(keys::kWriteRefAddress, writeAddress);
  item->SetInt(keys::kWriteLength, writeLength);
  SetBytes(*item, keys::kRawData, data,
           writeLength > 0 ? 2 * static_cast<uint64_t>(writeLength) : 0);
  return item;
}

std::unique_ptr<QueryItem> MakeHostFrameItem(int32_t id, int32_t replyLength, const uint8_t* frame,
                                             uint32_t frameLength) {
  auto item = std::make_unique<QueryItem>();
  item->SetInt(keys::kItmId, id);
  item->SetInt(keys::kIsUsrModFrm, 1);
  item->SetInt(keys::kUsrModFrmResponseLength, replyLength);
  SetBytes(*item, keys::kSendingUsrModFrm, frame, frameLength);
  return item;
}

}  // namespace qb
