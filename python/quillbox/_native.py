"""The C interface of libQUILLBOXCE through ctypes: loading the library, the prototypes, and UTF-16
text both ways."""

import ctypes
import ctypes.util
import os

# The numbers of the C header (quillbox.h) that this package uses.
EVENT_REPLY = 2
EVENT_TIMEOUT = 3
EVENT_WATCHDOG = 4
EVENT_EXCEPTION = 200
EVENT_REJECTED = 201
EVENT_PORT_LOST = 202
EVENT_ITEM_DROPPED = 203
EVENT_REPLY_DISCARDED = 204
EVENT_FORMAT_ID4 = 2

WINDOW_PROC = ctypes.CFUNCTYPE(ctypes.c_ssize_t, ctypes.c_void_p, ctypes.c_uint32,
                               ctypes.c_size_t, ctypes.c_ssize_t)

_i32 = ctypes.c_int32
_u32 = ctypes.c_uint32
_bytes = ctypes.c_char_p
_PROTOTYPES = {
    "qbGetVersion": (ctypes.c_char_p, []),
    "qbSetHostWindowProc": (None, [WINDOW_PROC]),
    "qbInit": (None, [ctypes.c_void_p, _u32]),
    "qbSetEventFormat": (None, [_i32]),
    "qbSetDetailedEvents": (None, [_i32]),
    "qbGetLastErrorText": (_i32, [ctypes.c_void_p, _i32]),
    "qbSetPortDevice": (None, [_i32, _bytes]),
    "qbSetParity": (None, [_bytes]),
    "qbSetDataBits": (None, [_bytes]),
    "qbSetStopBits": (None, [_bytes]),
    "qbOpenSerial": (_i32, [_i32, _u32]),
    "qbCloseSerial": (None, []),
    "qbSetRtuMode": (None, []),
    "qbSetAsciiMode": (None, []),
    "qbSetTimeOut": (None, [_i32]),
    "qbSetQueryInterval": (None, [_i32]),
    "qbStart": (None, []),
    "qbStartNotDestroyingBuffer": (None, []),
    "qbStop": (None, []),
    "qbDeleteBuffer": (None, []),
    "qbUnregisterAllAutoItems": (None, []),
    "qbUnregisterAutoItem": (None, [_i32]),
    "qbDefineBitRead01": (None, []),
    "qbDefineBitRead02": (None, []),
    "qbDefineWordRead03": (None, []),
    "qbDefineWordRead04": (None, []),
    "qbGetLastRxDataCount": (_i32, []),
    "qbGetLastRxDataAtIndex": (_i32, [_i32]),
}
for _name in ("qbAutoBitRead", "qbManualBitRead", "qbAutoWordRead", "qbManualWordRead",
              "qbManualBitWrite", "qbManualWordWrite"):
    _PROTOTYPES[_name] = (None, [_i32, _i32, _i32, _i32])
for _name in ("qbManualMultiBitWrite", "qbManualMultiWordWrite"):
    _PROTOTYPES[_name] = (None, [_i32, _i32, _i32, _i32, _u32, _bytes])


def _library_path():
    """$QUILLBOX_LIBRARY, else the installed libQUILLBOXCE.so.0."""
    path = os.environ.get("QUILLBOX_LIBRARY")
    if path:
        return path
    return ctypes.util.find_library("QUILLBOXCE") or "libQUILLBOXCE.so.0"


def load():
    """Loads the library once per process (it holds one engine and one port)."""
    global _lib
    if _lib is None:
        lib = ctypes.CDLL(_library_path())
        for name, (restype, argtypes) in _PROTOTYPES.items():
            function = getattr(lib, name)
            function.restype = restype
            function.argtypes = argtypes
        _lib = lib
    return _lib


_lib = None


def wide(text):
    """Python text as the zero-terminated UTF-16 the library takes."""
    return (text + "\0").encode("utf-16-le")


def last_error_text(lib):
    """qbGetLastErrorText as Python text."""
    length = lib.qbGetLastErrorText(None, 0)
    buffer = (ctypes.c_uint16 * (length + 1))()
    lib.qbGetLastErrorText(buffer, length + 1)
    return bytes(buffer)[:2 * length].decode("utf-16-le", "replace")
