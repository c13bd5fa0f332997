// What the serial line itself needs for one polling transaction (a read of holding registers in
// Modbus RTU): the characters of the request and the reply, and the silences that separate RTU
// frames. This is the yardstick every measured master is compared with; it involves no software.
#pragma once

namespace qb::bench {

struct LineBudget {
  double charUs = 0;     // one character: start bit + data bits + parity + stop bits, over baud
  double requestUs = 0;  // the request on the wire
  double replyUs = 0;    // the reply on the wire
  // The silence that ends an RTU frame: 3.5 characters, fixed at 1750 us above 19200 baud.
  double silenceUs = 0;

  double WireUs() const { return requestUs + replyUs; }
  // The fastest a conforming line can go: each transaction carries both frames and two silences,
  // the one after the request (so the device sees its end) and the one after the reply (so the
  // next request is a frame of its own). deviceDelayUs is extra time the device takes to answer.
  double LimitUs(double deviceDelayUs = 0) const {
    return WireUs() + 2 * silenceUs + deviceDelayUs;
  }
  // The same with only the silence after the request: what a master that sends its next request
  // as soon as it has the reply can reach against a device that waits the silence.
  double OneSilenceUs(double deviceDelayUs = 0) const {
    return WireUs() + silenceUs + deviceDelayUs;
  }
};

// The budget of a read of `registers` holding registers (function 3) at `baud` with
// `bitsPerChar` bits per character (10 for 8N1).
LineBudget ReadRegistersBudget(int baud, int bitsPerChar, int registers);

}  // namespace qb::bench
