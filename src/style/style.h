// A frame template of the Style language, compiled into units, with the named values it builds a
// frame from (requests) or that parsing fills (replies). The protocol builders and the user
// protocol write the texts; the same compiled Style is reused for every frame of its kind.
//
// The text is a list of items separated by ",": 'c' (a quoted character), numbers such as 0x05 or
// 44 (one fixed byte), Name[2h] (a field with its length and format letter n, d, h, s or b),
// Spec[SpecLen~16s] (length taken from another value, at most 16), DataBlock[~200s] (open length,
// ended by the next fixed byte), BlocCnt~16[2h] (a maximum value), A[0;1]+B[1;3] (bit fields of
// one byte) and plain names (a one-byte number).
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "style/frame_values.h"
#include "style/style_unit.h"

namespace qb {

class StyleOwner;

class Style {
 public:
  // Messages of compilation and of undeclared names go to the platform's message box.
  explicit Style(Platform& platform);
  virtual ~Style();
  // Units point back at their Style, so a Style stays where it was made.
  Style(const Style&) = delete;
  Style& operator=(const Style&) = delete;

  // Compiles the text; true on success. On an error the units made before it stay. Each unit gets
  // the byte order given here. The values are not touched.
  bool MakeStyle(std::u16string_view text, bool bigEndian);

  // Marks units first .. first + count - 1 as the range whose checksum (by method) goes into the
  // value variable. False, with nothing changed, when the range is not inside the units.
  bool SetChecksumRange(std::u16string_view variable, int32_t first, int32_t count,
                        std::u16string_view method);
  // Marks units first .. first + unitCount - 1 as a group built (and parsed) count times; count is
  // a variable name or decimal digits.
  bool SetRepeatRange(std::u16string_view count, int32_t first, int32_t unitCount);

  // Store a value when the name up to its first ":" was declared by the last compilation;
  // otherwise store nothing and show the refusal once per process.
  void SetInt(std::u16string_view name, int32_t value);
  void SetStr(std::u16string_view name, std::u16string_view text);
  int32_t GetInt(std::u16string_view name, bool* found = nullptr) const;
  std::u16string GetStr(std::u16string_view name, bool* found = nullptr) const;
  bool GetBin(std::u16string_view name, std::vector<uint8_t>& bytes) const;
  bool IsDeclared(std::u16string_view name) const;

  // "num", "dec", "hex", "str", "bin", "bit" of the first unit with the name, or "".
  std::u16string_view GetUnitFormat(std::u16string_view name) const;
  const StyleUnit* FindUnit(std::u16string_view name) const;
  // Null when the index is negative or not below the unit count.
  const StyleUnit* GetUnit(int32_t index) const;
  int32_t UnitCount() const { return static_cast<int32_t>(units_.size()); }
  std::span<const StyleUnit> Units() const { return units_; }
  // The fixed byte every frame of this Style starts with, when a different byte at the front is
  // enough to say that the bytes hold no such frame: -1 when the first unit is no fixed byte,
  // starts a repeated group or carries a malformed checksum mark (the walk decides those).
  int32_t DecidingFirstByte() const { return decidingFirstByte_; }

  // Nothing when other has no units. Otherwise takes other's reply names and copies of its units
  // (owned by this Style); with copyValues the texts and byte values become other's. The text and
  // the declared names stay.
  void CopyFrom(const Style& other, bool copyValues);

  // Builds one frame from the units and values; the checksum goes into its variable on the way.
  // frame is emptied first and receives the frame only on success.
  bool BuildFrame(std::vector<uint8_t>& frame);

  const std::u16string& Text() const { return text_; }
  FrameValues& Values() { return values_; }
  const FrameValues& Values() const { return values_; }
  // The second value table that the reply side fills with its settings.
  FrameValues& Defaults() { return defaults_; }
  const FrameValues& Defaults() const { return defaults_; }

  // Reply Styles: the protocol ("kind") and packet ("name") they recognise, and their receiver.
  void SetReplyNames(std::u16string_view kind, std::u16string_view name);
  const std::u16string& ReplyKind() const { return replyKind_; }
  const std::u16string& ReplyName() const { return replyName_; }
  void SetOwner(StyleOwner* owner) { owner_ = owner; }
  StyleOwner* Owner() const { return owner_; }

  Platform& GetPlatform() const { return platform_; }

 protected:
  // The bytes a "bin" checksum variable receives; this version leaves them empty.
  virtual void ChecksumToBytes(std::u16string_view variable, uint32_t checksum,
                               std::vector<uint8_t>& bytes);
  // The integer a "num" or "hex" checksum variable receives; this version keeps the checksum.
  virtual int32_t ChecksumToInteger(std::u16string_view variable, uint32_t checksum);

 private:
  // MakeStyle without keeping the deciding first byte up to date.
  bool CompileText(std::u16string_view text, bool bigEndian);
  void UpdateDecidingFirstByte();
  // Compiles one trimmed, non-empty item; false ends the compilation.
  bool CompileItem(std::u16string_view item, bool bigEndian, bool& openField);
  bool CompileBracketItem(std::u16string_view item, StyleUnit& unit, bool& openField);
  void FailCompilation(std::u16string_view message, std::u16string_view item);
  void Declare(std::u16string_view name);
  bool Refuse(std::u16string_view name, std::atomic<bool>& flag, std::u16string_view message);

  Platform& platform_;
  std::u16string text_;
  std::vector<StyleUnit> units_;
  FrameValues values_;
  std::set<std::u16string, std::less<>> declared_;
  FrameValues defaults_;
  std::u16string replyName_;
  std::u16string replyKind_;
  StyleOwner* owner_ = nullptr;
  int32_t decidingFirstByte_ = -1;
};

}  // namespace qb
