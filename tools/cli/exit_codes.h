// The exit codes of the quillbox command, the same for every subcommand, and their description
// for --help.
#pragma once

namespace qb::cli {

inline constexpr int kExitOk = 0;           // done: stopped by a signal or at the end of --duration
inline constexpr int kExitFailure = 1;      // the line failed while running, or nothing could start
inline constexpr int kExitBadArgument = 2;  // the command line or an initial value is wrong
inline constexpr int kExitDevice = 3;       // the device cannot be opened or set up (or no pty)
inline constexpr int kExitValuesFile = 4;   // the initial-values file cannot be read or is wrong

inline constexpr const char* kExitCodesHelp =
    "Exit codes:\n"
    "  0  stopped by SIGINT/SIGTERM or at the end of --duration\n"
    "  1  the line failed while running, or the simulator could not start\n"
    "  2  bad command line (unknown option, value out of range, bad --set assignment)\n"
    "  3  the device cannot be opened or configured, or no pseudo-terminal can be created\n"
    "  4  the initial-values file cannot be read or has an error\n";

}  // namespace qb::cli
