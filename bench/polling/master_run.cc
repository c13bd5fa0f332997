// The arithmetic of a run: means over the measured transactions only.
#include "master_run.h"

#include <algorithm>

namespace qb::bench {

RunFigures Figure(const MasterRun& run, const DeviceTimes& device) {
  RunFigures figures;
  if (!run.Complete() || run.measured == 0) return figures;
  const size_t first = run.warmUp;
  const size_t last = run.warmUp + run.measured;
  const double n = static_cast<double>(run.measured);
  figures.transactionUs =
      static_cast<double>(run.replyTimes[last] - run.replyTimes[first]) / n / 1e3;
  figures.ownerCpuUs = static_cast<double>(run.busyCpuNs) / n / 1e3;
  figures.wakeUps = static_cast<double>(run.sleeps) / n;
  figures.hostCpuUs = static_cast<double>(run.hostCpuNs) / n / 1e3;
  if (run.ruleWaitNs.size() >= last) {
    int64_t sum = 0;
    for (size_t k = first; k < last; ++k) sum += run.ruleWaitNs[k];
    figures.ruleWaitUs = static_cast<double>(sum) / n / 1e3;
  }

  // Request k is answered by reply k only when nothing was lost or repeated on the way.
  const std::vector<int64_t>& requests = *device.requests;
  const std::vector<int64_t>& replyEnds = *device.replyEnds;
  if (run.timeOuts == 0 && requests.size() > last && replyEnds.size() >= last) {
    const bool waits = run.ruleWaitNs.size() >= last;
    int64_t late = 0;
    int64_t readPath = 0;
    int64_t sendPath = 0;
    // The writes line up with the requests the device took in when there are as many of each.
    const std::vector<int64_t>& writes = run.writeTimes;
    const bool written = writes.size() == requests.size();
    int64_t writePath = 0;
    for (size_t k = first; k < last; ++k) {
      late += replyEnds[k] - (requests[k] + device.replyEndAfterNs);
      // The device notes a reply's end after sleeping out its last character time; one character
      // earlier, after a sleep of the same kind, it handed the last byte over. The two sleeps
      // overrun alike, so the mean is close even where a single value is not.
      readPath += run.replyTimes[k] - (replyEnds[k] - device.charNs);
      // The device takes in nothing before its reply's end, so a master that is ready sooner
      // waits for the line, not for itself.
      const int64_t ready = run.replyTimes[k] + (waits ? run.ruleWaitNs[k] : 0);
      sendPath += requests[k + 1] - std::max(ready, replyEnds[k]);
      // A master may write while the device still sends the reply's last byte; its own part
      // starts when it may send.
      if (written) writePath += writes[k + 1] - ready;
    }
    figures.deviceLateUs = static_cast<double>(late) / n / 1e3;
    figures.readPathUs = static_cast<double>(readPath) / n / 1e3;
    figures.sendPathUs = static_cast<double>(sendPath) / n / 1e3;
    if (written) figures.writePathUs = static_cast<double>(writePath) / n / 1e3;
  }
  return figures;
}

}  // namespace qb::bench
