// The texts the Style engine shows or reports, in one place, and the flags of the messages that a
// user sees only once per process: a template that keeps failing the same way would otherwise open
// the same modal box at every poll.
#pragma once

#include <atomic>
#include <string_view>

namespace qb::style_messages {

// Compilation, shown with the offending item appended.
inline constexpr std::u16string_view kLengthEmpty = u"길이가 널스트링입니다\r\n\r\n";
inline constexpr std::u16string_view kLengthNotNumber =
    u"길이는 숫자이든지 혹은 변수일 경우 ~과 최대 길이값이 붙여져야 합니다\r\n\r\n";
inline constexpr std::u16string_view kLengthVariableAlpha =
    u"길이변수는 알파벳으로 시작해야 합니다.\r\n\r\n";
inline constexpr std::u16string_view kMaximumPositive =
    u"~ 다음에 0보다 큰 최대 길이를 지정해야 합니다.\r\n\r\n";
// Compilation, once per process: a named item after an open variable-length field ...
inline constexpr std::u16string_view kHj34Head = u"MakeStyle Error HJ34 : ";
inline constexpr std::u16string_view kHj34Tail =
    u"\r\n\r\n길이 가변형 문자열 다음에는 변수가 아닌 고정값이 와야함";
// ... and an open variable-length field at the end of the text.
inline constexpr std::u16string_view kNr39 =
    u"MakeStyle Error NR39: 길이 가변형 다음에는 고정값이 반드시 와야함";

// Values given under a name the template does not declare (once per process each).
inline constexpr std::u16string_view kSetIntUndeclared =
    u"[SetInt 오류] 정의되지 않은 변수명입니다: '";
inline constexpr std::u16string_view kSetStrUndeclared =
    u"[SetStr 오류] 정의되지 않은 변수명입니다: '";

// Building: a checksum variable whose field cannot hold a checksum (once per process).
inline constexpr std::u16string_view kBuildChecksumFormat =
    u"보낼 패킷의 체크섬 형식을 알 수 없습니다.";

// Parsing: the error texts kept by the receiver.
inline constexpr std::u16string_view kChecksumInternal1 = u"* 체크섬 처리 내부 에러-1";
inline constexpr std::u16string_view kChecksumInternal2 = u"* 체크섬 처리 내부 에러-2";
inline constexpr std::u16string_view kLoopInternal1 = u"루프 처리 내부 에러-1";
// A repeated group that keeps running without consuming bytes: the parse gives up instead of
// looping on (the template is at fault, not the line).
inline constexpr std::u16string_view kLoopInternal2 = u"루프 처리 내부 에러-2";
inline constexpr std::u16string_view kChecksumUnitMissing = u"*63476 체크섬 관련 내부 에러";
inline constexpr std::u16string_view kChecksumMismatch = u"* 체크섬이 틀립니다. 키이름=";
inline constexpr std::u16string_view kBinaryChecksumMismatch =
    u"* 바이너리 체크섬이 틀립니다. 키이름=";
inline constexpr std::u16string_view kFixedMismatch = u"@63451 고정값이 일치하지 않음. 기대값=0x";
inline constexpr std::u16string_view kNoName =
    u"@67435 변수명이 널스트링입니다(비트값이 아닌데도). UnitIdx=";
inline constexpr std::u16string_view kNoTerminatorAtEnd =
    u"@96547 가변 데이터의 끝을 발견하지 못하고 끝났습니다. UnitIdx=";
inline constexpr std::u16string_view kTerminatorNotFixed =
    u"@62743 가변 데이터 다음에는 고정값이 와야합니다. UnitIdx=";
inline constexpr std::u16string_view kNoLengthValue =
    u"@79754 길이 정보를 얻을 수 없습니다. 길이 정보 키=";
inline constexpr std::u16string_view kNullCharacter =
    u"@25442 NULL 캐릭터가 올 수 없습니다. UnitIdx=";
inline constexpr std::u16string_view kBinLengthMismatch = u"@62323 길이가 예측과 다름. 키=";
inline constexpr std::u16string_view kTextLengthMismatch = u"@64223 데이터 길이가 예측과 다름. 키=";
inline constexpr std::u16string_view kValueTooLarge = u"@95674 너무 큰 값을 만남 : ";
inline constexpr std::u16string_view kUnknownUnitType =
    u"@73246 알 수 없는 UnitType입니다. UnitIdx=";

// Once-per-process flags: set at start, cleared when the message is shown.
extern std::atomic<bool> hj34NotShown;
extern std::atomic<bool> nr39NotShown;
extern std::atomic<bool> setIntNotShown;
extern std::atomic<bool> setStrNotShown;
extern std::atomic<bool> buildChecksumNotShown;

}  // namespace qb::style_messages

namespace qb::detail {
// Sets every once-per-process flag of the Style engine again, so that a test sees the first-time
// behaviour.
void ResetStyleMessageFlags();
}  // namespace qb::detail
