#!/usr/bin/python3
"""Telemetry under load, run by hand (not CTest): a mosquitto broker of its own,
LINES (32) zarvik-sim on pseudo-terminals, zarvikd publishing to the broker, and
on every line one delivery after another (deliver 2 l at 2 l/s, hang up) for
SECONDS (30). Reported: the messages head office received per second, by kind,
and the CPU of zarvikd and of the broker over the run.

  ZARVIKD=... ZARVIK_SIM=... ZARVIK_LIBRARY=... bench/telemetry/telemetry_rate.py [SECONDS] [LINES]
"""

import collections
import os
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "tests/telemetry"), str(ROOT / "tests/service")]
from conftest import PREFIX, Broker, Client, wait_for  # noqa: E402
from test_zarvikd import Service, Simulator  # noqa: E402
from test_zarvikd_telemetry import telemetry_station  # noqa: E402


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 30.0
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 32
    folder = Path(tempfile.mkdtemp(prefix="telemetry-rate-"))
    broker = Broker(folder)
    broker.start()
    simulators = [Simulator(folder / f"line{n}") for n in range(1, count + 1)]
    station_file = telemetry_station(folder, broker, count)
    office = Client(broker, "headoffice", "bench-office", PREFIX + "/#")
    service = Service(station_file)
    try:
        wait_for(lambda: len(office.taken(PREFIX + "/pumps/")) >= 2 * count, 60, "every pump published")
        running = True

        def deliveries(simulator):
            while running:
                simulator.command("deliver 1 1 2")
                time.sleep(1.5)
                simulator.command("hang 1 1")
                time.sleep(0.3)

        threads = [threading.Thread(target=deliveries, args=(s,), daemon=True) for s in simulators]
        before = len(office.taken())
        cpu = (cpu_seconds(service.process.pid), cpu_seconds(broker.process.pid))
        started = time.monotonic()
        for thread in threads:
            thread.start()
        time.sleep(seconds)
        running = False
        elapsed = time.monotonic() - started
        taken = office.taken()[before:]
        used = (cpu_seconds(service.process.pid) - cpu[0], cpu_seconds(broker.process.pid) - cpu[1])
        for thread in threads:
            thread.join()
        kinds = collections.Counter(t[len(PREFIX) + 1:].split("/")[0] for t, _, _ in taken)
        print(f"{count} lines, {elapsed:.1f} s: {len(taken) / elapsed:.1f} messages/s "
              f"({', '.join(f'{k} {v / elapsed:.1f}/s' for k, v in sorted(kinds.items()))})")
        print(f"CPU over the run: zarvikd {100 * used[0] / elapsed:.1f} %, mosquitto {100 * used[1] / elapsed:.1f} %")
    finally:
        service.stop()
        office.close()
        for simulator in simulators:
            simulator.stop()
        broker.stop()


if __name__ == "__main__":
    main()
