// The ByteBuffer operations. Sizes come from outside input (frame lengths, property streams), so
// every offset and length is checked in 64-bit arithmetic before it is used, and a failed operation
// leaves the buffer exactly as it was.
#include "props/byte_buffer.h"

#include <cstring>
#include <limits>
#include <new>

namespace qb {
namespace {

constexpr int64_t kMaxSize = std::numeric_limits<int32_t>::max();

// A block of exactly n bytes, or null when the system has no room for it.
std::unique_ptr<uint8_t[]> AllocateBlock(int32_t n) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[static_cast<size_t>(n)]);
}

// After every allocation the buffer grows in quarters of its size, so that a buffer that keeps
// growing needs few moves.
int32_t QuarterStep(int32_t capacity) { return capacity / 4 > 0 ? capacity / 4 : 1; }

}  // namespace

ByteBuffer::ByteBuffer(const uint8_t* bytes, int32_t n) { Append(bytes, n); }

ByteBuffer::ByteBuffer(const ByteBuffer& other) { Append(other.Data(), other.length_); }

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
  Assign(other);
  return *this;
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::move(other.data_)),
      capacity_(other.capacity_),
      length_(other.length_),
      growStep_(other.growStep_) {
  other.capacity_ = 0;
  other.length_ = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    data_ = std::move(other.data_);
    capacity_ = other.capacity_;
    length_ = other.length_;
    growStep_ = other.growStep_;
    other.capacity_ = 0;
    other.length_ = 0;
  }
  return *this;
}

bool ByteBuffer::Create(int32_t capacity, int32_t growStep) {
  if (capacity <= 0) return false;
  std::unique_ptr<uint8_t[]> block = AllocateBlock(capacity);
  if (!block) return false;
  data_ = std::move(block);
  capacity_ = capacity;
  length_ = 0;
  growStep_ = growStep != 0 ? growStep : capacity / 4;
  if (growStep_ < 1) growStep_ = 1;
  return true;
}

bool ByteBuffer::Append(const uint8_t* bytes, int32_t n) {
  if (n < 0) return false;
  if (n == 0) return true;
  if (bytes == nullptr) return false;
  if (n <= FreeSpace()) {
    // The source may lie inside this buffer's held bytes; the free tail never overlaps them.
    std::memmove(data_.get() + length_, bytes, static_cast<size_t>(n));
    length_ += n;
    return true;
  }
  if (growStep_ <= 0) return false;
  const int64_t missing = static_cast<int64_t>(length_) + n - capacity_;
  const int64_t steps = (missing + growStep_ - 1) / growStep_;
  const int64_t newCapacity = capacity_ + steps * growStep_;
  if (newCapacity > kMaxSize) return false;
  std::unique_ptr<uint8_t[]> block = AllocateBlock(static_cast<int32_t>(newCapacity));
  if (!block) return false;
  if (length_ > 0) std::memcpy(block.get(), data_.get(), static_cast<size_t>(length_));
  // Copied before the old block goes, in case the source is this buffer's own content.
  std::memcpy(block.get() + length_, bytes, static_cast<size_t>(n));
  data_ = std::move(block);
  capacity_ = static_cast<int32_t>(newCapacity);
  length_ += n;
  growStep_ = QuarterStep(capacity_);
  return true;
}

bool ByteBuffer::AppendFrom(const ByteBuffer& other, int32_t offset, int32_t n) {
  if (offset < 0 || offset > other.length_) return false;
  if (n == -1) n = other.length_ - offset;
  if (n < 0 || static_cast<int64_t>(offset) + n > other.length_) return false;
  if (n == 0) return true;
  return Append(other.data_.get() + offset, n);
}

bool ByteBuffer::Assign(const ByteBuffer& other) {
  // Assigning a buffer to itself keeps its content rather than emptying it first.
  if (this == &other) return true;
  Free();
  return AppendFrom(other, 0, -1);
}

bool ByteBuffer::ReadAt(uint8_t* destination, int32_t n, int32_t offset) const {
  if (n < 0 || offset < 0 || static_cast<int64_t>(offset) + n > length_) return false;
  if (n == 0) return true;
  if (destination == nullptr) return false;
  std::memcpy(destination, data_.get() + offset, static_cast<size_t>(n));
  return true;
}

bool ByteBuffer::ReadNext(uint8_t* destination, int32_t& position, int32_t n) const {
  if (!ReadAt(destination, n, position)) return false;
  position += n;
  return true;
}

void ByteBuffer::SetFromText(std::u16string_view text, const CodePage& codePage) {
  Free();
  const std::string bytes = codePage.ToBytes(text);
  if (static_cast<uint64_t>(bytes.size()) > static_cast<uint64_t>(kMaxSize)) return;
  Append(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
}

void ByteBuffer::Free() {
  data_.reset();
  capacity_ = 0;
  length_ = 0;
}

}  // namespace qb
