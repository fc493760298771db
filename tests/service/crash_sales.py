"""Sales through zarvikd while it is killed (SIGKILL) again and again: afterwards every delivery
the simulators made is in the journal exactly once with the simulators' own volume and money,
and no start was sent twice. Each kill waits for a sale in the state it aims at (authorising:
between the entry's commit and the first command, held open by the service's test pause;
authorised; delivering; or a sale just ended) and the journal is read after each kill to say
where it landed.

As a test: run(...) from test_crash.py. As a benchmark: crash_sales.py SALES LINES KILLS
(ZARVIKD, ZARVIK_SIM, ZARVIK_LIBRARY name the programs, as for the tests)."""

from __future__ import annotations

import collections
import http.client
import json
import os
import random
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from test_zarvikd import CONTROL_TOKEN, Service, write_station  # noqa: E402

AIMS = ["authorising", "authorised", "delivering", "ended"]
OPEN = ("authorising", "authorised", "delivering")


class Line:
    """One simulator (two dispensers of three nozzles) logging its deliveries."""

    def __init__(self, folder: Path, number: int) -> None:
        self.number = number
        self.log = folder / f"deliveries{number}.log"
        self.process = subprocess.Popen([os.environ["ZARVIK_SIM"], "--addresses", "1", "--flow", "4",
                                         "--delivery-log", str(self.log)], stdout=subprocess.PIPE, text=True)
        pty = self.process.stdout.readline().strip()
        link = folder / f"line{number}"
        link.unlink(missing_ok=True)
        link.symlink_to(pty)

    def stop(self) -> None:
        self.process.terminate()
        self.process.wait(10)

    def records(self) -> tuple[collections.Counter, list[tuple[int, int, float, float, float]]]:
        """Starts per nozzle, and every end with a volume: (dispenser, nozzle, volume, money, total)."""
        starts: collections.Counter = collections.Counter()
        ends = []
        for words in (line.split() for line in self.log.read_text().splitlines()):
            if words[0] == "start":
                starts[(int(words[1]), int(words[2]))] += 1
            elif float(words[3]) > 0:
                ends.append((int(words[1]), int(words[2]), float(words[3]), float(words[4]), float(words[5])))
        return starts, ends


def call(service: Service, method: str, path: str, body: dict | None = None) -> tuple[int, dict]:
    connection = http.client.HTTPConnection("127.0.0.1", service.port, timeout=10)
    try:
        connection.request(method, path, None if body is None else json.dumps(body),
                           {"Authorization": f"Bearer {CONTROL_TOKEN}"})
        response = connection.getresponse()
        return response.status, json.loads(response.read() or b"{}")
    except (OSError, http.client.HTTPException, ValueError):
        return 0, {}  # killed under our feet
    finally:
        connection.close()


class Run:
    def __init__(self, folder: Path, lines: int, seed: int) -> None:
        self.folder = folder
        self.station = write_station(folder, lines)
        self.journal = folder / "sales.db"
        self.lines = [Line(folder, n) for n in range(1, lines + 1)]
        self.random = random.Random(seed)
        self.asked = 0  # authorisations asked over HTTP
        self.stop = threading.Event()
        self.service = self.start()

    def start(self) -> Service:
        os.environ["ZARVIKD_TEST_PAUSE_AFTER_COMMIT_MS"] = "300"
        return Service(self.station)

    def sell(self, line: int) -> None:
        """Sales on the line's nozzles in turn, one dispenser at a time each, until stopped."""
        while not self.stop.is_set():
            dispenser, nozzle = self.random.choice([(1, 1), (1, 2), (1, 3), (2, 1), (2, 2)])
            litres = round(self.random.uniform(0.5, 2.5), 2)
            status, _ = call(self.service, "POST", f"/api/v1/pumps/{line}/{dispenser}/authorise",
                             {"nozzle": nozzle, "litres": litres, "price": 51.3})
            self.asked += 1
            time.sleep(0.2 if status == 200 else 0.5)

    def landed(self) -> str:
        """Where the kill landed: the open sales' states in the journal (the service is dead)."""
        with sqlite3.connect(self.journal) as db:
            states = [row[0] for row in db.execute("SELECT state FROM sales WHERE state IN (?, ?, ?)", OPEN)]
        return ",".join(sorted(states)) or "no sale open"

    def kill_at(self, aim: str, timeout: float = 30) -> str | None:
        deadline = time.monotonic() + timeout
        ended = len(self.ended())
        while time.monotonic() < deadline:
            if aim == "ended":
                hit = len(self.ended()) > ended
            else:
                status, body = call(self.service, "GET", f"/api/v1/transactions?state={aim}")
                hit = status == 200 and bool(body["transactions"])
            if hit:
                self.service.process.kill()
                self.service.process.wait()
                where = self.landed()
                self.service = self.start()
                return where
            time.sleep(0.02)
        return None

    def ended(self) -> list[dict]:
        status, body = call(self.service, "GET", "/api/v1/transactions?state=finished")
        return body.get("transactions", []) if status == 200 else []

    def settle(self) -> list[dict]:
        """Every sale ended, every nozzle idle: the journal's sales."""
        deadline = time.monotonic() + 60
        body: dict = {"transactions": []}
        while time.monotonic() < deadline:
            status, body = call(self.service, "GET", "/api/v1/transactions")
            if status == 200 and all(s["state"] not in OPEN for s in body["transactions"]):
                pumps = call(self.service, "GET", "/api/v1/pumps")[1]
                if all(n["state"]["kind"] == "idle" for p in pumps["pumps"] for n in p["nozzles"]):
                    return body["transactions"]
            time.sleep(0.2)
        raise AssertionError(f"sales still open after 60 s: {[s for s in body['transactions'] if s['state'] in OPEN]}")


