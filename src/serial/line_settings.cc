// Translation of the host's line setting texts into kernel terminal flags. Only the kernel's
// header is included here (it cannot share a translation unit with <termios.h>), so every flag
// value in the record is the kernel's own.
#include "serial/line_settings.h"

#include <asm/termbits.h>

#include <array>
#include <utility>

namespace qb {
namespace {

constexpr std::array<std::pair<uint32_t, uint32_t>, 30> kStandardRates{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

constexpr uint32_t kFrameBits = CSIZE | PARENB | PARODD | CSTOPB;

}  // namespace

uint32_t StandardBaudCode(uint32_t baud) {
  for (const auto& [rate, code] : kStandardRates) {
    if (rate == baud) return code;
  }
  return 0;
}

uint32_t BaudOf(const LineSettings& settings) {
  const uint32_t code = settings.controlFlags & CBAUD;
  if (code == BOTHER) return settings.outputSpeed;
  for (const auto& [rate, rateCode] : kStandardRates) {
    if (rateCode == code) return rate;
  }
  return 0;
}

bool MakeLineSettings(uint32_t baud, std::u16string_view parity, std::u16string_view dataBits,
                      std::u16string_view stopBits, LineSettings* out) {
  if (baud == 0) return false;
  LineSettings s;
  const uint32_t code = StandardBaudCode(baud);
  s.controlFlags = (code != 0 ? code : BOTHER) | CREAD | CLOCAL;
  s.controlFlags |= dataBits == u"7" ? CS7 : CS8;
  if (parity == u"Even") {
    s.controlFlags |= PARENB;
  } else if (parity == u"Odd") {
    s.controlFlags |= PARENB | PARODD;
  }
  if (stopBits == u"2") s.controlFlags |= CSTOPB;
  // Parity checking on whenever there is parity: a byte received with a parity error reaches the
  // reader as 0, so the frame's own check rejects the frame instead of the query waiting for a
  // byte that was dropped.
  if ((s.controlFlags & PARENB) != 0) s.inputFlags = INPCK;
  s.outputFlags = 0;
  s.localFlags = 0;
  s.minBytes = 1;
  s.interByteTime = 0;
  s.inputSpeed = baud;
  s.outputSpeed = baud;
  *out = s;
  return true;
}

bool SettingsTook(const LineSettings& wanted, const LineSettings& readBack) {
  if ((wanted.controlFlags & kFrameBits) != (readBack.controlFlags & kFrameBits)) return false;
  const uint64_t want = BaudOf(wanted);
  const uint64_t got = BaudOf(readBack);
  const uint64_t diff = want > got ? want - got : got - want;
  return diff * 100 <= want * 3;
}

uint32_t BitsPerCharacter(std::u16string_view parity, std::u16string_view dataBits,
                          std::u16string_view stopBits) {
  const uint32_t parityBits = parity == u"Even" || parity == u"Odd" ? 1 : 0;
  return 1 + (dataBits == u"7" ? 7 : 8) + parityBits + (stopBits == u"2" ? 2 : 1);
}

}  // namespace qb
