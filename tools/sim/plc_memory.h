// The device memory of the simulated controllers of the three ASCII link protocols, by area as a
// PLC programmer sees it, and the stations on the line that own one memory each.
//
//   LSMK  word areas P M L K F T C D S of `size` words; bit items name a bit inside a word
//         (M10.5 is bit 5 of word M10).
//   MBFX  bit areas X Y M S of `size` bits and word areas D R T C of `size` words; a word read of
//         a bit area packs 16 bits, the first one in bit 0.
//   MKLD  one byte image that holds the areas at the controller's byte offsets (D 0x0000,
//         T 0x5000, C 0x5200, P 0x5C00, M 0x5D00, L 0x5F00, K 0x6000, F 0x6300, S 0x6400 up to
//         0x6600); word n of an area is the two bytes at offset + 2n, low byte first.
//
// The model is shared between the simulator's thread and whoever set it up or checks what a write
// did, so every access goes through its lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb::sim {

enum class PlcProtocol { kLsmk, kMkld, kMbfx };

// "LSMK", "MKLD", "MBFX".
std::string_view PlcProtocolName(PlcProtocol protocol);
// The name in either case; nothing for any other name.
std::optional<PlcProtocol> PlcProtocolFromName(std::string_view name);

// A device address as a PLC programmer writes it: device letters, a decimal address and for a
// bit inside a word a '.' and one hexadecimal digit: "D100", "M10.5", "P3.F".
struct PlcAddress {
  std::string device;  // upper case
  uint32_t address = 0;
  int bit = -1;  // -1: none
};
std::optional<PlcAddress> ParsePlcAddress(std::string_view text);

// The MKLD byte offset of an area; nothing for a letter the controller has not.
std::optional<uint32_t> MkldOffset(std::string_view device);
inline constexpr uint32_t kMkldImageBytes = 0x6600;

class PlcMemory {
 public:
  PlcMemory(PlcProtocol protocol, uint32_t size);

  bool HasDevice(std::string_view device) const;
  bool IsBitDevice(std::string_view device) const;  // MBFX X, Y, M, S
  // One word; nothing for an unknown area or an address past its end.
  std::optional<uint16_t> Word(std::string_view device, uint32_t address) const;
  bool SetWord(std::string_view device, uint32_t address, uint16_t value);
  // bit 0..15: that bit of a word; -1: the cell `address` of a bit area.
  std::optional<bool> Bit(std::string_view device, uint32_t address, int bit) const;
  bool SetBit(std::string_view device, uint32_t address, int bit, bool on);

  // MKLD: the byte image by byte address.
  std::optional<uint8_t> Byte(uint32_t at) const;
  bool SetByte(uint32_t at, uint8_t value);

 private:
  struct Area {
    bool bits = false;
    std::vector<uint16_t> cells;  // words, or bits as 0/1
  };
  const Area* Find(std::string_view device) const;
  // MKLD: the byte address of word `address` of the area, when both bytes lie inside it.
  std::optional<uint32_t> MkldByte(std::string_view device, uint32_t address) const;

  PlcProtocol protocol_;
  std::map<std::string, Area, std::less<>> areas_;
  std::vector<uint8_t> image_;
};

class PlcModel {
 public:
  // size: words (and bits) of each LSMK and MBFX area, from 1 to 65536.
  PlcModel(PlcProtocol protocol, uint32_t size = 10000);

  PlcProtocol Protocol() const { return protocol_; }
  // A station with an all-zero memory; false when it exists already or is outside 0..255.
  bool AddStation(int station);
  bool HasStation(int station) const;
  std::vector<int> Stations() const;

  // fn(PlcMemory&) for one station under the lock; false when the station does not exist.
  bool WithStation(int station, const std::function<void(PlcMemory&)>& fn);
  std::optional<uint16_t> Word(int station, std::string_view device, uint32_t address) const;
  std::optional<bool> Bit(int station, std::string_view device, uint32_t address, int bit) const;

 private:
  PlcProtocol protocol_;
  uint32_t size_;
  mutable std::mutex mutex_;
  std::map<int, PlcMemory> stations_;
};

// Initial values: [station:]ADDRESS=value[,value...], such as "D100=1,0x20,-3" (consecutive
// words), "M10.5=1" (one bit of a word), "2:M10=1,0,1" (consecutive bits of an MBFX bit area).
// Without a station the values go to every station. False with the reason, and nothing stored,
// when anything is wrong.
bool ApplyPlcAssignment(PlcModel& model, std::string_view text, std::string* error);

}  // namespace qb::sim
