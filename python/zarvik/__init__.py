"""ZarvikTrk from Python: fuel dispensers over serial lines through libzarvik (ctypes, no compiler needed).

    import zarvik
    with zarvik.Station() as station, station.open_line(1, "/dev/ttyUSB0") as line:
        line.preset_litres(dispenser=1, nozzle=1, litres=10)
        line.start(1, 1)
        print(line.poll(1, nozzles=3))

Set ZARVIK_C_LIBRARY to the library's path to use one that is not installed.
"""

from .errors import (ArgumentError, BadReplyError, DeviceError, InternalError, NoReplyError, RefusedError,
                     ZarvikError)
from .station import (DispenserStatus, FieldInfo, Line, LineStatistics, Nozzle, Station, TableInfo, last_error)

__all__ = ["ArgumentError", "BadReplyError", "DeviceError", "DispenserStatus", "FieldInfo", "InternalError", "Line",
           "LineStatistics", "NoReplyError", "Nozzle", "RefusedError", "Station", "TableInfo", "ZarvikError",
           "last_error"]
