// The benchmark's output: the machine it ran on and one table of every run, as Markdown, so that
// the output can go into the performance notes as it stands.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "line_budget.h"
#include "master_run.h"

namespace qb::bench {

// One row of the table: a measured master, or the line's limit when `run` is empty.
struct Row {
  std::string master;  // "(a) library, defaults", ...
  int baud = 0;
  int replyDelayMs = 0;
  LineBudget budget;
  bool waitsAfterReply = false;  // the master leaves a silence of its own after each reply
  const MasterRun* run = nullptr;
  RunFigures figures;
};

std::string MachineText();  // CPU model, cores, load average, kernel
std::string LoadText();     // the load average now
void PrintBudgets(const std::vector<int>& bauds, int bitsPerChar, int registers);
void PrintTable(const std::vector<Row>& rows);
// Empty when the run is sound, else what went wrong with it.
std::string RunProblems(const Row& row);

}  // namespace qb::bench
