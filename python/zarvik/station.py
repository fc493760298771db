"""Stations and lines over the C library: every failure is raised as an exception carrying the library's text."""

from __future__ import annotations

import ctypes
from dataclasses import dataclass
from typing import Callable

from . import _native
from ._native import lib
from .errors import OK, TRUNCATED, ZarvikError, error_for


def _text(fill: Callable[[ctypes.Array, int, ctypes.c_uint32], int]) -> tuple[int, str]:
    """Calls a text-copying function, growing the buffer to the size it asks for."""
    needed = ctypes.c_uint32(0)
    size = 256
    while True:
        buffer = ctypes.create_string_buffer(size)
        status = fill(buffer, size, needed)
        if status != TRUNCATED or needed.value <= size:
            return status, buffer.value.decode("utf-8")
        size = needed.value


def last_error() -> str:
    """The calling thread's last error text."""
    return _text(lambda buffer, size, needed: lib.zarvik_last_error(buffer, size, ctypes.byref(needed)))[1]


def _check(status: int) -> None:
    if status != OK:
        raise error_for(status, last_error())


@dataclass(frozen=True)
class Nozzle:
    state: int
    litres: float | None  # the nozzle's own counters from this poll, None when its reply carried none
    money: float | None


@dataclass(frozen=True)
class DispenserStatus:
    state: int  # the code chosen for the whole dispenser (upper five bits the kind: 0xC0 idle ...)
    state_nozzle: int
    record: bytes  # the driver's 16-byte status record
    nozzles: tuple[Nozzle, ...]


@dataclass(frozen=True)
class TableInfo:
    number: int
    name: str
    rows: int
    fields: int


@dataclass(frozen=True)
class FieldInfo:
    number: int
    name: str
    type: int
    size: int
    low: int
    high: int


@dataclass(frozen=True)
class LineStatistics:
    exchanges: int
    good: int
    bad: int
    timeouts: int
    device_errors: int
    refusals: int
    reopens: int
    bytes_sent: int
    bytes_received: int
    latency_p50_us: int
    latency_p95_us: int
    latency_max_us: int


class Line:
    """One open line of a station; a context manager that closes the line."""

    def __init__(self, station: Station, number: int) -> None:
        self.station = station
        self.number = number

    def __enter__(self) -> Line:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _call(self, function: Callable[..., int], *arguments: object) -> None:
        _check(function(self.station._handle(), self.number, *arguments))

    def close(self) -> None:
        if self.station._station:
            self._call(lib.zarvik_line_close)

    def poll(self, dispenser: int, nozzles: int) -> DispenserStatus:
        raw = _native.DispenserStatus()
        self._call(lib.zarvik_poll, dispenser, nozzles, ctypes.byref(raw))
        return DispenserStatus(
            raw.state, raw.state_nozzle, bytes(raw.record),
            tuple(Nozzle(n.state, n.litres if n.has_values else None, n.money if n.has_values else None)
                  for n in raw.nozzles[:raw.nozzle_count]))

    def preset_litres(self, dispenser: int, nozzle: int, litres: float) -> None:
        self._call(lib.zarvik_preset_litres, dispenser, nozzle, litres)

    def preset_money(self, dispenser: int, nozzle: int, money: float) -> None:
        self._call(lib.zarvik_preset_money, dispenser, nozzle, money)

    def set_price(self, dispenser: int, nozzle: int, price: float) -> None:
        self._call(lib.zarvik_set_price, dispenser, nozzle, price)

    def start(self, dispenser: int, nozzle: int) -> None:
        self._call(lib.zarvik_start, dispenser, nozzle)

    def stop(self, dispenser: int, nozzle: int) -> None:
        self._call(lib.zarvik_stop, dispenser, nozzle)

    def reset(self, dispenser: int, nozzle: int) -> None:
        self._call(lib.zarvik_reset, dispenser, nozzle)

    def read_total(self, dispenser: int, nozzle: int) -> float:
        litres = ctypes.c_double()
        self._call(lib.zarvik_read_total, dispenser, nozzle, ctypes.byref(litres))
        return litres.value

    def read_parameter(self, address: int, code: int) -> int:
        value = ctypes.c_int32()
        self._call(lib.zarvik_read_parameter, address, code, ctypes.byref(value))
        return value.value

    def write_parameter(self, address: int, code: int, value: int) -> None:
        self._call(lib.zarvik_write_parameter, address, code, value)

    def table_info(self, address: int, table: int) -> TableInfo:
        raw = _native.TableInfo()
        self._call(lib.zarvik_read_table_info, address, table, ctypes.byref(raw))
        return TableInfo(raw.number, raw.name.decode("utf-8"), raw.rows, raw.fields)

    def field_info(self, address: int, table: int, field: int) -> FieldInfo:
        raw = _native.FieldInfo()
        self._call(lib.zarvik_read_field_info, address, table, field, ctypes.byref(raw))
        return FieldInfo(raw.number, raw.name.decode("utf-8"), raw.type, raw.size, raw.low, raw.high)

    def statistics(self) -> LineStatistics:
        raw = _native.LineStatistics()
        self._call(lib.zarvik_line_statistics_get, ctypes.byref(raw))
        return LineStatistics(*(getattr(raw, name) for name, _ in raw._fields_))


class Station:
    """The port service and one driver object; a context manager that releases them."""

    def __init__(self, options: int = 0, station_file: str | None = None) -> None:
        handle = ctypes.c_void_p()
        if station_file is None:
            _check(lib.zarvik_station_new(options, ctypes.byref(handle)))
        else:
            _check(lib.zarvik_station_open_file(station_file.encode(), options, ctypes.byref(handle)))
        self._station: int | None = handle.value

    def __enter__(self) -> Station:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # at interpreter exit the library may already be gone
            pass

    def close(self) -> None:
        if getattr(self, "_station", None):
            handle, self._station = self._station, None
            _check(lib.zarvik_station_free(handle))

    def _handle(self) -> int:
        if not self._station:
            raise ZarvikError("the station is closed")
        return self._station

    def set_device(self, line: int, path: str) -> None:
        _check(lib.zarvik_set_device(self._handle(), line, path.encode()))

    def set_timeouts(self, line: int, response_ms: int, inter_byte_ms: int = 50) -> None:
        _check(lib.zarvik_set_timeouts(self._handle(), line, response_ms, inter_byte_ms))

    def open_line(self, line: int, device: str | None = None) -> Line:
        """Opens the line (mapped to `device` first when given); use it as a context manager."""
        if device is not None:
            self.set_device(line, device)
        _check(lib.zarvik_line_open(self._handle(), line))
        return Line(self, line)

    @property
    def driver_info(self) -> str:
        status, text = _text(lambda buffer, size, needed: lib.zarvik_driver_info(self._handle(), buffer, size,
                                                                                 ctypes.byref(needed)))
        _check(status)
        return text

    def capability(self, kind: int) -> int | None:
        """The driver's answer for `kind`, None when it has none."""
        known, value = ctypes.c_int32(), ctypes.c_int32()
        _check(lib.zarvik_query_capability(self._handle(), kind, ctypes.byref(known), ctypes.byref(value)))
        return value.value if known.value else None
