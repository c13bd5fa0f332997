// What `quillbox poll --monitor` and `quillbox demo --monitor` send to `quillbox monitor` besides
// the library's own Log window: each event as a line of the trace viewer's first pane (time-outs
// and watchdog events in the second too) and the running counts as its status entries.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "cli/poller.h"

namespace qb::cli {

class MonitorFeed {
 public:
  explicit MonitorFeed(const std::string& socketPath);
  ~MonitorFeed();
  MonitorFeed(const MonitorFeed&) = delete;
  MonitorFeed& operator=(const MonitorFeed&) = delete;

  // Frames sent are left out: the library's Log window shows them.
  void Event(const PollEvent& event);
  void Status(const std::string& name, uint64_t value);

 private:
  void Send(const std::string& command);

  int fd_ = -1;
  std::string path_;
};

// Adds --monitor[=PATH] to a subcommand; MonitorPath gives the socket chosen (empty: none).
CLI::Option* AddMonitorOption(CLI::App* app, std::string* path);
std::string MonitorPath(const CLI::Option* option, const std::string& given);

}  // namespace qb::cli
