#include "monitor/monitor_server.h"

#include <httplib.h>

#include <random>

#include "monitor/page.h"

namespace qb::monitor {
namespace {

constexpr size_t kKeptUpdates = 256;
constexpr size_t kDatagramsPerTurn = 4096;

std::string Dump(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

}  // namespace

MonitorServer::MonitorServer()
    : state_([random = std::minstd_rand(
                  std::random_device{}())]() mutable { return static_cast<uint32_t>(random()); },
             LocalNow),
      http_(std::make_unique<httplib::Server>()) {}

MonitorServer::~MonitorServer() {
  if (httpThread_.joinable()) {
    http_->stop();
    httpThread_.join();
  }
}

bool MonitorServer::Start(const std::string& socketPath, const std::string& host, int port,
                          std::string* error) {
  if (!socket_.Bind(socketPath, error)) return false;
  AddRoutes();
  port_ = port == 0 ? http_->bind_to_any_port(host) : (http_->bind_to_port(host, port) ? port : -1);
  if (port_ <= 0) {
    *error = "cannot listen on " + host + ":" + std::to_string(port);
    return false;
  }
  httpThread_ = std::thread([this] { http_->listen_after_bind(); });
  return true;
}

void MonitorServer::AddRoutes() {
  // Everything the page shows comes from other programs and a serial line: the page puts it in
  // as text only, and the policy forbids any script or style but the monitor's own.
  http_->set_default_headers({
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
       "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"Cache-Control", "no-store"},
  });
  const auto asset = [this](const char* path, const char* body, const char* type) {
    http_->Get(path, [body, type](const httplib::Request&, httplib::Response& response) {
      response.set_content(body, type);
    });
  };
  asset("/", kPageHtml, "text/html; charset=utf-8");
  asset("/monitor.js", kPageScript, "text/javascript; charset=utf-8");
  asset("/monitor.css", kPageStyle, "text/css; charset=utf-8");
  http_->Get("/state", [this](const httplib::Request&, httplib::Response& response) {
    std::lock_guard lock(mutex_);
    response.set_content(Dump(state_.Whole()), "application/json");
  });
  http_->Get("/events", [this](const httplib::Request&, httplib::Response& response) {
    auto next = std::make_shared<uint64_t>(0);  // 0: the whole state goes first
    response.set_chunked_content_provider(
        "text/event-stream", [this, next](size_t, httplib::DataSink& sink) {
          std::string out;
          {
            std::unique_lock lock(mutex_);
            if (*next != 0) {
              published_.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return stopping_ || sequence_ >= *next; });
            }
            if (stopping_) return false;
            if (*next == 0 || (!updates_.empty() && updates_.front().first > *next)) {
              out = "data: " + Dump(state_.Whole()) + "\n\n";
            } else {
              for (const auto& [sequence, text] : updates_) {
                if (sequence >= *next) out += "data: " + text + "\n\n";
              }
            }
            *next = sequence_ + 1;
          }
          if (out.empty()) out = ": still here\n\n";  // finds pages that have gone
          return sink.write(out.data(), out.size());
        });
  });
}

void MonitorServer::Publish() {
  std::lock_guard lock(mutex_);
  std::optional<nlohmann::json> change = state_.Tick();
  if (!change) return;
  updates_.emplace_back(++sequence_, Dump(*change));
  if (updates_.size() > kKeptUpdates) updates_.pop_front();
  published_.notify_all();
}

void MonitorServer::Run(const std::atomic<bool>& stop) {
  using Clock = std::chrono::steady_clock;
  auto nextRefresh = Clock::now() + kRefresh;
  while (!stop.load()) {
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(nextRefresh - Clock::now());
    size_t taken = 0;
    socket_.ReceiveFor(std::max(wait, std::chrono::milliseconds(0)),
                       [&](std::string_view bytes, size_t fullSize) {
                         std::lock_guard lock(mutex_);
                         state_.Receive(bytes, fullSize);
                         return ++taken < kDatagramsPerTurn;
                       });
    const auto now = Clock::now();
    if (now >= nextRefresh) {
      Publish();
      nextRefresh = std::max(nextRefresh + kRefresh, now);
    }
  }
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    published_.notify_all();
  }
  http_->stop();
  if (httpThread_.joinable()) httpThread_.join();
}

}  // namespace qb::monitor
