// The exit codes of the quillbox command, the same for every subcommand, and their description
// for --help. A poll's codes tell a script what went wrong: the worst thing seen wins (7 over 6
// over 5).
#pragma once

namespace qb::cli {

inline constexpr int kExitOk = 0;           // done; a poll: every request was answered
inline constexpr int kExitFailure = 1;      // demo: wrong values or a time-out; sim: line failed
inline constexpr int kExitBadArgument = 2;  // the command line or an initial value is wrong
inline constexpr int kExitDevice = 3;       // the device cannot be opened or set up (or no pty)
inline constexpr int kExitValuesFile = 4;   // the initial-values file cannot be read or is wrong
inline constexpr int kExitTimeout = 5;      // poll: a request got no (valid) reply in time
inline constexpr int kExitException = 6;    // poll: a device answered with an exception
inline constexpr int kExitPortLost = 7;     // poll: the port failed or disappeared while polling

inline constexpr const char* kExitCodesHelp =
    "Exit codes:\n"
    "  0  done: poll: every request was answered (also when stopped by SIGINT/SIGTERM);\n"
    "     sim and demo: ran to their end\n"
    "  1  demo: a time-out or a value the simulator does not hold; sim: the line failed, or\n"
    "     the simulator could not start\n"
    "  2  bad command line (unknown option, value out of range, bad --set assignment)\n"
    "  3  the device cannot be opened or configured, or no pseudo-terminal can be created\n"
    "  4  the initial-values file cannot be read or has an error\n"
    "  5  poll: a request got no valid reply within the time-out\n"
    "  6  poll: a device answered with an exception (e.g. Illegal data address)\n"
    "  7  poll: the port failed or disappeared while polling\n";

}  // namespace qb::cli
