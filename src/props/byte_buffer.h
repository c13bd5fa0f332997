// The growable byte buffer of the library: byte values of property maps, raw frames and the packed
// property stream are all held in one. It grows in whole multiples of its grow step, and after a
// growth the step becomes a quarter of the new capacity, so appending stays cheap as frames grow.
// Every operation reports failure by its result and then leaves the buffer unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "platform/code_page.h"

namespace qb {

class ByteBuffer {
 public:
  ByteBuffer() = default;  // no block yet, grow step 256
  ByteBuffer(const uint8_t* bytes, int32_t n);
  ByteBuffer(const ByteBuffer& other);
  ByteBuffer& operator=(const ByteBuffer& other);
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ~ByteBuffer() = default;

  // capacity > 0: drops the content and allocates exactly capacity bytes; growStep 0 means
  // capacity / 4 (at least 1). capacity <= 0: false.
  bool Create(int32_t capacity, int32_t growStep);
  bool Append(const uint8_t* bytes, int32_t n);
  // n = -1: up to the end of other.
  bool AppendFrom(const ByteBuffer& other, int32_t offset, int32_t n);
  bool Assign(const ByteBuffer& other);
  bool ReadAt(uint8_t* destination, int32_t n, int32_t offset) const;
  // ReadAt at position; advances position by n on success.
  bool ReadNext(uint8_t* destination, int32_t& position, int32_t n) const;
  // The text in the code page's 8-bit form, without a terminating zero.
  void SetFromText(std::u16string_view text, const CodePage& codePage);
  void Free();

  int32_t Length() const { return length_; }
  int32_t Capacity() const { return capacity_; }
  int32_t GrowStep() const { return growStep_; }
  int32_t FreeSpace() const { return capacity_ - length_; }
  const uint8_t* Data() const { return data_.get(); }
  std::span<const uint8_t> Bytes() const { return {data_.get(), static_cast<size_t>(length_)}; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  int32_t capacity_ = 0;
  int32_t length_ = 0;
  int32_t growStep_ = 256;
};

}  // namespace qb
