"""The C library (libzarvik.so.1, zarvik.dll) and its function signatures.

Found through the environment variable ZARVIK_C_LIBRARY (a path), else by
the dynamic loader under its installed name.
"""

from __future__ import annotations

import ctypes
import os
import sys
from ctypes import POINTER, Structure, c_char, c_double, c_int32, c_uint8, c_uint32, c_uint64, c_void_p


class NozzleStatus(Structure):
    _fields_ = [("litres", c_double), ("money", c_double), ("state", c_uint8), ("has_values", c_uint8),
                ("reserved", c_uint8 * 6)]


class DispenserStatus(Structure):
    _fields_ = [("record", c_uint8 * 16), ("state", c_uint8), ("state_nozzle", c_uint8), ("nozzle_count", c_uint8),
                ("reserved", c_uint8 * 5), ("nozzles", NozzleStatus * 6)]


class LineStatistics(Structure):
    _fields_ = [(name, c_uint64) for name in (
        "exchanges", "good", "bad", "timeouts", "device_errors", "refusals", "reopens", "bytes_sent",
        "bytes_received", "latency_p50_us", "latency_p95_us", "latency_max_us")]


class TableInfo(Structure):
    _fields_ = [("number", c_int32), ("rows", c_int32), ("fields", c_int32), ("name", c_char * 124)]


class FieldInfo(Structure):
    _fields_ = [("number", c_int32), ("type", c_int32), ("size", c_int32), ("low", c_uint32), ("high", c_uint32),
                ("name", c_char * 124)]


_I = c_int32
_S = c_void_p  # zarvik_station*
_SIGNATURES = {
    "zarvik_last_error": [ctypes.c_char_p, c_uint32, POINTER(c_uint32)],
    "zarvik_station_new": [_I, POINTER(_S)],
    "zarvik_station_open_file": [ctypes.c_char_p, _I, POINTER(_S)],
    "zarvik_station_free": [_S],
    "zarvik_set_device": [_S, _I, ctypes.c_char_p],
    "zarvik_set_timeouts": [_S, _I, _I, _I],
    "zarvik_line_open": [_S, _I],
    "zarvik_line_close": [_S, _I],
    "zarvik_line_statistics_get": [_S, _I, POINTER(LineStatistics)],
    "zarvik_poll": [_S, _I, _I, _I, POINTER(DispenserStatus)],
    "zarvik_preset_litres": [_S, _I, _I, _I, c_double],
    "zarvik_preset_money": [_S, _I, _I, _I, c_double],
    "zarvik_set_price": [_S, _I, _I, _I, c_double],
    "zarvik_start": [_S, _I, _I, _I],
    "zarvik_stop": [_S, _I, _I, _I],
    "zarvik_reset": [_S, _I, _I, _I],
    "zarvik_read_total": [_S, _I, _I, _I, POINTER(c_double)],
    "zarvik_read_parameter": [_S, _I, _I, _I, POINTER(c_int32)],
    "zarvik_write_parameter": [_S, _I, _I, _I, _I],
    "zarvik_read_table_info": [_S, _I, _I, _I, POINTER(TableInfo)],
    "zarvik_read_field_info": [_S, _I, _I, _I, _I, POINTER(FieldInfo)],
    "zarvik_driver_info": [_S, ctypes.c_char_p, c_uint32, POINTER(c_uint32)],
    "zarvik_query_capability": [_S, c_uint32, POINTER(c_int32), POINTER(c_int32)],
}


def _load() -> ctypes.CDLL:
    path = os.environ.get("ZARVIK_C_LIBRARY") or ("zarvik.dll" if sys.platform == "win32" else "libzarvik.so.1")
    # 32-bit Windows: the functions are __stdcall.
    loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL  # type: ignore[attr-defined]
    library = loader(path)
    for name, arguments in _SIGNATURES.items():
        function = getattr(library, name)
        function.argtypes = arguments
        function.restype = c_int32
    return library


lib = _load()
