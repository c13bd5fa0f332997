"""The Python package against `quillbox sim` on a pseudo-terminal. QUILLBOX_LIBRARY names the
library and QUILLBOX_CLI the quillbox command (both from the build)."""
import contextlib
import os
import subprocess
import threading
import time

import pytest

import quillbox


@contextlib.contextmanager
def simulator(*options):
    """The simulator with slave 1 and known values; yields the path of its pseudo-terminal."""
    process = subprocess.Popen(
        [os.environ["QUILLBOX_CLI"], "sim", "-a", "1", "--size", "100", "--set", "hr:0=1234,5678",
         "--set", "co:0=1,0,1", *options], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
        text=True)
    try:
        yield process.stdout.readline().strip()
    finally:
        process.terminate()
        process.wait(10)


@pytest.mark.parametrize("mode", ["rtu", "ascii"])
def test_reads_writes_and_exception_replies(mode):
    with simulator("-m", mode) as path, quillbox.open(path, baud=19200, mode=mode) as bus:
        assert bus.read_registers(1, 0, 2) == [1234, 5678]
        assert bus.read_coils(1, 0, 4) == [True, False, True, False]
        bus.write_registers(1, 10, [7, 65535])
        bus.write_coil(1, 20, True)
        assert bus.read_registers(1, 10, 2) == [7, 65535]
        assert bus.read_coils(1, 20, 1) == [True]
        with pytest.raises(quillbox.ModbusException) as raised:
            bus.read_registers(1, 98, 5)  # past the 100 registers
        assert (raised.value.function, raised.value.code) == (3, 2)


def test_failures_say_why():
    with simulator("--corrupt", "1") as path, quillbox.open(path, baud=19200, timeout=0.3) as bus:
        with pytest.raises(TimeoutError) as raised:
            bus.read_registers(1, 0, 1)
    assert raised.value.refused == ["checksum (CRC or LRC) does not match"]
    with pytest.raises(quillbox.PortError, match="^/dev/quillbox-none: No such file or directory$"):
        quillbox.open("/dev/quillbox-none")


def test_polling_by_iterator_and_by_callback():
    heard = []
    with simulator() as path, quillbox.open(path, baud=19200) as bus:
        with bus.poll([("hr", 1, 0, 2), ("co", 1, 0, 3)]) as poller:
            events = [poller.get(5) for _ in range(4)]
        bus.poll([("hr", 1, 1, 1)], callback=heard.append)
        deadline = time.monotonic() + 5
        while len(heard) < 2 and time.monotonic() < deadline:
            time.sleep(0.01)
    assert [(e.kind, e.values) for e in events] == [("reply", [1234, 5678]),
                                                    ("reply", [1, 0, 1])] * 2
    assert len(heard) >= 2 and all(e.values == [5678] for e in heard)


def test_watchdog_is_no_answer_to_a_blocking_call():
    # The read outlasts the 5 s watchdog (the polled item waits behind it), whose event names it.
    with simulator("--delay", "5600") as path, quillbox.open(path, baud=19200, timeout=7) as bus:
        threading.Timer(0.2, bus.poll, [[("co", 1, 0, 3)]]).start()
        assert bus.read_registers(1, 0, 2) == [1234, 5678]
