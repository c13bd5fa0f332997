#include "write_stamps.h"

#include <limits.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <memory>

#include "monotonic_time.h"

namespace qb::bench {
namespace {

enum Kind : int8_t { kUnknown, kPort, kOther };
constexpr int kMaxFd = 1024;

// The hook runs on every thread that writes (the master's, the device's, the library's calls to
// its own wake-up descriptor), so what it reads is atomic; a run sets it up before the master
// starts and takes the stamps after the master has stopped.
struct Stamps {
  std::string path;
  std::array<std::atomic<int8_t>, kMaxFd> kinds{};
  std::unique_ptr<int64_t[]> times;
  size_t capacity = 0;
  std::atomic<size_t> count{0};
};
std::atomic<Stamps*> active{nullptr};
// Every run's, kept to the end of the process: a thread may still hold the pointer it loaded just
// before the run ended.
std::vector<std::unique_ptr<Stamps>> runs;

bool IsPort(const Stamps& stamps, int fd) {
  char link[64];
  char target[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 && stamps.path.compare(0, std::string::npos, target, static_cast<size_t>(n)) == 0;
}

void NoteWrite(int fd) {
  Stamps* stamps = active.load(std::memory_order_acquire);
  if (stamps == nullptr || fd < 0 || fd >= kMaxFd) return;
  const int64_t now = MonotonicNs();
  int8_t kind = stamps->kinds[fd].load(std::memory_order_relaxed);
  if (kind == kUnknown) {
    // Once per descriptor and run, in the warm-up: the port is not reopened during a run.
    kind = IsPort(*stamps, fd) ? kPort : kOther;
    stamps->kinds[fd].store(kind, std::memory_order_relaxed);
  }
  if (kind != kPort) return;
  const size_t index = stamps->count.fetch_add(1, std::memory_order_relaxed);
  if (index < stamps->capacity) stamps->times[index] = now;
}

}  // namespace

void StampWritesTo(const std::string& path, size_t capacity) {
  auto stamps = std::make_unique<Stamps>();
  stamps->path = path;
  stamps->times = std::make_unique<int64_t[]>(capacity);
  stamps->capacity = capacity;
  active.store(stamps.get(), std::memory_order_release);
  runs.push_back(std::move(stamps));
}

std::vector<int64_t> TakeWriteStamps() {
  Stamps* stamps = active.exchange(nullptr, std::memory_order_acq_rel);
  std::vector<int64_t> times;
  if (stamps == nullptr) return times;
  const size_t count = std::min(stamps->count.load(std::memory_order_acquire), stamps->capacity);
  times.assign(stamps->times.get(), stamps->times.get() + count);
  return times;
}

}  // namespace qb::bench

// Every write of the process comes through here: the master's port is noted, then the system call
// is made as libc's write() makes it.
extern "C" __attribute__((visibility("default"))) ssize_t write(int fd, const void* data,
                                                                size_t count) {
  qb::bench::NoteWrite(fd);
  return static_cast<ssize_t>(::syscall(SYS_write, fd, data, count));
}
