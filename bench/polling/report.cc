// Formatting of the machine description and the table. Times are printed in milliseconds with
// two or three decimals, CPU times in microseconds; a figure that could not be taken prints "-".
#include "report.h"

#include <sys/utsname.h>

#include <cstdio>
#include <fstream>
#include <thread>

namespace qb::bench {
namespace {

// How much earlier than scheduled a reply may end before the run is not trusted. The device notes
// its times a few microseconds after the moments they stand for, so a reply that ends this much
// ahead of its schedule was not paced as the figures assume.
constexpr double kDeviceEarlyToleranceUs = 100.0;

std::string FirstLineOf(const std::string& path, const std::string& prefix) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return {};
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Ms(double us, int decimals = 2) { return Fixed(us / 1000.0, decimals); }

// When the device answers: after the silence only, or that much later.
std::string DelayText(int replyDelayMs) {
  if (replyDelayMs == 0) return "silence";
  char text[32];
  std::snprintf(text, sizeof text, "+%d ms", replyDelayMs);
  return text;
}

void PrintCells(const std::vector<std::string>& cells) {
  std::string line = "|";
  for (const std::string& cell : cells) {
    line += ' ';
    line += cell;
    line += " |";
  }
  std::printf("%s\n", line.c_str());
}

std::string MsOrDash(const std::optional<double>& us) { return us ? Ms(*us, 3) : "-"; }

}  // namespace

std::string LoadText() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

std::string MachineText() {
  std::string model = FirstLineOf("/proc/cpuinfo", "model name");
  if (const auto colon = model.find(':'); colon != std::string::npos)
    model = model.substr(colon + 2);
  utsname name{};
  std::string kernel = uname(&name) == 0 ? std::string(name.sysname) + " " + name.release : "?";
  return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, " + kernel;
}

void PrintBudgets(const std::vector<int>& bauds, int bitsPerChar, int registers) {
  std::printf(
      "| baud | character | request + reply on the wire | 3.5-char silence | (d) limit, two "
      "silences | (d') one silence |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|\n");
  for (const int baud : bauds) {
    const LineBudget b = ReadRegistersBudget(baud, bitsPerChar, registers);
    std::printf("| %d | %s us | %s ms | %s ms | %s ms = %s tx/s | %s ms = %s tx/s |\n", baud,
                Fixed(b.charUs, 1).c_str(), Ms(b.WireUs(), 3).c_str(), Ms(b.silenceUs, 3).c_str(),
                Ms(b.LimitUs(), 3).c_str(), Fixed(1e6 / b.LimitUs(), 1).c_str(),
                Ms(b.OneSilenceUs(), 3).c_str(), Fixed(1e6 / b.OneSilenceUs(), 1).c_str());
  }
}

std::string RunProblems(const Row& row) {
  if (row.run == nullptr) return {};
  const MasterRun& run = *row.run;
  if (!run.failure.empty()) return run.failure;
  std::vector<std::string> problems;
  if (run.timeOuts != 0) problems.push_back(std::to_string(run.timeOuts) + " time-outs");
  if (run.badReplies != 0) problems.push_back(std::to_string(run.badReplies) + " wrong replies");
  if (!run.Complete()) problems.push_back("incomplete");
  // A device that finishes its replies ahead of its own schedule is not the paced device the
  // figures assume (a reply delay that did not take, a line that is not paced).
  if (row.figures.deviceLateUs && *row.figures.deviceLateUs < -kDeviceEarlyToleranceUs) {
    problems.push_back("device ahead of its schedule");
  }
  std::string text;
  for (const std::string& problem : problems) {
    if (!text.empty()) text += ", ";
    text += problem;
  }
  return text;
}

void PrintTable(const std::vector<Row>& rows) {
  const std::vector<std::string> heading{"master",          "baud",
                                         "reply after",     "tx/s",
                                         "of (d)",          "of (d')",
                                         "ms/tx",           "own wait ms",
                                         "overhead ms",     "device late ms",
                                         "read path ms",    "send path ms",
                                         "write path ms",   "own overhead ms",
                                         "own to write ms", "owner CPU us/tx",
                                         "wake-ups/tx",     "CPU us/tx",
                                         "idle CPU us/s",   "checks"};
  PrintCells(heading);
  std::vector<std::string> rule(heading.size(), "---:");
  rule.front() = rule.back() = "---";
  PrintCells(rule);
  for (const Row& row : rows) {
    const double delayUs = row.replyDelayMs * 1000.0;
    const double limitUs = row.budget.LimitUs(delayUs);
    const double oneSilenceUs = row.budget.OneSilenceUs(delayUs);
    std::vector<std::string> cells{row.master, std::to_string(row.baud),
                                   DelayText(row.replyDelayMs)};
    if (row.run == nullptr) {
      cells.insert(cells.end(),
                   {Fixed(1e6 / limitUs, 1), "100%", Fixed(100.0 * oneSilenceUs / limitUs, 1) + "%",
                    Ms(limitUs), Ms(row.budget.silenceUs, 3)});
    } else if (row.run->Complete()) {
      const RunFigures& f = row.figures;
      // What the line and the device take in every transaction whatever the master does (the
      // one-silence figure); the rest is the master's own wait after the reply and its overhead.
      const double ownWaitUs = row.waitsAfterReply ? f.ruleWaitUs : 0.0;
      const auto& idle = row.run->idleCpuUsPerSecond;
      // The master's time per transaction free of the emulated line's early last byte: what it
      // takes to get the reply and until the device has the next request.
      std::optional<double> ownOverheadUs;
      if (f.readPathUs && f.sendPathUs) ownOverheadUs = *f.readPathUs + *f.sendPathUs;
      // The same with the send path taken to the master's write, free of the emulated device's
      // wake-up: the master's own time on a UART.
      std::optional<double> ownToWriteUs;
      if (f.readPathUs && f.writePathUs) ownToWriteUs = *f.readPathUs + *f.writePathUs;
      cells.insert(
          cells.end(),
          {Fixed(1e6 / f.transactionUs, 1), Fixed(100.0 * limitUs / f.transactionUs, 1) + "%",
           Fixed(100.0 * oneSilenceUs / f.transactionUs, 1) + "%", Ms(f.transactionUs),
           row.waitsAfterReply ? Ms(ownWaitUs, 3) : "0",
           Ms(f.transactionUs - oneSilenceUs - ownWaitUs, 3), MsOrDash(f.deviceLateUs),
           MsOrDash(f.readPathUs), MsOrDash(f.sendPathUs), MsOrDash(f.writePathUs),
           MsOrDash(ownOverheadUs), MsOrDash(ownToWriteUs), Fixed(f.ownerCpuUs, 1),
           Fixed(f.wakeUps, 2), Fixed(f.hostCpuUs, 1), idle ? Fixed(*idle, 0) : "-"});
    }
    cells.resize(heading.size() - 1, "-");
    const std::string problems = RunProblems(row);
    cells.push_back(row.run == nullptr ? "" : problems.empty() ? "ok" : problems);
    PrintCells(cells);
  }
}

}  // namespace qb::bench
