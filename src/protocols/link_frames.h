// Request builders of the PLC link protocols whose frames are Styles: the Cnet protocol ("LSMK",
// up to 16 device blocks per read frame) and the one-item-per-frame protocols "MKLD" (loader port,
// byte addresses) and "MBFX" (computer link, decimal station numbers). The builders read the
// items of the ToDo queue (their property maps, head first) and say which of them the frame
// serves; the engine removes those from its queue and remembers the ids to attribute the reply.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "props/property_map.h"
#include "style/style.h"

namespace qb {

// The ToDo queue as the builders see it, head first.
using ItemQueueView = std::span<const PropertyMap* const>;

struct LinkFrame {
  std::vector<uint8_t> bytes;
  // "^.ItmId" of each block, in block order (an LSMK repeated block stands twice).
  std::vector<int32_t> itemIds;
  // Queue positions of the items the frame serves, ascending; the engine removes them.
  std::vector<size_t> taken;
  // Queue position of the item that becomes the current item (the last one put in).
  size_t current = 0;
  // 1 when the frame reads or writes bits, 0 for words.
  int32_t bitFlag = 0;

  void Clear();
};

// The Cnet builders keep the read Style and the block count of the last read frame between
// frames: two read frames in a row never carry the same block count.
class CnetBuilder {
 public:
  // At most this many items go into one read frame; the repeated block may add one more.
  static constexpr size_t kItemsPerRead = 15;

  explicit CnetBuilder(Platform& platform);
  ~CnetBuilder();
  CnetBuilder(const CnetBuilder&) = delete;
  CnetBuilder& operator=(const CnetBuilder&) = delete;

  // bits false: word reads (codes 3, 4); true: bit reads (codes 1, 2). Up to 15 items of the
  // first qualifying item's slave; items of other slaves wait. False when none qualifies.
  bool BuildRead(ItemQueueView queue, bool bits, LinkFrame& out);
  // The first word write (code 6) or bit write (code 5) in the queue, whatever its slave.
  bool BuildWrite(ItemQueueView queue, bool bits, LinkFrame& out);
  int32_t PreviousReadBlockCount() const { return previousReadBlockCount_; }

 private:
  Platform& platform_;
  std::unique_ptr<Style> readStyle_;
  int32_t previousReadBlockCount_ = 0;
};

// One frame for the head item; false (nothing built) when it is paused. Any function code other
// than 1 to 5 is a word write of "^.WritingWord".
bool BuildMkldFrame(Platform& platform, const PropertyMap& head, LinkFrame& out);
bool BuildMbfxFrame(Platform& platform, const PropertyMap& head, LinkFrame& out);
// The acknowledgement the master sends after an MBFX read reply from station.
std::vector<uint8_t> BuildMbfxAck(Platform& platform, int32_t station);

// The device block text of a Cnet item: %MW0100 for word M100, %MX0105 for bit M10.5.
std::u16string CnetDeviceSpec(const PropertyMap& item, bool bits);
// The MKLD start address: swap24(2 x address) plus the device's offset, 0 for an unknown device.
uint32_t MkldStartAddress(std::u16string_view device, int32_t address);

}  // namespace qb
