"""zarvikd's control calls end to end: sales authorised, stopped and refused on simulators."""

from __future__ import annotations

import json
import threading
import time
from pathlib import Path
from typing import Iterator

import pytest

from test_zarvikd import CONTROL_TOKEN, READ_TOKEN, Service, Simulator, write_station

CONTROL = {"Authorization": f"Bearer {CONTROL_TOKEN}"}


def post(service: Service, path: str, body: dict | list | None = None, token: str = CONTROL_TOKEN,
         method: str = "POST") -> tuple[int, dict]:
    data = None if body is None else json.dumps(body).encode()
    return service.request(path, method, {"Authorization": f"Bearer {token}"}, data)


def nozzle(service: Service, line: int, dispenser: int, number: int) -> dict:
    return service.get(f"/api/v1/pumps/{line}/{dispenser}")["nozzles"][number - 1]


def wait_nozzle(service: Service, line: int, dispenser: int, number: int, kinds: set[str]) -> dict:
    service.wait_for(f"/api/v1/pumps/{line}/{dispenser}",
                     lambda p: p["live"] and p["nozzles"][number - 1]["state"]["kind"] in kinds)
    return nozzle(service, line, dispenser, number)


def wait_idle(service: Service, line: int, dispenser: int) -> None:
    """Every nozzle of the pump idle: a start is refused while another nozzle of it is busy."""
    service.wait_for(f"/api/v1/pumps/{line}/{dispenser}",
                     lambda p: p["live"] and all(n["state"]["kind"] == "idle" for n in p["nozzles"]))


def total(service: Service, line: int, dispenser: int, number: int) -> float:
    return service.get(f"/api/v1/pumps/{line}/{dispenser}/totals")["lines"][0]["dispensers"][0]["nozzles"][
        number - 1]["total"]


@pytest.fixture(scope="module")
def station(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Service]:
    folder = tmp_path_factory.mktemp("control")
    simulators = [Simulator(folder / "line1"), Simulator(folder / "line2")]
    service = Service(write_station(folder, 2))
    try:
        for line in (1, 2):
            service.wait_for(f"/api/v1/pumps/{line}/2", lambda p: p["live"])
        yield service
    finally:
        assert service.stop() == 0, "".join(service.log)
        for simulator in simulators:
            simulator.stop()


@pytest.mark.parametrize("preset, price, litres, money", [
    ({"litres": 2.0}, 50.0, 2.0, 100.0),
    ({"money": 30.0}, 60.0, 0.5, 30.0),
])
def test_a_whole_sale_with_a_preset(station, preset, price, litres, money) -> None:
    wait_idle(station, 1, 1)
    before = total(station, 1, 1, 1)
    status, body = post(station, "/api/v1/pumps/1/1/authorise", {"nozzle": 1, "price": price, **preset})
    assert status == 200, body
    assert body["accepted"] and body["price"] == price and body["nozzle"] == 1
    assert body[next(iter(preset))] == next(iter(preset.values()))
    done = wait_nozzle(station, 1, 1, 1, {"finished"})
    assert (done["volume"], done["money"]) == (litres, money)
    assert total(station, 1, 1, 1) == pytest.approx(before + litres)


def test_a_stop_mid_delivery_and_an_emergency_stop(station) -> None:
    nozzles = [(1, 1, 2), (1, 2, 1), (2, 1, 3)]
    for line, dispenser, number in nozzles:
        wait_idle(station, line, dispenser)
        status, body = post(station, f"/api/v1/pumps/{line}/{dispenser}/authorise",
                            {"nozzle": number, "litres": 500, "price": 10})
        assert status == 200, body
    for line, dispenser, number in nozzles:
        wait_nozzle(station, line, dispenser, number, {"delivering"})
    # A nozzle whose sale is still open takes no other; nothing is sent for it.
    status, body = post(station, "/api/v1/pumps/1/1/authorise", {"nozzle": 2, "litres": 1, "price": 11})
    assert (status, body["code"]) == (409, "refused") and "не закрыта продажа" in body["message"], body
    assert nozzle(station, 1, 1, 2)["price"] == 10
    # One pump stopped on its own first, then all the others at once.
    status, body = post(station, "/api/v1/pumps/1/2/stop", {"nozzle": 1})
    assert status == 200 and body["complete"], body
    assert [(s["line"], s["dispenser"], s["nozzle"], s["result"]) for s in body["stopped"]] == [(1, 2, 1, "stopped")]
    wait_nozzle(station, 1, 2, 1, {"finished", "idle"})
    status, body = post(station, "/api/v1/emergency-stop")
    assert status == 200 and body["complete"], body
    assert {(s["line"], s["dispenser"], s["nozzle"]) for s in body["stopped"]} == {(1, 1, 2), (2, 1, 3)}
    for line, dispenser, number in nozzles:
        stopped = wait_nozzle(station, line, dispenser, number, {"finished", "idle"})
        assert stopped["volume"] < 500


