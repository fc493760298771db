#!/usr/bin/python3
"""delivery.py: pours 1.5 litres on nozzle 1 of dispenser 1 through the zarvik
package (libzarvik underneath), on the serial line named on the command line.

    python3 delivery.py /dev/ttyUSB0      (or the pseudo-terminal zarvik-sim prints)

Exit status: 0 delivered, 1 a call failed (its text printed), 2 usage.
"""

import sys
import time

import zarvik


def main() -> int:
    if len(sys.argv) != 2:
        print(f"usage: {sys.argv[0]} DEVICE", file=sys.stderr)
        return 2
    try:
        with zarvik.Station() as station, station.open_line(1, sys.argv[1]) as line:
            line.set_price(1, 1, 50.0)
            line.preset_litres(1, 1, 1.5)
            line.start(1, 1)
            deadline = time.monotonic() + 20
            while (nozzle := line.poll(1, nozzles=3).nozzles[0]).litres != 1.5:
                if time.monotonic() > deadline:
                    print(f"delivery: {nozzle.litres} L after 20 s", file=sys.stderr)
                    return 1
                time.sleep(0.1)
            total = line.read_total(1, 1)
            print(f"delivered {nozzle.litres:.3f} L for {nozzle.money:.2f}, total {total:.3f} L")
            return 0
    except zarvik.ZarvikError as error:
        print(f"{type(error).__name__}: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
