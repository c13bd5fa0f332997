// The line settings of the port as the Linux terminal driver takes them: the baud rate and the
// parity, data bits and stop bits texts of the host become one record of terminal flag words. It
// is kept apart from the device so that the translation can be checked without a serial port:
// pseudo-terminals ignore baud rates and force 8 data bits without parity, so those settings can
// only be seen in the record.
#pragma once

#include <cstdint>
#include <string_view>

namespace qb {

// The fields of a kernel termios2 record that the port sets. Flag values are those of the kernel
// (<asm/termbits.h>), which may differ from the C library's for the baud rate bits.
struct LineSettings {
  uint32_t inputFlags = 0;    // c_iflag
  uint32_t outputFlags = 0;   // c_oflag
  uint32_t controlFlags = 0;  // c_cflag, baud rate code included
  uint32_t localFlags = 0;    // c_lflag
  uint8_t minBytes = 0;       // c_cc[VMIN]
  uint8_t interByteTime = 0;  // c_cc[VTIME], tenths of a second
  uint32_t inputSpeed = 0;    // c_ispeed
  uint32_t outputSpeed = 0;   // c_ospeed
};

// Raw binary mode: no echo, no signals, no line editing, no character translation, no XON/XOFF
// and no CTS flow control, modem status lines ignored, the receiver on. A read takes what has
// arrived (at least one byte; the port reads without blocking). "Even" and "Odd" (exactly, case
// matters) give even or odd parity with parity checking on; any other text gives no parity. "7"
// gives 7 data bits, anything else 8; "2" gives two stop bits, anything else one. A standard rate
// uses its rate code, any other rate the driver's free rate (BOTHER) with the number itself.
// False for a baud rate of 0, which on this driver would hang the line up instead.
bool MakeLineSettings(uint32_t baud, std::u16string_view parity, std::u16string_view dataBits,
                      std::u16string_view stopBits, LineSettings* out);

// The bits one character takes on the wire with these texts (read as MakeLineSettings reads
// them): the start bit, the data bits, the parity bit and the stop bits.
uint32_t BitsPerCharacter(std::u16string_view parity, std::u16string_view dataBits,
                          std::u16string_view stopBits);

// The rate code of a standard baud rate (B9600 for 9600, ...), 0 when the rate has none.
uint32_t StandardBaudCode(uint32_t baud);
// The baud rate a record describes, from its rate code or, for a free rate, its output speed.
// 0 when the code is unknown.
uint32_t BaudOf(const LineSettings& settings);

// Whether the driver kept what the port asked for, judged on the record read back after writing:
// data bits, parity and stop bits exactly, the baud rate within 3 % (a UART driver stores the rate
// its clock divider really gives; beyond 3 % the line would not work anyway). A driver that cannot
// do a setting silently replaces it, so this comparison is how a refusal shows.
bool SettingsTook(const LineSettings& wanted, const LineSettings& readBack);

}  // namespace qb
