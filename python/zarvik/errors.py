"""Exceptions raised for the C library's status codes, with its error text."""

from __future__ import annotations

OK = 0
TRUNCATED = 6


class ZarvikError(Exception):
    """A call of the driver failed; `status` is the C status code, the message the library's text."""

    status = -1

    def __init__(self, message: str, status: int | None = None) -> None:
        super().__init__(message)
        if status is not None:
            self.status = status


class ArgumentError(ZarvikError, ValueError):
    """An argument refused before anything was sent (range, a value the command cannot carry, a station file)."""
    status = 1


class NoReplyError(ZarvikError, TimeoutError):
    """No reply within the line's response time."""
    status = 2


class DeviceError(ZarvikError, OSError):
    """The line's device cannot be opened or failed."""
    status = 3


class BadReplyError(ZarvikError):
    """A reply came that is not a good answer to the request."""
    status = 4


class RefusedError(ZarvikError):
    """The dispenser answered and refused (a start, a stop, a write, a description it does not have)."""
    status = 5


class InternalError(ZarvikError):
    """Anything else inside the library."""
    status = 7


_BY_STATUS = {cls.status: cls for cls in (ArgumentError, NoReplyError, DeviceError, BadReplyError, RefusedError,
                                          InternalError)}


def error_for(status: int, message: str) -> ZarvikError:
    return _BY_STATUS.get(status, ZarvikError)(message, status)
