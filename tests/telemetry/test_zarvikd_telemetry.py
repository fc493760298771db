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


def test_pumps_lines_and_totals_from_the_service(tmp_path, broker, cleanup):
    office = Client(broker, "headoffice", "office-1", PREFIX + "/#")
    cleanup.append(office.close)
    simulators = [Simulator(tmp_path / "line1"), Simulator(tmp_path / "line2")]
    cleanup += [s.stop for s in simulators]
    station_file = write_station(tmp_path, 2)
    station = json.loads(station_file.read_text(encoding="utf-8"))
    password = tmp_path / "mqtt-password"
    password.write_text(PASSWORDS["station"] + "\n")
    password.chmod(0o600)
    station["service"]["telemetry"] = {"broker": f"127.0.0.1:{broker.port}", "user": "station",
                                       "passwordFile": str(password), "prefix": PREFIX, "totalsEverySeconds": 2}
    station_file.write_text(json.dumps(station, ensure_ascii=False), encoding="utf-8")
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
