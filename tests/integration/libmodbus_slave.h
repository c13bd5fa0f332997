// libmodbus as an independent RTU slave on a device path, replying from a mapping of 100 coils,
// discrete inputs, holding and input registers, in a thread of its own.
#pragma once

#include <modbus.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace qb::test {

class LibmodbusSlave {
 public:
  LibmodbusSlave(const std::string& path, int slave) {
    ctx_ = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
    mapping_ = modbus_mapping_new(100, 100, 100, 100);
    if (ctx_ == nullptr || mapping_ == nullptr) return;
    modbus_set_slave(ctx_, slave);
    modbus_set_indication_timeout(ctx_, 0, 50000);  // so that the thread sees the stop flag
    connected_ = modbus_connect(ctx_) == 0;
    if (connected_) thread_ = std::thread([this] { Serve(); });
  }
  ~LibmodbusSlave() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (ctx_ != nullptr) {
      if (connected_) modbus_close(ctx_);
      modbus_free(ctx_);
    }
    if (mapping_ != nullptr) modbus_mapping_free(mapping_);
  }
  LibmodbusSlave(const LibmodbusSlave&) = delete;
  LibmodbusSlave& operator=(const LibmodbusSlave&) = delete;

  bool Connected() const { return connected_; }
  // Reads or changes the mapping while no reply is being made.
  void WithMapping(const std::function<void(modbus_mapping_t&)>& f) {
    std::lock_guard lock(mutex_);
    f(*mapping_);
  }

 private:
  void Serve() {
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!stop_) {
      const int rc = modbus_receive(ctx_, query);
      if (rc <= 0) continue;
      std::lock_guard lock(mutex_);
      modbus_reply(ctx_, query, rc, mapping_);
    }
  }

  modbus_t* ctx_ = nullptr;
  modbus_mapping_t* mapping_ = nullptr;
  bool connected_ = false;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::thread thread_;
};

}  // namespace qb::test
