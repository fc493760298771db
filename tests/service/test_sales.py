"""zarvikd's sales end to end: each sale journalled with the simulator's own volume, money and
totals, followed on the event stream, acknowledged; deliveries started at the pump journalled too."""

from __future__ import annotations

from typing import Iterator

import pytest

from test_control import post, wait_idle, wait_nozzle
from test_events import Events
from test_zarvikd import READ_TOKEN, Service, Simulator, write_station


@pytest.fixture(scope="module")
def station(tmp_path_factory: pytest.TempPathFactory) -> Iterator[tuple[Service, list[Simulator]]]:
    folder = tmp_path_factory.mktemp("sales")
    simulators = [Simulator(folder / "line1"), Simulator(folder / "line2")]
    service = Service(write_station(folder, 2))
    try:
        for line in (1, 2):
            service.wait_for(f"/api/v1/pumps/{line}/2", lambda p: p["live"])
        yield service, simulators
    finally:
        assert service.stop() == 0, "".join(service.log)
        for simulator in simulators:
            simulator.stop()


def own_record(simulator: Simulator, dispenser: int, number: int) -> dict[str, float]:
    """The simulator's own record of the nozzle: "ok status S volume V money M total T"."""
    words = simulator.command(f"show {dispenser} {number}").split()
    assert words[0] == "ok", words
    return {key: float(value) for key, value in zip(words[1::2], words[2::2])}


def follow(events: Events, sale_id: int | None, where: tuple[int, int, int]) -> list[dict]:
    """The transaction events of one sale (the first one at WHERE when no id is known) up to its end."""
    seen: list[dict] = []
    while True:
        _, event = events.next()
        if event["type"] != "transaction":
            continue
        sale = event["transaction"]
        if sale_id is None and (sale["line"], sale["dispenser"], sale["nozzle"]) == where:
            sale_id = sale["id"]
        if sale["id"] == sale_id:
            seen.append(sale)
            if sale["endedAt"] is not None:
                return seen


def check_against_the_simulator(sale: dict, simulator: Simulator) -> None:
    record = own_record(simulator, sale["dispenser"], sale["nozzle"])
    assert (sale["litres"], sale["money"], sale["totalAfter"]) == (record["volume"], record["money"],
                                                                   record["total"]), sale
    assert sale["totalBefore"] == pytest.approx(record["total"] - record["volume"], abs=1e-6), sale


@pytest.mark.parametrize("preset, price", [({"litres": 2.0}, 50.0), ({"money": 30.0}, 46.5)])
def test_a_whole_sale_is_journalled_followed_and_acknowledged(station, preset, price) -> None:
    service, simulators = station
    wait_idle(service, 1, 1)
    events = Events(service)
    status, body = post(service, "/api/v1/pumps/1/1/authorise", {"nozzle": 1, "price": price, **preset})
    assert status == 200, body
    seen = follow(events, body["transaction"], (1, 1, 1))
    # In order; a short delivery may end between two polls, unseen as delivering.
    states = [sale["state"] for sale in seen]
    order = ["authorising", "authorised", "delivering", "finished"]
    assert states == sorted(states, key=order.index) and states[:2] == order[:2] and states[-1] == "finished", states
    sale = service.get(f"/api/v1/transactions/{seen[-1]['id']}")
    assert sale == seen[-1]
    assert (sale["preset"], sale["price"], sale["authorisedHere"]) == (preset, price, True)
    check_against_the_simulator(sale, simulators[0])
    if "money" in preset:
        assert sale["money"] == preset["money"]
    else:
        assert sale["litres"] == preset["litres"]
    # Waiting for acknowledgement until a control token takes it, once.
    waiting = service.get("/api/v1/transactions?acknowledged=false&state=finished")["transactions"]
    assert sale["id"] in [s["id"] for s in waiting]
    path = f"/api/v1/transactions/{sale['id']}/acknowledge"
    assert post(service, path, None, READ_TOKEN)[0] == 403
    assert post(service, path) == (200, {"id": sale["id"], "acknowledged": True, "already": False})
    assert post(service, path) == (200, {"id": sale["id"], "acknowledged": True, "already": True})
    waiting = service.get("/api/v1/transactions?acknowledged=false")["transactions"]
    assert sale["id"] not in [s["id"] for s in waiting]
    assert service.get(f"/api/v1/transactions/{sale['id']}")["acknowledgedAt"] is not None


def test_a_sale_stopped_mid_delivery_keeps_what_was_delivered(station) -> None:
    service, simulators = station
    wait_idle(service, 2, 2)
    events = Events(service)
    status, body = post(service, "/api/v1/pumps/2/2/authorise", {"nozzle": 2, "litres": 400, "price": 50})
    assert status == 200, body
    wait_nozzle(service, 2, 2, 2, {"delivering"})
    status, body = post(service, "/api/v1/pumps/2/2/stop", {"nozzle": 2})
    assert status == 200 and body["complete"], body
    sale = follow(events, None, (2, 2, 2))[-1]
    assert sale["state"] == "stopped" and 0 < sale["litres"] < 400, sale
    check_against_the_simulator(sale, simulators[1])


def test_a_delivery_started_at_the_pump_is_journalled(station) -> None:
    service, simulators = station
    wait_idle(service, 2, 1)
    events = Events(service)
    assert simulators[1].command("deliver 1 3 1.5") == "ok"
    sale = follow(events, None, (2, 1, 3))[-1]
    assert (sale["authorisedHere"], sale["preset"], sale["state"]) == (False, None, "finished"), sale
    check_against_the_simulator(sale, simulators[1])
    assert sale["litres"] == 1.5


def test_totals_for_a_period_are_the_sum_of_its_sales(station) -> None:
    service, _ = station
    ended = [s for s in service.get("/api/v1/transactions")["transactions"] if s["litres"]]
    assert ended, "the earlier tests' sales"
    totals = service.get("/api/v1/transactions/totals?from=2000-01-01&to=2100-01-01")["nozzles"]
    for entry in totals:
        mine = [s for s in ended if (s["line"], s["dispenser"], s["nozzle"]) ==
                (entry["line"], entry["dispenser"], entry["nozzle"])]
        assert entry["sales"] == len(mine)
        assert entry["litres"] == pytest.approx(sum(s["litres"] for s in mine))
        assert entry["money"] == pytest.approx(sum(s["money"] for s in mine))
    assert sum(entry["sales"] for entry in totals) == len(ended)
    assert service.get("/api/v1/transactions/totals?from=2000-01-01&to=2000-01-02")["nozzles"] == []
