#!/usr/bin/python3
"""pymodbus as an independent Modbus ASCII slave on a serial device path.

Usage: pymodbus_ascii_server.py DEVICE SLAVE
Holding register i holds 1000 + i; coil i is on when i is odd. pymodbus's data blocks are offset by
one: the value at block index i + 1 answers protocol address i.
"""
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartSerialServer
from pymodbus.transaction import ModbusAsciiFramer


def main():
    device, slave = sys.argv[1], int(sys.argv[2])
    logging.basicConfig(level=logging.ERROR)
    registers = [0] + [1000 + i for i in range(100)]
    coils = [0] + [i % 2 for i in range(100)]
    store = ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, [0] * 101),
        co=ModbusSequentialDataBlock(0, coils),
        hr=ModbusSequentialDataBlock(0, registers),
        ir=ModbusSequentialDataBlock(0, [0] * 101),
        zero_mode=False)
    context = ModbusServerContext(slaves={slave: store}, single=False)
    print("ready", flush=True)
    StartSerialServer(context=context, framer=ModbusAsciiFramer, port=device, baudrate=9600,
                      timeout=0.05)


if __name__ == "__main__":
    main()
