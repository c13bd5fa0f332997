// The property keys under which a query item keeps its request. They are the library's own
// abbreviations and appear unchanged in protocol definitions and diagnostics.
#pragma once

#include <string_view>

namespace qb::keys {

inline constexpr std::u16string_view kItmId = u"^.ItmId";
inline constexpr std::u16string_view kFncCode = u"^.FncCode";
inline constexpr std::u16string_view kSlvAddr = u"^.SlvAddr";
inline constexpr std::u16string_view kSttAddr = u"^.SttAddr";
inline constexpr std::u16string_view kLength = u"^.Length";
inline constexpr std::u16string_view kDeviceName = u"^.DeviceName";
inline constexpr std::u16string_view kBitPos = u"^.BitPos";
inline constexpr std::u16string_view kWritingBit = u"^.WritingBit";
inline constexpr std::u16string_view kWritingWord = u"^.WritingWord";
inline constexpr std::u16string_view kRawData = u"^.RawData";
inline constexpr std::u16string_view kAndMask = u"^.AndMask";
inline constexpr std::u16string_view kOrMask = u"^.OrMask";
inline constexpr std::u16string_view kReadRefAddress = u"^.ReadRefAddress";
inline constexpr std::u16string_view kReadLength = u"^.ReadLength";
inline constexpr std::u16string_view kWriteRefAddress = u"^.WriteRefAddress";
inline constexpr std::u16string_view kWriteLength = u"^.WriteLength";
inline constexpr std::u16string_view kIsUsrModFrm = u"^.IsUsrModFrm";
inline constexpr std::u16string_view kSendingUsrModFrm = u"^.SendingUsrModFrm";
inline constexpr std::u16string_view kUsrModFrmResponseLength = u"^.UsrModFrmResponseLength";
inline constexpr std::u16string_view kIsAuto = u"^.IsAuto";
inline constexpr std::u16string_view kPaused = u"^.Paused";

}  // namespace qb::keys
