// Modbus RTU polling throughput over an emulated line: ten auto items of ten holding registers
// each, polled by the library with its default timing, by the library with the precise timer and
// no query interval, and by libmodbus's blocking master (sending at once, and waiting as the
// library does), each against the same paced simulated device, at 9600 and 115200 baud 8N1, with
// the device answering at once and after 5 ms. Every run is compared with what the line itself
// allows. A program rather than a timed test: the numbers depend on the machine and are reported,
// not asserted.
//
//   polling_benchmark [--cycles N] [--rounds R] [--quick] [--baud 9600|115200]
//                     [--master a|b|c|c'] [--delay 0|5] [--busy-cpus N]
//
// --cycles N: measured polling cycles (of ten transactions) per run; --rounds R: every master runs
// R times, the masters taking turns, and the table shows each master's median run by time per
// transaction (a shared machine's passing load then weighs on all masters alike); --quick: one
// cycle per run, one round and a short idle measurement, a smoke run of a few seconds; --baud,
// --master, --delay: only that rate, master or device delay (to profile or trace one of them);
// --busy-cpus N: N processes spin at the lowest scheduling class meanwhile, so that no CPU is idle
// (see busy_cpus.h; the masters' figures then tell their cost on a CPU that is awake). The
// exit status is 1 when a run failed, saw a time-out or a wrong reply, or found the device ahead of
// its own schedule.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "busy_cpus.h"
#include "libmodbus_master.h"
#include "library_master.h"
#include "line_budget.h"
#include "monotonic_time.h"
#include "report.h"
#include "simulated_device.h"
#include "write_stamps.h"

