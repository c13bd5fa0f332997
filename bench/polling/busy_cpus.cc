#include "busy_cpus.h"

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace qb::bench {

BusyCpus::BusyCpus(size_t count) {
  const pid_t parent = ::getpid();
  for (size_t i = 0; i < count; ++i) {
    const pid_t child = ::fork();
    if (child < 0) {
      std::perror("fork");
      break;
    }
    if (child == 0) {
      // Ended with the benchmark even when it is killed; the parent may have gone already.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(0);
      const sched_param none{};
      if (::sched_setscheduler(0, SCHED_IDLE, &none) != 0) ::_exit(1);
      volatile unsigned long spins = 0;
      for (;;) {
        spins = spins + 1;
      }
    }
    children_.push_back(child);
  }
}

BusyCpus::~BusyCpus() {
  for (const pid_t child : children_) ::kill(child, SIGKILL);
  for (const pid_t child : children_) ::waitpid(child, nullptr, 0);
}

}  // namespace qb::bench
