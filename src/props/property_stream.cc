// Reads the packed property stream in which the host hands over a protocol definition. The stream
// comes from outside, so every length is checked against the bytes that are really left before it
// is used. A stream that is merely cut short (inside a name, a length or a text) loads what came
// before it; a stream that says something this library cannot honour fails.
#include <string_view>

#include "props/property_map.h"

namespace qb {
namespace {

// Record flag bits.
constexpr uint8_t kExtended = 0x80;    // another extension byte follows
constexpr uint8_t kNameIndex = 0x40;   // key named by an index into a name table
constexpr uint8_t kFixedSize = 0x20;   // fixed-size value, kind in the two low bits
constexpr uint8_t kTextValue = 0x08;   // length-prefixed value is 8-bit text
constexpr uint8_t kLongLength = 0x04;  // length-prefixed value has a 4-byte length
constexpr uint8_t kFixedKindMask = 0x03;
constexpr uint8_t kFixedInteger = 3;
constexpr uint8_t kFixedUnsupported = 2;
constexpr int kMaxExtensionBytes = 255;

// A read position in the stream that never passes its end.
class StreamReader {
 public:
  explicit StreamReader(const ByteBuffer& source) : source_(source) {}

  bool AtEnd() const { return position_ >= source_.Length(); }
  int64_t Remaining() const { return static_cast<int64_t>(source_.Length()) - position_; }

  bool Byte(uint8_t& out) { return source_.ReadNext(&out, position_, 1); }

  bool Int32(uint32_t& out) {
    uint8_t b[4];
    if (!source_.ReadNext(b, position_, 4)) return false;
    out = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
          static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    return true;
  }

  // The next n bytes, when that many are left; the view stays valid while the source lives.
  bool Span(uint32_t n, std::string_view& out) {
    if (static_cast<int64_t>(n) > Remaining()) return false;
    if (n == 0) {
      out = {};
      return true;
    }
    out = std::string_view(reinterpret_cast<const char*>(source_.Data()) + position_, n);
    position_ += static_cast<int32_t>(n);
    return true;
  }

 private:
  const ByteBuffer& source_;
  int32_t position_ = 0;
};

// 8-bit text ends at its first zero byte, whatever its declared length.
std::string_view UpToZero(std::string_view bytes) {
  const size_t zero = bytes.find('\0');
  return zero == std::string_view::npos ? bytes : bytes.substr(0, zero);
}

enum class Step { kNext, kEndOk, kFail };

Step ReadRecord(StreamReader& in, PropertyMap& map, const CodePage& codePage) {
  uint8_t flags;
  if (!in.Byte(flags)) return Step::kEndOk;

  if ((flags & kNameIndex) != 0) return Step::kFail;
  uint8_t nameLength;
  std::string_view nameBytes;
  if (!in.Byte(nameLength) || !in.Span(nameLength, nameBytes)) return Step::kEndOk;
  const std::u16string name = codePage.ToWide(UpToZero(nameBytes));
  if (name.empty()) return Step::kFail;

  uint8_t last = flags;
  for (int extensions = 0; (last & kExtended) != 0; ++extensions) {
    if (extensions == kMaxExtensionBytes || !in.Byte(last)) return Step::kFail;
  }

  if ((flags & kFixedSize) != 0) {
    switch (flags & kFixedKindMask) {
      case kFixedInteger: {
        uint32_t value;
        if (!in.Int32(value)) return Step::kFail;
        map.SetInt(name, static_cast<int32_t>(value));
        return Step::kNext;
      }
      case kFixedUnsupported:
        return Step::kFail;
      default:  // kinds 0 and 1 carry no value
        return Step::kNext;
    }
  }

  uint32_t length;
  if ((flags & kLongLength) != 0) {
    if (!in.Int32(length)) return Step::kEndOk;
  } else {
    uint8_t shortLength;
    if (!in.Byte(shortLength)) return Step::kEndOk;
    length = shortLength;
  }
  std::string_view value;
  const bool complete = in.Span(length, value);
  if ((flags & kTextValue) != 0) {
    if (!complete) return Step::kEndOk;
    map.SetStr(name, codePage.ToWide(UpToZero(value)));
  } else {
    if (!complete) return Step::kFail;
    map.SetBin(name, reinterpret_cast<const uint8_t*>(value.data()),
               static_cast<int32_t>(value.size()));
  }
  return Step::kNext;
}

}  // namespace

bool PropertyMap::LoadStream(const ByteBuffer& source, const CodePage& codePage) {
  // A stream held as a value of this very map would vanish with RemoveAll: the old values stay
  // alive until the stream has been read.
  const std::shared_ptr<const Table> oldValues = entries_;
  RemoveAll();
  StreamReader in(source);
  for (;;) {
    switch (ReadRecord(in, *this, codePage)) {
      case Step::kNext:
        break;
      case Step::kEndOk:
        return true;
      case Step::kFail:
        return false;
    }
  }
}

}  // namespace qb