def test_an_emergency_stop_goes_ahead_of_an_authorisation_queued_before_it(station) -> None:
    """A tables read holds line 2's worker for a while; an authorisation queued behind it is then
    refused, because the emergency stop asked meanwhile runs first."""
    wait_idle(station, 2, 1)
    answers: dict[str, tuple[int, dict]] = {}
    reads = [threading.Thread(target=lambda: answers.setdefault("tables", station.request(
                 "/api/v1/lines/2/dispensers/1/tables"))),
             threading.Thread(target=lambda: answers.setdefault("sale", post(
                 station, "/api/v1/pumps/2/1/authorise", {"nozzle": 1, "litres": 5, "price": 10})))]
    for thread in reads:
        thread.start()
        time.sleep(0.5)
    status, body = post(station, "/api/v1/emergency-stop")
    for thread in reads:
        thread.join()
    assert answers["tables"][0] == 200
    assert (answers["sale"][0], answers["sale"][1]["code"]) == (409, "refused"), answers["sale"]
    assert status == 200 and body["complete"], body
    assert nozzle(station, 2, 1, 1)["state"]["kind"] == "idle"


def test_a_read_token_is_refused_on_every_control_call(station) -> None:
    calls = [("/api/v1/pumps/1/1/authorise", {"nozzle": 1, "litres": 1, "price": 10}),
             ("/api/v1/pumps/1/1/stop", {}), ("/api/v1/emergency-stop", None),
             ("/api/v1/transactions/1/acknowledge", None)]
    for path, body in calls:
        status, answer = post(station, path, body, READ_TOKEN)
        assert (status, answer["code"]) == (403, "forbidden"), path
    for path, body in [("/api/v1/pumps/1/1/nozzles/1/price", {"price": 10})]:
        status, answer = post(station, path, body, READ_TOKEN, "PUT")
        assert (status, answer["code"]) == (403, "forbidden"), path
    assert nozzle(station, 1, 1, 1)["state"]["kind"] != "authorised"


def test_a_price_is_set_when_idle_and_held_while_delivering(station) -> None:
    price = "/api/v1/pumps/2/2/nozzles/2/price"
    wait_idle(station, 2, 2)
    status, body = post(station, price, {"price": 45.67}, method="PUT")
    assert (status, body["pending"]) == (200, False), body
    assert (nozzle(station, 2, 2, 2)["price"], nozzle(station, 2, 2, 2)["pendingPrice"]) == (45.67, None)
    status, body = post(station, "/api/v1/pumps/2/2/authorise", {"nozzle": 2, "litres": 3, "price": 50})
    assert status == 200, body
    wait_nozzle(station, 2, 2, 2, {"delivering"})
    status, body = post(station, price, {"price": 52.5}, method="PUT")
    assert (status, body["pending"]) == (202, True), body
    pump = station.get("/api/v1/pumps/2/2")
    assert (pump["price"], pump["priceSource"], pump["pendingPrice"]) == (50, "set", 52.5)
    # Held through the sale, applied once the nozzle is idle again.
    station.wait_for("/api/v1/pumps/2/2", lambda p: p["nozzles"][1]["pendingPrice"] is None, 30)
    assert nozzle(station, 2, 2, 2)["price"] == 52.5


@pytest.mark.parametrize("body", [
    {"nozzle": 1, "litres": 1, "money": 1, "price": 10}, {"nozzle": 1, "price": 10}, {"nozzle": 1, "litres": 1},
    {"nozzle": 4, "litres": 1, "price": 10}, {"nozzle": "1", "litres": 1, "price": 10},
    {"nozzle": 1, "litres": -1, "price": 10}, {"nozzle": 1, "litres": 1, "price": 200000},
    {"nozzle": 1, "litres": 1, "price": 10, "extra": 1}, [1],
])
def test_a_malformed_authorisation_is_refused_and_nothing_sent(station, body) -> None:
    status, answer = post(station, "/api/v1/pumps/1/1/authorise", body)
    assert (status, answer["code"]) == (400, "bad_request"), answer


def test_a_start_the_dispenser_refuses(tmp_path: Path) -> None:
    simulator = Simulator(tmp_path / "line1", "--fault", "refuse-start", "--fault-rate", "1")
    service = Service(write_station(tmp_path, 1))
    try:
        service.wait_for("/api/v1/pumps/1/1", lambda p: p["live"])
        status, body = post(service, "/api/v1/pumps/1/1/authorise", {"nozzle": 1, "litres": 2, "price": 50})
        assert (status, body["code"]) == (409, "refused"), body
        assert "пуск не принят" in body["message"]
        assert nozzle(service, 1, 1, 1)["state"]["kind"] == "idle"
        [sale] = service.get("/api/v1/transactions")["transactions"]
        assert (sale["state"], sale["litres"]) == ("failed", None) and "пуск не принят" in sale["cause"], sale
    finally:
        assert service.stop() == 0, "".join(service.log)
        simulator.stop()
