"""zarvikd's event stream end to end: pump events of a delivery at the pump in order and only
on changes, resuming with Last-Event-ID, tickets good once on the events path only."""

from __future__ import annotations

import http.client
import json
import time
from pathlib import Path
from typing import Iterator

import jsonschema
import pytest

from test_zarvikd import OPENAPI, READ_TOKEN, Service, Simulator, write_station

BEARER = {"Authorization": f"Bearer {READ_TOKEN}"}
EVENT = jsonschema.Draft202012Validator({"oneOf": [{"$ref": "#/components/schemas/PumpEvent"},
                                                   {"$ref": "#/components/schemas/TransactionEvent"},
                                                   {"$ref": "#/components/schemas/ResetEvent"}],
                                         "components": OPENAPI["components"]})


class Events:
    """GET /api/v1/events held open; next() gives (id, event) as they come."""

    def __init__(self, service: Service, headers: dict | None = None, target: str = "/api/v1/events") -> None:
        self.connection = http.client.HTTPConnection("127.0.0.1", service.port, timeout=20)
        self.connection.request("GET", target, headers=BEARER if headers is None else headers)
        self.response = self.connection.getresponse()
        self.status = self.response.status

    def next(self) -> tuple[int, dict]:
        seq, data = None, None
        deadline = time.monotonic() + 20  # keep-alive comments come on for ever
        while True:
            assert time.monotonic() < deadline, "no event within 20 s"
            line = self.response.readline().decode()
            assert line, "the stream ended"
            if line.startswith("id: "):
                seq = int(line[4:])
            elif line.startswith("data: "):
                data = json.loads(line[6:])
            elif line == "\n" and data is not None:
                EVENT.validate(data)
                assert data["seq"] == seq, line
                return seq, data

    def until_delivered(self) -> list[tuple[int, dict]]:
        """Events up to pump 1/1's first state after delivering."""
        seen: list[tuple[int, dict]] = []
        delivering = False
        while True:
            seq, event = self.next()
            seen.append((seq, event))
            if event["type"] == "pump" and (event["pump"]["line"], event["pump"]["dispenser"]) == (1, 1):
                kind = event["pump"]["state"]["kind"]
                if delivering and kind != "delivering":
                    return seen
                delivering = delivering or kind == "delivering"

    def close(self) -> None:
        self.connection.close()


@pytest.fixture(scope="module")
def station(tmp_path_factory: pytest.TempPathFactory) -> Iterator[tuple[Service, Simulator]]:
    folder = tmp_path_factory.mktemp("events")
    simulator = Simulator(folder / "line1")
    service = Service(write_station(folder, 1))
    try:
        service.wait_for("/api/v1/pumps/1/1", lambda p: p["live"] and p["state"]["kind"] == "idle")
        yield service, simulator
    finally:
        assert service.stop() == 0, "".join(service.log)
        simulator.stop()


def hang_up(service: Service, simulator: Simulator, nozzle: int) -> None:
    assert simulator.command(f"hang 1 {nozzle}") == "ok"
    service.wait_for("/api/v1/pumps/1/1", lambda p: p["state"]["kind"] == "idle")


def pump_states(events: list[tuple[int, dict]]) -> list[tuple[str, int]]:
    return [(e["pump"]["state"]["kind"], e["pump"]["nozzle"]) for _, e in events
            if e["type"] == "pump" and e["pump"]["dispenser"] == 1]


def test_a_delivery_at_the_pump_arrives_as_pump_events_in_order(station) -> None:
    service, simulator = station
    events = Events(service)
    assert events.status == 200 and events.response.getheader("Content-Type") == "text/event-stream"
    assert simulator.command("deliver 1 2 3") == "ok"
    seen = events.until_delivered()
    events.close()
    hang_up(service, simulator, 2)
    seqs = [seq for seq, _ in seen]
    assert seqs == list(range(seqs[0], seqs[0] + len(seqs))), "numbered one after another"
    states = pump_states(seen)
    assert states.count(("delivering", 2)) == 1, f"one event while the volume grows: {states}"
    assert states[-1][0] in ("finished", "idle") and states[-1][1] in (0, 2), states
    assert all(e["pump"]["live"] for _, e in seen if e["type"] == "pump")


@pytest.mark.parametrize("given_as", ["header", "query"])
def test_reconnecting_with_last_event_id_misses_none(station, given_as) -> None:
    """The header, or for a browser's new EventSource (which cannot set it) ?lastEventId= beside ?ticket=."""
    service, simulator = station
    whole, first = Events(service), Events(service)
    assert simulator.command("deliver 1 1 2") == "ok"
    resumed_from, _ = first.next()
    first.close()
    reference = whole.until_delivered()  # the rest of the delivery passes while away
    whole.close()
    missed = [e for e in reference if e[0] > resumed_from]
    if given_as == "header":
        again = Events(service, {**BEARER, "Last-Event-ID": str(resumed_from)})
    else:
        ticket = service.request("/api/v1/tickets", "POST")[1]["ticket"]
        again = Events(service, {}, f"/api/v1/events?ticket={ticket}&lastEventId={resumed_from}")
    resumed = [again.next() for _ in missed]
    again.close()
    hang_up(service, simulator, 1)
    assert missed and resumed == missed, "the same events after the one seen"


def test_an_unknown_last_event_id_gets_a_reset(station) -> None:
    service, _ = station
    events = Events(service, {**BEARER, "Last-Event-ID": "1"})
    seq, event = events.next()
    events.close()
    assert event == {"seq": seq, "type": "reset"} and seq > 1


def test_a_ticket_is_good_once_on_the_events_path_only(station) -> None:
    service, _ = station
    status, issued = service.request("/api/v1/tickets", "POST")  # validated against the document
    assert status == 200
    ticket = issued["ticket"]
    opened = Events(service, {}, f"/api/v1/events?ticket={ticket}")
    assert opened.status == 200
    opened.close()
    _, other = service.request("/api/v1/tickets", "POST")
    for target in (f"/api/v1/events?ticket={ticket}",  # used
                   f"/api/v1/events?ticket={'0' * 64}",  # never issued
                   "/api/v1/events",  # neither token nor ticket
                   f"/api/v1/pumps?ticket={other['ticket']}"):  # not the events path
        status, body = service.request(target, headers={})
        assert (status, body["code"]) == (401, "unauthorized"), target
    assert Events(service, {}, f"/api/v1/events?ticket={other['ticket']}").status == 200, "still unused"
