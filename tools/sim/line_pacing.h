// The timing of a serial line, for a pseudo-terminal that should behave like one: how long a
// character takes at the line's baud rate and framing, how long the silence is that ends an RTU
// frame, and how long a frame of n characters occupies the wire.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace qb::sim {

// The character format of the line. Parity is 'N', 'E' or 'O'.
struct LineFormat {
  int baud = 9600;
  int dataBits = 8;
  char parity = 'N';
  int stopBits = 1;
};

// Empty when the format is one a serial line can have (baud > 0, 7 or 8 data bits, parity N, E
// or O, 1 or 2 stop bits); otherwise the reason it is not.
std::string CheckLineFormat(const LineFormat& format);

// Start bit + data bits + parity bit (if any) + stop bits: 10 for 8N1, 11 for 8E1 or 8N2.
int BitsPerChar(const LineFormat& format);

class LinePacing {
 public:
  // With paced = false the simulator answers as fast as it can; the character time is still used
  // to find the end of an RTU frame.
  LinePacing(const LineFormat& format, bool paced);

  bool Paced() const { return paced_; }
  const LineFormat& Format() const { return format_; }
  // Bits per character / baud, rounded up to whole microseconds.
  std::chrono::microseconds CharTime() const { return charTime_; }
  // The silence that ends an RTU frame: 3.5 character times, and at least 1750 us, the fixed
  // value that Modbus devices use above 19200 baud.
  std::chrono::microseconds FrameSilence() const { return frameSilence_; }
  // The time that count characters occupy the line.
  std::chrono::microseconds WireTime(size_t count) const;

 private:
  LineFormat format_;
  bool paced_;
  std::chrono::microseconds charTime_;
  std::chrono::microseconds frameSilence_;
};

}  // namespace qb::sim
