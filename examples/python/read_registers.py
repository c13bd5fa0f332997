#!/usr/bin/env python3
"""Reads two holding registers, then polls them three times. With no device given it starts
`quillbox sim` holding 1234 and 5678 and reads from its pseudo-terminal.

    examples/python/read_registers.py [DEVICE]
"""
import subprocess
import sys

import quillbox

simulator = None
if len(sys.argv) > 1:
    device = sys.argv[1]
else:
    simulator = subprocess.Popen(["quillbox", "sim", "-a", "1", "--set", "hr:0=1234,5678"],
                                 stdout=subprocess.PIPE, text=True)
    device = simulator.stdout.readline().strip()

try:
    with quillbox.open(device, baud=19200) as bus:
        values = bus.read_registers(slave=1, address=0, count=2)
        print("library", quillbox.version(), "read", values)
        with bus.poll([("hr", 1, 0, 2)]) as poller:
            for _, event in zip(range(3), poller):
                print(event.kind, event.values)
except quillbox.QuillboxError as error:
    sys.exit(f"read_registers: {error}")
finally:
    if simulator:
        simulator.terminate()
