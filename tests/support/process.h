// Other programs run by the tests (the quillbox command, mbpoll, Python peers): started with
// their standard output and error read through pipes, killed by their own process id at the end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace qb::test {

// A file the programs are given to read (values, definitions, scripts), removed with the object.
struct TempFile {
  explicit TempFile(const std::string& text) {
    const int fd = ::mkstemp(path);
    if (::write(fd, text.data(), text.size()) < 0) path[0] = '\0';
    ::close(fd);
  }
  ~TempFile() { ::unlink(path); }
  char path[32] = "/tmp/qb-test-XXXXXX";
};

struct ProcessResult {
  int exitCode = -1;  // -1 when killed
  std::string out;
  std::string err;
};

class Process {
 public:
  using Clock = std::chrono::steady_clock;
  explicit Process(const std::vector<std::string>& argv) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    fds_[0] = {out[0], POLLIN, 0};
    fds_[1] = {err[0], POLLIN, 0};
  }
  ~Process() {
    Signal(SIGKILL);
    Finish(5000);
    ::close(fds_[0].fd);
    ::close(fds_[1].fd);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The first line of standard output, without its newline.
  std::string ReadLine(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (result_.out.find('\n') == std::string::npos && Clock::now() < deadline) Pump();
    return result_.out.substr(0, result_.out.find('\n'));
  }
  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  // Waits for the end (killing the program at the deadline) and returns all it wrote.
  ProcessResult Finish(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
      Pump();
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
      } else if (Clock::now() > deadline) {
        Signal(SIGKILL);
      }
    }
    while (Pump()) {
    }
    return result_;
  }

 private:
  bool Pump() {
    if (::poll(fds_, 2, 10) <= 0) return false;
    bool got = false;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if ((fds_[i].revents & POLLIN) == 0) continue;
      const ssize_t n = ::read(fds_[i].fd, buffer, sizeof buffer);
      if (n > 0) (i == 0 ? result_.out : result_.err).append(buffer, static_cast<size_t>(n));
      got = got || n > 0;
    }
    return got;
  }

  pid_t pid_ = -1;
  pollfd fds_[2] = {{-1, 0, 0}, {-1, 0, 0}};
  ProcessResult result_;
};

inline ProcessResult Run(const std::vector<std::string>& argv, int timeoutMs = 10000) {
  return Process(argv).Finish(timeoutMs);
}

// Peers that CI installs but a developer's machine may lack: a test that needs one skips with
// this text when it is missing.
inline std::string MissingPeer(const std::string& peer) {
  const bool present = peer == "mbpoll"
                           ? ::access("/usr/bin/mbpoll", X_OK) == 0
                           : Run({"/usr/bin/python3", "-c", "import " + peer}).exitCode == 0;
  return present ? "" : peer + " is not installed (scripts/install-deps.sh installs it)";
}

}  // namespace qb::test
