// Keeps the CPUs busy with work that yields to everything else. An idle CPU of a virtual machine
// is handed back to the host, and a thread woken on it waits for the host to bring it back: on
// this kind of machine that costs a master that sleeps through a reply tens of microseconds of
// CPU and time per wake-up, where one woken for every byte finds its CPU still awake. A panel's
// CPU is seldom idle (its GUI runs beside the polling) and a real CPU wakes in a few
// microseconds; processes spinning at the lowest scheduling class take the idle away without
// taking any time from the masters, whose threads preempt them at once.
#pragma once

#include <sys/types.h>

#include <vector>

namespace qb::bench {

class BusyCpus {
 public:
  // Starts `count` spinning child processes (none when 0). Their CPU time is not the
  // benchmark's: they are processes of their own.
  explicit BusyCpus(size_t count);
  ~BusyCpus();  // ends them
  BusyCpus(const BusyCpus&) = delete;
  BusyCpus& operator=(const BusyCpus&) = delete;

  size_t Running() const { return children_.size(); }

 private:
  std::vector<pid_t> children_;
};

}  // namespace qb::bench
