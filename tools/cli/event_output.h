// What `quillbox poll` and `demo` print: one block of lines (text) or one JSON line per event,
// and the summary. The text shows reads as mbpoll does ("[1]: \t10"), so that what parses mbpoll's
// output parses this too.
#pragma once

#include <ostream>

#include "cli/poller.h"

namespace qb::cli {

// Events go to out; with config.verbose, the frames sent and received go to err.
void PrintEvent(const PollEvent& event, const PollConfig& config, std::ostream& out,
                std::ostream& err);
// exitCode: what the run ends with, in the JSON summary.
void PrintSummary(const PollSummary& summary, bool json, int exitCode, std::ostream& out);

}  // namespace qb::cli
