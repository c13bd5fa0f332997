// The exit codes of the quillbox command, the same for every subcommand, and their description
// for --help.
#pragma once

namespace qb::cli {

inline constexpr int kExitOk = 0;           // done, and a poll had at least one reply
inline constexpr int kExitFailure = 1;      // no reply at all, the line failed, nothing could start
inline constexpr int kExitBadArgument = 2;  // the command line or an initial value is wrong
inline constexpr int kExitDevice = 3;       // the device cannot be opened or set up (or no pty)
inline constexpr int kExitValuesFile = 4;   // the initial-values file cannot be read or is wrong

inline constexpr const char* kExitCodesHelp =
    "Exit codes:\n"
    "  0  done: the cycles ran, --duration ended or SIGINT/SIGTERM came (poll: with at least one\n"
    "     reply)\n"
    "  1  poll: requests were sent and none got a reply; demo: a time-out or a value the\n"
    "     simulator does not hold; any: the line failed, or the simulator could not start\n"
    "  2  bad command line (unknown option, value out of range, bad --set assignment)\n"
    "  3  the device cannot be opened or configured, or no pseudo-terminal can be created\n"
    "  4  the initial-values file cannot be read or has an error\n";

}  // namespace qb::cli