namespace {

using namespace qb::bench;

constexpr int kBitsPerChar = 10;  // 8N1
constexpr size_t kDefaultCycles = 30;
constexpr size_t kDefaultRounds = 3;

struct Options {
  size_t warmUp = kItems;  // transactions before the measurement: one cycle, or two in a quick run
  size_t cycles = kDefaultCycles;
  size_t rounds = kDefaultRounds;
  double idleSeconds = 1.0;
  bool quick = false;
  std::vector<int> bauds{9600, 115200};
  std::vector<int> delays{0, 5};
  std::string master;  // empty: all
  size_t busyCpus = 0;
};

// A whole number from 1 to most.
bool Count(const char* text, unsigned long most, size_t* out) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (end == nullptr || *end != '\0' || value == 0 || value > most) return false;
  *out = value;
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      options->quick = true;
      options->warmUp = 2;
      options->cycles = 1;
      options->rounds = 1;
      options->idleSeconds = 0.1;
    } else if (arg == "--cycles" && i + 1 < argc) {
      if (!Count(argv[++i], 100000, &options->cycles)) return false;
    } else if (arg == "--rounds" && i + 1 < argc) {
      if (!Count(argv[++i], 99, &options->rounds)) return false;
    } else if (arg == "--baud" && i + 1 < argc) {
      const std::string baud = argv[++i];
      if (baud != "9600" && baud != "115200") return false;
      options->bauds = {std::stoi(baud)};
    } else if (arg == "--delay" && i + 1 < argc) {
      const std::string delay = argv[++i];
      if (delay != "0" && delay != "5") return false;
      options->delays = {std::stoi(delay)};
    } else if (arg == "--busy-cpus" && i + 1 < argc) {
      if (!Count(argv[++i], 64, &options->busyCpus)) return false;
    } else if (arg == "--master" && i + 1 < argc) {
      options->master = argv[++i];
      if (options->master != "a" && options->master != "b" && options->master != "c" &&
          options->master != "c'") {
        return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

enum class Master { kLibraryDefaults, kLibraryPrecise, kLibmodbus, kLibmodbusWaiting };

const char* MasterName(Master master) {
  switch (master) {
    case Master::kLibraryDefaults:
      return "(a) library, defaults";
    case Master::kLibraryPrecise:
      return "(b) library, precise, interval 0";
    case Master::kLibmodbus:
      return "(c) libmodbus";
    case Master::kLibmodbusWaiting:
      return "(c') libmodbus, waiting as (b)";
  }
  return "?";
}

// One master's run against a fresh device, and the figures taken from it and the device's times.
struct Measured {
  std::unique_ptr<MasterRun> run;
  RunFigures figures;
};

Measured Measure(Master master, int baud, int replyDelayMs, const Options& options) {
  const size_t warmUp = options.warmUp;
  const size_t measured = options.cycles * kItems;
  Measured result;
  SimulatedDevice device;
  std::string error;
  if (!device.Start({baud, replyDelayMs, warmUp + measured + 4}, &error)) {
    result.run = std::make_unique<MasterRun>();
    result.run->failure = "simulator: " + error;
    return result;
  }
  MasterRun run;
  StampWritesTo(device.Path(), warmUp + measured + 4);
  // The masters' CPU: the whole process but the device's thread.
  const auto hostCpuNs = [&device] {
    return CpuNs(CLOCK_PROCESS_CPUTIME_ID) - device.ThreadCpuNs();
  };
  if (master == Master::kLibmodbus || master == Master::kLibmodbusWaiting) {
    // The library's RTU gap at this rate, the wait (b) observes.
    const int waitRuleMs = master == Master::kLibmodbusWaiting ? 1 + 38400 / baud : 0;
    run = RunLibmodbus({baud, 1000, warmUp, measured, waitRuleMs, hostCpuNs}, device.Path());
  } else {
    LibraryConfig config;
    config.baud = static_cast<uint32_t>(baud);
    config.timerPeriodMs = master == Master::kLibraryDefaults ? 10 : 0;
    config.queryIntervalMs = master == Master::kLibraryDefaults ? 10 : 0;
    config.warmUp = warmUp;
    config.measured = measured;
    config.idleSeconds = options.idleSeconds;
    config.hostCpuNs = hostCpuNs;
    run = RunLibrary(config, device.Path());
  }
  run.writeTimes = TakeWriteStamps();
  device.Stop();
  result.figures = Figure(run, {&device.RequestTimes(), &device.ReplyEndTimes(),
                                device.ReplyEndAfterNs(), device.CharNs()});
  result.run = std::make_unique<MasterRun>(std::move(run));
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The run to show of one master's rounds: one with a problem if any has one, so that it is seen;
// else the median by time per transaction. The CPU a thread takes on waking from an idle virtual
// CPU varies between runs by more than the time does, so the CPU and wake-up figures shown are
// the medians over the rounds, not those of that one run.
Row MedianRun(std::vector<Row> runs) {
  for (const Row& run : runs) {
    if (!RunProblems(run).empty()) return run;
  }
  std::vector<double> ownerCpu, hostCpu, wakeUps;
  for (const Row& run : runs) {
    ownerCpu.push_back(run.figures.ownerCpuUs);
    hostCpu.push_back(run.figures.hostCpuUs);
    wakeUps.push_back(run.figures.wakeUps);
  }
  std::sort(runs.begin(), runs.end(), [](const Row& a, const Row& b) {
    return a.figures.transactionUs < b.figures.transactionUs;
  });
  Row shown = runs[runs.size() / 2];
  shown.figures.ownerCpuUs = Median(ownerCpu);
  shown.figures.hostCpuUs = Median(hostCpu);
  shown.figures.wakeUps = Median(wakeUps);
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: %s [--cycles N] [--rounds R] [--quick] [--baud 9600|115200] "
                 "[--master a|b|c|c'] [--delay 0|5] [--busy-cpus N]\n",
                 argv[0]);
    return 2;
  }
  const std::vector<int>& bauds = options.bauds;
  const std::vector<int>& delays = options.delays;
  std::vector<Master> masters;
  const char* letters[] = {"a", "b", "c", "c'"};
  const Master all[] = {Master::kLibraryDefaults, Master::kLibraryPrecise, Master::kLibmodbus,
                        Master::kLibmodbusWaiting};
  for (size_t m = 0; m < 4; ++m) {
    if (options.master.empty() || options.master == letters[m]) masters.push_back(all[m]);
  }

  std::string command;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) command += ' ';
    command += argv[i];
  }
  std::printf("Machine: %s\nLoad average before: %s\nCommand: %s\n", MachineText().c_str(),
              LoadText().c_str(), command.c_str());
  // Started before any master's thread: the children are forked from a single-threaded process.
  const BusyCpus busy(options.busyCpus);
  if (busy.Running() > 0) {
    std::printf("Busy CPUs: %zu processes spinning at the lowest scheduling class (SCHED_IDLE)\n",
                busy.Running());
  }
  std::printf(
      "Per run: %zu warm-up and %zu measured transactions (10 items x 10 registers); %zu "
      "round(s), the median run of each master shown (CPU and wake-ups: the medians over the "
      "rounds)\n\n",
      options.warmUp, options.cycles * kItems, options.rounds);
  PrintBudgets(bauds, kBitsPerChar, kRegistersPerItem);
  std::printf("\n");
  std::fflush(stdout);

  std::vector<Measured> kept;  // the rows point into these runs
  kept.reserve(bauds.size() * delays.size() * masters.size() * options.rounds);
  std::vector<Row> rows;
  bool allSound = true;
  for (const int baud : bauds) {
    for (const int delay : delays) {
      const LineBudget budget = ReadRegistersBudget(baud, kBitsPerChar, kRegistersPerItem);
      std::vector<std::vector<Row>> runs(masters.size());  // per master, one row per round
      for (size_t round = 1; round <= options.rounds; ++round) {
        for (size_t m = 0; m < masters.size(); ++m) {
          const Master master = masters[m];
          std::fprintf(stderr, "%s at %d baud, reply delay %d ms, round %zu...\n",
                       MasterName(master), baud, delay, round);
          kept.push_back(Measure(master, baud, delay, options));
          runs[m].push_back(Row{MasterName(master), baud, delay, budget,
                                master != Master::kLibmodbus, kept.back().run.get(),
                                kept.back().figures});
        }
      }
      for (const std::vector<Row>& masterRuns : runs) {
        const Row shown = MedianRun(masterRuns);
        if (!RunProblems(shown).empty()) allSound = false;
        rows.push_back(shown);
      }
      rows.push_back(Row{"(d) the line's limit", baud, delay, budget, true, nullptr, {}});
    }
  }
  PrintTable(rows);
  std::printf("\nLoad average after: %s\n", LoadText().c_str());
  return allSound ? 0 : 1;
}
