#include "cli/monitor_command.h"

#include <signal.h>

#include <atomic>
#include <charconv>
#include <iostream>
#include <memory>

#include "cli/exit_codes.h"
#include "monitor/datagram_socket.h"
#include "monitor/monitor_server.h"

namespace qb::cli {
namespace {

constexpr int kDefaultPort = 8417;

std::atomic<bool> stopMonitor{false};

void OnSignal(int) { stopMonitor = true; }

struct MonitorArgs {
  std::string socket = monitor::DefaultSocketPath();
  std::string http = "127.0.0.1:" + std::to_string(kDefaultPort);
};

int Run(const MonitorArgs& args) {
  const size_t colon = args.http.rfind(':');
  int port = -1;
  if (colon != std::string::npos) {
    const char* end = args.http.data() + args.http.size();
    const auto [next, error] = std::from_chars(args.http.data() + colon + 1, end, port);
    if (error != std::errc() || next != end || port < 0 || port > 65535) port = -1;
  }
  if (port < 0 || colon == 0) {
    std::cerr << "quillbox monitor: --http must be ADDRESS:PORT, e.g. 127.0.0.1:" << kDefaultPort
              << "\n";
    return kExitBadArgument;
  }
  std::string host = args.http.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  monitor::MonitorServer server;
  std::string error;
  if (!server.Start(args.socket, host, port, &error)) {
    std::cerr << "quillbox monitor: " << error << "\n";
    return kExitFailure;
  }
  const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  std::cout << "Monitor socket: " << args.socket << "\n"
            << "Monitor page: http://" << shownHost << ":" << server.Port() << "/\n"
            << "Hosts send to it with QUILLBOX_MONITOR=" << args.socket
            << " or qbSetMonitorSocket; Ctrl-C ends.\n"
            << std::flush;
  server.Run(stopMonitor);
  return kExitOk;
}

}  // namespace

Command AddMonitorCommand(CLI::App& parent) {
  auto args = std::make_shared<MonitorArgs>();
  CLI::App* app = parent.add_subcommand(
      "monitor",
      "Show the trace viewer's commands, the library's Log window and its drawn texts live in a "
      "read-only web page. They arrive as datagrams on a Unix socket that only this user can "
      "write to.");
  app->option_defaults()->always_capture_default();
  app->add_option("--socket", args->socket, "Unix socket to receive on");
  app->add_option("--http", args->http,
                  "Address and port of the page (port 0: any free port; an address other than "
                  "loopback makes the page visible to the network)");
  return Command{app, [args] { return Run(*args); }};
}

}  // namespace qb::cli
