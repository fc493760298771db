"""zarvikd's telemetry end to end: simulators on pseudo-terminals, the service
publishing to the test's broker; its pump and line documents and totals are the
API's own. (Commands need the journal to keep their ids: tested on the
telemetry station.)"""

import json
import os
import sys
from pathlib import Path

import pytest

from conftest import PASSWORDS, PREFIX, Client, wait_for

if "ZARVIKD" not in os.environ:
    pytest.skip("ZARVIKD, ZARVIK_SIM and ZARVIK_LIBRARY name the programs", allow_module_level=True)
sys.path.insert(0, str(Path(__file__).parents[1] / "service"))
from test_zarvikd import Service, Simulator, write_station  # noqa: E402


def telemetry_station(folder: Path, broker, lines: int, **telemetry) -> Path:
    """write_station's file, its service publishing to BROKER as the station's user."""
    path = write_station(folder, lines)
    station = json.loads(path.read_text(encoding="utf-8"))
    password = folder / "mqtt-password"
    password.write_text(PASSWORDS["station"] + "\n")
    password.chmod(0o600)
    station["service"]["telemetry"] = {"broker": f"127.0.0.1:{broker.port}", "user": "station",
                                       "passwordFile": str(password), "prefix": PREFIX, **telemetry}
    path.write_text(json.dumps(station, ensure_ascii=False), encoding="utf-8")
    return path


def test_pumps_lines_and_totals_from_the_service(tmp_path, broker, cleanup):
    office = Client(broker, "headoffice", "office-1", PREFIX + "/#")
    cleanup.append(office.close)
    simulators = [Simulator(tmp_path / "line1"), Simulator(tmp_path / "line2")]
    cleanup += [s.stop for s in simulators]
    station_file = telemetry_station(tmp_path, broker, 2, totalsEverySeconds=2)
    service = Service(station_file)
    cleanup.append(service.stop)

    def latest(topic):
        taken = office.taken(topic)
        return json.loads(taken[-1][1]) if taken else None

    for line in (1, 2):
        for dispenser in (1, 2):
            topic = f"{PREFIX}/pumps/{line}/{dispenser}"
            wait_for(lambda: (latest(topic) or {}).get("live"), 20, topic)
            api = service.get(f"/api/v1/pumps/{line}/{dispenser}")
            assert latest(topic).keys() == api.keys() and latest(topic)["name"] == api["name"]
    assert simulators[0].command("deliver 1 2 3") == "ok"
    wait_for(lambda: latest(f"{PREFIX}/pumps/1/1")["state"]["kind"] == "delivering", 20, "the delivery")
    wait_for(lambda: (latest(f"{PREFIX}/lines/2") or {}).get("health") == "good", 20, "line 2 good")
    simulators[1].stop()
    wait_for(lambda: latest(f"{PREFIX}/lines/2")["health"] == "dead", 20, "line 2 dead")
    # On schedule: the API's totals document, line 2's nozzles unread.
    wait_for(lambda: (latest(PREFIX + "/totals") or {}).get("complete") is False, 30, "totals without line 2")
    totals = latest(PREFIX + "/totals")
    assert [line["line"] for line in totals["lines"]] == [1, 2]
    assert all(n["total"] is not None for d in totals["lines"][0]["dispensers"] for n in d["nozzles"])
    assert service.stop() == 0, "".join(service.log)
    wait_for(lambda: office.taken(PREFIX + "/status")[-1][1] == "offline", 10, "offline")


def test_a_sale_and_a_price_through_the_broker(tmp_path, broker, cleanup):
    from test_sales import own_record
    from test_control import post, wait_idle

    office = Client(broker, "headoffice", "office-1", PREFIX + "/#")
    cleanup.append(office.close)
    simulators = [Simulator(tmp_path / "line1")]
    cleanup += [s.stop for s in simulators]
    station_file = telemetry_station(tmp_path, broker, 1)
    service = Service(station_file)
    cleanup.append(service.stop)
    service.wait_for("/api/v1/pumps/1/1", lambda p: p["live"])
    wait_idle(service, 1, 1)
    status, body = post(service, "/api/v1/pumps/1/1/authorise", {"nozzle": 2, "litres": 1.5, "price": 48.2})
    assert status == 200, body
    topic = f"{PREFIX}/transactions/{body['transaction']}"
    wait_for(lambda: office.taken(topic), 30, "the sale's message")
    published = json.loads(office.taken(topic)[0][1])
    record = own_record(simulators[0], 1, 2)
    assert (published["litres"], published["money"], published["totalAfter"], published["price"]) == (
        record["volume"], record["money"], record["total"], 48.2), published
    assert published == service.get(f"/api/v1/transactions/{body['transaction']}")
    office.publish(PREFIX + "/commands", json.dumps({"id": "p1", "type": "set-price", "line": 1, "dispenser": 2,
                                                     "nozzle": 1, "price": 55.5,
                                                     "expires": "2099-01-01T00:00:00Z"}))
    wait_for(lambda: office.taken(PREFIX + "/replies"), 30, "the reply")
    assert json.loads(office.taken(PREFIX + "/replies")[0][1]) == {"id": "p1", "result": "applied", "cause": None}
    assert service.get("/api/v1/pumps/1/2")["nozzles"][0]["price"] == 55.5


def test_every_sale_of_zarvikd_published_through_broker_restarts_and_a_kill(tmp_path, cleanup):
    import sqlite3
    import threading
    import time

    from conftest import Broker, wait_until
    from test_control import post

    broker = Broker(tmp_path)
    broker.start()
    cleanup.append(broker.stop)
    office = Client(broker, "headoffice", "office-1", PREFIX + "/transactions/#")
    cleanup.append(office.close)
    simulators = [Simulator(tmp_path / "line1"), Simulator(tmp_path / "line2")]
    cleanup += [s.stop for s in simulators]
    station_file = telemetry_station(tmp_path, broker, 2)
    current = [Service(station_file)]
    cleanup.append(lambda: current[0].stop())
    sold = []
    done = threading.Event()

    def sell():
        pumps = [(1, 1), (1, 2), (2, 1), (2, 2)]
        while len(sold) < 50 and not done.is_set():
            line, dispenser = pumps[len(sold) % 4]
            try:
                status, body = post(current[0], f"/api/v1/pumps/{line}/{dispenser}/authorise",
                                    {"nozzle": 1, "litres": 0.5, "price": 50.0})
                if status == 200:
                    sold.append(body["transaction"])
            except (OSError, AssertionError, ValueError):
                pass  # the service is being killed or restarted
            time.sleep(0.1)

    seller = threading.Thread(target=sell, daemon=True)
    seller.start()
    cleanup.append(done.set)
    for step in ("broker", "zarvikd", "broker"):
        wait_until(lambda: False, 3)
        if step == "broker":
            broker.stop()
            wait_until(lambda: False, 2)
            broker.start()
        else:
            current[0].process.kill()
            current[0].process.wait()
            current[0] = Service(station_file)
    seller.join(120)
    assert len(sold) >= 50

    def ended():
        with sqlite3.connect(tmp_path / "sales.db") as db:
            return {row[0] for row in db.execute("SELECT id FROM sales WHERE ended_at IS NOT NULL")}

    seen = lambda: {json.loads(p)["id"] for _, p, _ in office.taken(PREFIX + "/transactions/")}
    wait_until(lambda: len(ended()) >= 50 and ended() <= seen(), 90)
    assert len(ended()) >= 50 and ended() <= seen(), f"missing: {sorted(ended() - seen())}"
