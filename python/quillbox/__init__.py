"""Quillbox for Python: Modbus RTU/ASCII through libQUILLBOXCE.

    import quillbox
    with quillbox.open("/dev/ttyUSB0", baud=19200) as bus:
        print(bus.read_registers(slave=1, address=0, count=2))

Blocking calls return the values read (or None for a write) and raise QuillboxError subclasses
with the reason. bus.poll() polls items cycle after cycle; its events come through a callback or
by iterating over the poller. The library holds one port per process, so one Bus is open at a
time.
"""

import atexit
import builtins
import collections
import ctypes
import itertools
import queue
import threading

from . import _native

__all__ = ["open", "version", "Bus", "Poller", "Event", "QuillboxError", "PortError",
           "TimeoutError", "ModbusException"]

# Read kinds: the bit or word read and the function code it uses.
_READS = {"co": (False, 1), "di": (False, 2), "hr": (True, 3), "ir": (True, 4)}
_KINDS = {_native.EVENT_REPLY: "reply", _native.EVENT_TIMEOUT: "timeout",
          _native.EVENT_WATCHDOG: "watchdog", _native.EVENT_EXCEPTION: "exception",
          _native.EVENT_REJECTED: "rejected", _native.EVENT_PORT_LOST: "port_lost",
          _native.EVENT_ITEM_DROPPED: "item_dropped",
          _native.EVENT_REPLY_DISCARDED: "reply_discarded"}
_REJECT_REASONS = {1: "checksum (CRC or LRC) does not match", 2: "reply from another slave",
                   3: "reply to another function", 4: "not a complete frame",
                   5: "more bytes than the request awaits"}


class QuillboxError(Exception):
    """Any failure that the library reports."""


class PortError(QuillboxError):
    """The port cannot be opened (the text says why), or it went away."""


class TimeoutError(QuillboxError, builtins.TimeoutError):  # pylint: disable=redefined-builtin
    """No acceptable reply within the time-out; refused holds the reasons of refused replies.
    Also caught as the built-in TimeoutError."""

    def __init__(self, message, refused=()):
        super().__init__(message)
        self.refused = list(refused)


class ModbusException(QuillboxError):
    """The device answered with a Modbus exception."""

    def __init__(self, function, code):
        super().__init__(f"Modbus exception {code} to function {function}")
        self.function = function
        self.code = code


Event = collections.namedtuple("Event", "id kind values frame")
Event.__doc__ = """One event: the item id, its kind ("reply", "timeout", "exception", "rejected",
"watchdog", "port_lost", "item_dropped", "reply_discarded"), the values (a reply's registers or
bits as 0/1, an exception's [function, code], a refusal's or a drop's [reason]) and the frame's
bytes."""


def version():
    """The library's version text."""
    return _native.load().qbGetVersion().decode()


def open(device, baud=9600, mode="rtu", timeout=1.0, parity="N", data_bits=8, stop_bits=1):
    # pylint: disable=redefined-builtin
    """Opens device (a path such as /dev/ttyUSB0) and returns a Bus; raises PortError."""
    return Bus(device, baud, mode, timeout, parity, data_bits, stop_bits)