def run(folder: Path, sales: int, lines: int, kills: int, seed: int = 7) -> dict:
    """Drives the run; returns its counts. Raises AssertionError on any sale lost, doubled or wrong."""
    r = Run(folder, lines, seed)
    sellers = [threading.Thread(target=r.sell, args=(line.number,)) for line in r.lines]
    landings: list[tuple[str, str]] = []
    try:
        for seller in sellers:
            seller.start()
        deadline = time.monotonic() + 60 + 10 * (kills + sales)
        attempt = 0
        while len(landings) < kills:
            assert time.monotonic() < deadline, f"only {len(landings)} kills landed: {landings}"
            aim = AIMS[attempt % len(AIMS)]
            attempt += 1
            if (where := r.kill_at(aim)) is not None:
                landings.append((aim, where))
        while sum(len(line.records()[1]) for line in r.lines) < sales:
            assert time.monotonic() < deadline, "the simulators delivered too few sales"
            time.sleep(0.2)
        r.stop.set()
        for seller in sellers:
            seller.join()
        journal = r.settle()
        assert r.service.stop() == 0
    finally:
        r.stop.set()
        if r.service.process.poll() is None:
            r.service.process.kill()
        for line in r.lines:
            line.stop()
    return check(r, journal, landings)


def check(r: Run, journal: list[dict], landings: list[tuple[str, str]]) -> dict:
    delivered = 0
    starts_total = 0
    for line in r.lines:
        starts, ends = line.records()
        mine = [s for s in journal if s["line"] == line.number]
        for dispenser, nozzle, volume, money, total in ends:
            matches = [s for s in mine if (s["dispenser"], s["nozzle"], s["totalAfter"]) == (dispenser, nozzle, total)]
            assert len(matches) == 1, f"line {line.number} {dispenser}/{nozzle} total {total}: {matches}"
            assert (matches[0]["litres"], matches[0]["money"]) == (volume, money), matches[0]
        with_volume = [s for s in mine if s["litres"]]
        assert len(with_volume) == len(ends), f"line {line.number}: journal {with_volume} simulator {ends}"
        assert not [s for s in mine if "unknown" in s["cause"]], mine
        # Every start the simulator took is one sale the journal knows as sent, never two (no
        # delivery here starts at the pump: none is found without its sale).
        assert all(s["authorisedHere"] for s in mine), mine
        sent = collections.Counter((s["dispenser"], s["nozzle"]) for s in mine if s["state"] != "failed")
        assert starts == sent, f"line {line.number}: simulator starts {starts}, journal {sent}"
        delivered += len(ends)
        starts_total += sum(starts.values())
    assert starts_total <= r.asked
    states = collections.Counter(s["state"] for s in journal)
    return {"delivered": delivered, "starts": starts_total, "asked": r.asked, "states": dict(states),
            "kills": landings}


if __name__ == "__main__":
    sales, lines, kills = (int(a) for a in (sys.argv[1:4] if len(sys.argv) > 3 else (100, 4, 20)))
    began = time.monotonic()
    with tempfile.TemporaryDirectory() as folder:
        result = run(Path(folder), sales, lines, kills)
    result["seconds"] = round(time.monotonic() - began, 1)
    print(json.dumps(result, ensure_ascii=False, indent=1))
