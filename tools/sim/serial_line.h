// The line the simulator serves: a new pseudo-terminal, whose other end a master opens by its
// path as if it were a serial port, or a real serial device configured for the line's format.
#pragma once

#include <string>

#include "sim/line_pacing.h"

namespace qb::sim {

// A pseudo-terminal pair. The simulator serves the master side; a master program opens
// SlavePath(). The pair keeps a descriptor of the slave side open itself, so that the master side
// does not hang up between two programs that open and close the path. The terminal starts raw
// (no echo, no line editing, no character translation), as a serial port is used.
class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // False with the reason in *error when no pseudo-terminal can be had.
  bool Open(std::string* error);
  void Close();

  int MasterFd() const { return master_; }
  const std::string& SlavePath() const { return path_; }

 private:
  int master_ = -1;
  int keepSlave_ = -1;
  std::string path_;
};

// Opens a serial device non-blocking, raw, with the line's baud rate, data bits, parity and stop
// bits. Returns the descriptor (the caller closes it), or -1 with the reason in *error: the path
// cannot be opened, is not a terminal, or the baud rate is not one the driver offers.
int OpenSerialDevice(const std::string& path, const LineFormat& format, std::string* error);

}  // namespace qb::sim