class Bus:
    """The library's port, opened; use as a context manager or call close()."""

    _open = None  # the Bus that holds the library's one port

    def __init__(self, device, baud, mode, timeout, parity, data_bits, stop_bits):
        if Bus._open is not None:
            raise PortError("the library's port is already open: close the other Bus first")
        if mode not in ("rtu", "ascii"):
            raise ValueError("mode is 'rtu' or 'ascii'")
        lib = self._lib = _native.load()
        self._timeout = timeout
        self._ids = itertools.count(1)
        self._lock = threading.Lock()
        self._arrived = threading.Condition(self._lock)
        self._results = {}      # id -> Event, for the blocking calls waiting
        self._refused = {}      # id -> refusal reasons so far
        self._waiting = set()
        self._pollers = []
        self._proc = _native.WINDOW_PROC(self._on_event)  # kept alive while installed
        lib.qbSetHostWindowProc(self._proc)
        lib.qbSetEventFormat(_native.EVENT_FORMAT_ID4)
        lib.qbSetDetailedEvents(1)
        lib.qbInit(None, 0x400)
        (lib.qbSetRtuMode if mode == "rtu" else lib.qbSetAsciiMode)()
        lib.qbSetTimeOut(int(timeout * 1000))
        parities = {"N": "N", "E": "Even", "O": "Odd"}
        lib.qbSetParity(_native.wide(parities.get(parity.upper()[:1], "N")))
        lib.qbSetDataBits(_native.wide(str(data_bits)))
        lib.qbSetStopBits(_native.wide(str(stop_bits)))
        lib.qbSetPortDevice(1, _native.wide(device))
        if not lib.qbOpenSerial(1, baud):
            raise PortError(_native.last_error_text(lib))
        Bus._open = self
        lib.qbStartNotDestroyingBuffer()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Stops every poller, closes the port; nothing when closed already."""
        if Bus._open is not self:
            return
        lib = self._lib
        lib.qbStop()
        lib.qbUnregisterAllAutoItems()
        lib.qbDeleteBuffer()
        lib.qbCloseSerial()
        lib.qbSetDetailedEvents(0)
        lib.qbSetHostWindowProc(_native.WINDOW_PROC())  # null: the procedure goes with the Bus
        Bus._open = None
        for poller in self._pollers:
            poller._events.put(None)

    # ---- blocking calls ----

    def read_registers(self, slave, address, count):
        """Holding registers (function 3): a list of count values 0..65535."""
        return self._read("hr", slave, address, count)

    def read_input_registers(self, slave, address, count):
        """Input registers (function 4)."""
        return self._read("ir", slave, address, count)

    def read_coils(self, slave, address, count):
        """Coils (function 1): a list of count booleans."""
        return [bool(v) for v in self._read("co", slave, address, count)]

    def read_discrete_inputs(self, slave, address, count):
        """Discrete inputs (function 2): a list of count booleans."""
        return [bool(v) for v in self._read("di", slave, address, count)]

    def write_register(self, slave, address, value):
        """Writes one holding register (function 6)."""
        self._call(lambda i: self._lib.qbManualWordWrite(i, slave, address, value), False)

    def write_coil(self, slave, address, value):
        """Writes one coil (function 5)."""
        self._call(lambda i: self._lib.qbManualBitWrite(i, slave, address, 1 if value else 0),
                   False)

    def write_registers(self, slave, address, values):
        """Writes holding registers (function 16)."""
        _check_quantity(len(values), 123)
        data = b"".join(int(v).to_bytes(2, "big") for v in values)
        self._call(lambda i: self._lib.qbManualMultiWordWrite(i, slave, address, len(values),
                                                             len(data), data), False)

    def write_coils(self, slave, address, values):
        """Writes coils (function 15)."""
        _check_quantity(len(values), 1968)
        packed = bytearray((len(values) + 7) // 8)
        for n, v in enumerate(values):
            if v:
                packed[n // 8] |= 1 << (n % 8)
        self._call(lambda i: self._lib.qbManualMultiBitWrite(i, slave, address, len(values),
                                                            len(packed), bytes(packed)),
                   False)

    def poll(self, reads, callback=None):
        """Polls reads, e.g. [("hr", 1, 0, 10), ("co", 1, 0, 8)], cycle after cycle, and returns a
        Poller. Without a callback iterate over the Poller for Events; a callback gets each Event
        on the library's thread and must not make blocking calls of this Bus."""
        poller = Poller(self, callback)
        self._pollers.append(poller)
        for read in reads:
            _check_quantity(read[3], 125 if _READS[read[0]][0] else 2000)
            item_id = next(self._ids)
            poller.ids.add(item_id)
            self._register(read, True, item_id)
        self._lib.qbStartNotDestroyingBuffer()
        return poller

    # ---- inside ----

    def _register(self, read, auto, item_id):
        kind, slave, address, count = read
        is_word, function = _READS[kind]
        lib = self._lib
        if is_word:
            (lib.qbDefineWordRead03 if function == 3 else lib.qbDefineWordRead04)()
            (lib.qbAutoWordRead if auto else lib.qbManualWordRead)(item_id, slave, address, count)
            lib.qbDefineWordRead03()
        else:
            (lib.qbDefineBitRead01 if function == 1 else lib.qbDefineBitRead02)()
            (lib.qbAutoBitRead if auto else lib.qbManualBitRead)(item_id, slave, address, count)
            lib.qbDefineBitRead01()

    def _read(self, kind, slave, address, count):
        if kind not in _READS:
            raise ValueError(f"unknown read {kind}")
        _check_quantity(count, 125 if _READS[kind][0] else 2000)
        return self._call(lambda i: self._register((kind, slave, address, count), False, i), True)

    def _call(self, register, returns_values):
        """Registers a manual item by register(id) and waits for its outcome."""
        if Bus._open is not self:
            raise PortError("the Bus is closed")
        with self._lock:
            item_id = next(self._ids)
            self._waiting.add(item_id)
        # The library is called without the lock: it may be delivering an event meanwhile.
        register(item_id)
        with self._lock:
            ready = self._arrived.wait_for(lambda: item_id in self._results, self._timeout + 5)
            self._waiting.discard(item_id)
            event = self._results.pop(item_id, None)
            refused = self._refused.pop(item_id, [])
        if not ready or event.kind == "timeout":
            reasons = "; refused: " + ", ".join(refused) if refused else ""
            raise TimeoutError(f"no reply within {self._timeout} s{reasons}", refused)
        if event.kind == "exception":
            raise ModbusException(*event.values)
        if event.kind == "port_lost":
            raise PortError(_native.last_error_text(self._lib))
        if event.kind == "item_dropped":
            raise QuillboxError(_native.last_error_text(self._lib))
        return event.values if returns_values else None

    def _on_event(self, _window, _message, w_param, l_param):
        try:
            if l_param < 5:  # record-form events belong to other protocols
                return 0
            block = ctypes.string_at(w_param, l_param)
            code = block[0]
            item_id = int.from_bytes(block[1:5], "little")
            lib = self._lib
            values = [lib.qbGetLastRxDataAtIndex(i) for i in range(lib.qbGetLastRxDataCount())]
            if code not in (_native.EVENT_REPLY, _native.EVENT_EXCEPTION,
                            _native.EVENT_REJECTED, _native.EVENT_ITEM_DROPPED):
                values = []
            event = Event(item_id, _KINDS.get(code, str(code)), values, block[5:])
            self._deliver(event)
        except Exception:  # pylint: disable=broad-except
            pass  # nothing may leave a callback of the library
        return 0

    def _deliver(self, event):
        with self._lock:
            if event.kind == "port_lost":
                for item_id in self._waiting:
                    self._results[item_id] = event
            elif event.id in self._waiting and event.kind != "watchdog":
                # A watchdog event carries the id of whatever item was current: no answer to it.
                if event.kind == "rejected":
                    self._refused.setdefault(event.id, []).append(
                        _REJECT_REASONS.get(event.values[0], "refused"))
                elif event.kind == "reply_discarded":
                    self._refused.setdefault(event.id, []).append("came while stopped")
                else:
                    self._results[event.id] = event
            self._arrived.notify_all()
        for poller in self._pollers:
            if event.id in poller.ids or event.kind in ("watchdog", "port_lost"):
                poller._put(event)


def _check_quantity(count, most):
    """One request carries 1 to most values; the library would not send another."""
    if not 1 <= count <= most:
        raise ValueError(f"one request carries 1 to {most} values, not {count}")


@atexit.register
def _close_at_exit():
    """A Bus left open is closed before the interpreter goes, so that no event reaches a
    procedure that is gone."""
    if Bus._open is not None:
        Bus._open.close()


class Poller:
    """Auto items polled every cycle: iterate for Events, or give Bus.poll a callback."""

    def __init__(self, bus, callback):
        self._bus = bus
        self._callback = callback
        self._events = queue.Queue()
        self.ids = set()

    def _put(self, event):
        if self._callback is not None:
            self._callback(event)
        else:
            self._events.put(event)

    def __iter__(self):
        while True:
            event = self._events.get()
            if event is None:
                return
            yield event

    def get(self, timeout=None):
        """The next Event; None when the Bus closed; raises queue.Empty after timeout."""
        return self._events.get(timeout=timeout)

    def stop(self):
        """Stops polling these items (queued copies may still be answered)."""
        for item_id in self.ids:
            self._bus._lib.qbUnregisterAutoItem(item_id)
        self.ids = set()
        self._events.put(None)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
