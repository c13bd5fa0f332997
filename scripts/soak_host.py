"""The soak's host: the library (through the quillbox package) polls a simulated device at the
line's pace while the device's faults change, the device goes away and comes back, and host
threads call exports all the time. Prints one line per phase and fails (exit 1) on a wrong value,
or when memory, descriptors or threads grow after the warm-up.

    soak_host.py MINUTES QUILLBOX_BINARY

The library's port is one end of a relay between two pseudo-terminals, so that the simulator on
the far end can be restarted with other faults while the library keeps its port open."""

import os
import pty
import select
import subprocess
import sys
import threading
import time
import tty

import quillbox

PHASE_SECONDS = 15
FAULTS = [[], ["--drop", "3"], ["--corrupt", "3"], ["--noise", "3"], ["--split", "2"],
          ["--delay", "60"], ["--noise", "4", "--noise-after"]]
POLLED = [100 + i for i in range(8)]          # hr 0..7
BITS = [1, 0, 1, 1, 0, 0, 1, 0]               # co 0..7
READ_BACK = [7000 + i for i in range(4)]      # hr 100..103, read by a host thread
RSS_BOUND_KB = 4096                           # growth allowed after the warm-up


class Relay(threading.Thread):
    """Copies bytes both ways between the library's pseudo-terminal and the simulator's."""

    def __init__(self):
        super().__init__(daemon=True)
        self.near_master, near_slave = pty.openpty()
        self.far_master, far_slave = pty.openpty()
        for fd in (near_slave, far_slave):
            tty.setraw(fd)
        self.near, self.far = os.ttyname(near_slave), os.ttyname(far_slave)
        self._keep = (near_slave, far_slave)  # held open: neither end sees a hang-up
        self.running = True

    def run(self):
        pairs = {self.near_master: self.far_master, self.far_master: self.near_master}
        while self.running:
            ready, _, _ = select.select(list(pairs), [], [], 0.2)
            for src in ready:
                try:
                    os.write(pairs[src], os.read(src, 4096))
                except OSError:
                    time.sleep(0.01)


def status(key):
    with open("/proc/self/status", encoding="ascii") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def usage():
    return status("VmRSS"), len(os.listdir("/proc/self/fd")), status("Threads")


class Counts:
    def __init__(self):
        self.lock = threading.Lock()
        self.replies = self.timeouts = self.wrong = self.calls = self.dropped = 0
        self.problems = []

    def add(self, field, problem=None):
        with self.lock:
            setattr(self, field, getattr(self, field) + 1)
            if problem and len(self.problems) < 10:
                self.problems.append(problem)


def on_event(counts, ids):
    words_id, bits_id = ids

    def callback(event):
        if event.kind == "reply":
            expected = POLLED if event.id == words_id else BITS
            if event.values != expected:
                counts.add("wrong", f"item {event.id}: {event.values}, expected {expected}")
            else:
                counts.add("replies")
        elif event.kind == "timeout":
            counts.add("timeouts")
        elif event.kind == "item_dropped":
            counts.add("dropped")
    return callback


def host_thread(bus, counts, stop, kind):
    """Blocking reads and writes as a host's other threads make them, plus the plain getters."""
    lib = bus._lib  # pylint: disable=protected-access
    written = None
    n = 0
    while not stop.is_set():
        n += 1
        try:
            if kind == "read":
                values = bus.read_registers(1, 100, 4)
                if values != READ_BACK:
                    counts.add("wrong", f"read 100..103: {values}")
            elif kind == "write":
                value = n % 60000
                bus.write_register(1, 200, value)
                written = value
                got = bus.read_registers(1, 200, 1)
                if got != [written]:
                    counts.add("wrong", f"read back 200: {got}, written {written}")
            else:
                lib.qbGetLastRxDataCount()
                lib.qbGetLastRxDataAtIndex(n % 8)
                quillbox._native.last_error_text(lib)  # pylint: disable=protected-access
                time.sleep(0.001)
            counts.add("calls")
        except quillbox.QuillboxError:
            counts.add("calls")  # a time-out or a dropped item under the faults: no value to check
        if kind != "getters":
            # Manual items go before the auto items: without a pause they would take the line.
            time.sleep(0.05)


def main():
    minutes, binary = float(sys.argv[1]), sys.argv[2]
    relay = Relay()
    relay.start()
    sets = ["--set", "hr:0=" + ",".join(map(str, POLLED)), "--set",
            "co:0=" + ",".join(map(str, BITS)), "--set", "hr:100=" + ",".join(map(str, READ_BACK))]

    def simulator(faults):
        return subprocess.Popen([binary, "sim", relay.far, "--pace", "-b", "19200", "-P", "none",
                                 *sets, *faults], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    sim = simulator([])
    time.sleep(0.3)
    counts = Counts()
    stop = threading.Event()
    failed = False
    with quillbox.open(relay.near, baud=19200, timeout=0.2) as bus:
        ids = (1, 2)  # the Poller's items are the Bus's first ids
        poller = bus.poll([("hr", 1, 0, 8), ("co", 1, 0, 8)], on_event(counts, ids))
        threads = [threading.Thread(target=host_thread, args=(bus, counts, stop, kind))
                   for kind in ("read", "write", "getters", "getters")]
        for t in threads:
            t.start()
        end = time.monotonic() + minutes * 60
        phase = 0
        baseline = None
        print(f"{'phase':>5} {'faults':<22} {'replies':>8} {'time-outs':>9} {'wrong':>5} "
              f"{'calls':>7} {'rss_kb':>7} {'fds':>4} {'threads':>7}", flush=True)
        while time.monotonic() < end:
            time.sleep(min(PHASE_SECONDS, max(0.0, end - time.monotonic())))
            faults = FAULTS[phase % len(FAULTS)]
            # Samples are taken with the simulator running, at the same point of every phase.
            rss, fds, nthreads = usage()
            with counts.lock:
                print(f"{phase:>5} {' '.join(faults) or 'none':<22} {counts.replies:>8} "
                      f"{counts.timeouts:>9} {counts.wrong:>5} {counts.calls:>7} {rss:>7} "
                      f"{fds:>4} {nthreads:>7}", flush=True)
            if phase == 1:  # the warm-up: one phase of polling and one with the device restarted
                baseline = (rss, fds, nthreads)
            elif baseline and (rss - baseline[0] > RSS_BOUND_KB or fds > baseline[1]
                               or nthreads > baseline[2]):
                print(f"grew after the warm-up: rss {baseline[0]} -> {rss} kB, fds {baseline[1]}"
                      f" -> {fds}, threads {baseline[2]} -> {nthreads}")
                failed = True
            # The device goes away for a second and comes back with the next phase's faults.
            sim.terminate()
            sim.wait()
            time.sleep(1)
            phase += 1
            sim = simulator(FAULTS[phase % len(FAULTS)])
        stop.set()
        for t in threads:
            t.join()
        poller.stop()
    sim.terminate()
    sim.wait()
    relay.running = False
    print(f"replies {counts.replies}, time-outs {counts.timeouts}, wrong {counts.wrong}, "
          f"dropped items {counts.dropped}, host calls {counts.calls}")
    for problem in counts.problems:
        print("wrong:", problem)
    if baseline:
        print(f"since the warm-up: rss {baseline[0]} -> {rss} kB, fds {baseline[1]} -> {fds}, "
              f"threads {baseline[2]} -> {nthreads}")
    if counts.wrong or counts.replies == 0:
        failed = True
    if phase < 3:
        print("too short to judge growth: run at least 4 phases of", PHASE_SECONDS, "s")
    print("soak failed" if failed else "soak passed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
