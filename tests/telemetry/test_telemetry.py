"""The station's telemetry against a real broker with an access list."""

import datetime
import json
import time

from conftest import PREFIX, Broker, Client, Station, make_certificates, wait_for, wait_until


def expires(seconds):
    return (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(seconds=seconds)).isoformat()


def replies(office, command_id):
    return [json.loads(p) for t, p, _ in office.taken(PREFIX + "/replies") if json.loads(p)["id"] == command_id]


def test_sales_pumps_lines_and_status_arrive_with_the_journal_values(tmp_path, broker, cleanup):
    office = Client(broker, "headoffice", "office-1", PREFIX + "/#")
    cleanup.append(office.close)
    station = Station(tmp_path, broker, sales=3)
    station.start()
    cleanup.append(station.stop)
    wait_for(lambda: len({t for t, _, _ in office.taken(PREFIX + "/transactions/")}) == 3, 20, "three sales")
    journal = station.ended_sales()
    for topic, payload, _ in office.taken(PREFIX + "/transactions/"):
        sale = json.loads(payload)
        row = journal[sale["id"]]
        assert topic == f"{PREFIX}/transactions/{sale['id']}"
        assert (sale["line"], sale["dispenser"], sale["nozzle"], sale["price"], sale["litres"], sale["money"],
                sale["totalBefore"], sale["totalAfter"], sale["state"]) == row[1:]
        assert sale["preset"] == {"litres": sale["litres"]} and sale["endedAt"].endswith("+00:00") is not None
    assert ("zarvik/s1/status", "online") in [(t, p) for t, p, _ in office.taken(PREFIX + "/status")]
    assert json.loads(office.taken(PREFIX + "/pumps/1/1")[0][1])["live"] is True
    assert json.loads(office.taken(PREFIX + "/lines/1")[0][1])["health"] == "good"
    station.stop()
    wait_for(lambda: office.taken(PREFIX + "/status")[-1][1] == "offline", 10, "offline")
    # Retained: a newcomer sees the pump at once.
    late = Client(broker, "headoffice", "office-2", PREFIX + "/pumps/#")
    cleanup.append(late.close)
    wait_for(lambda: late.taken(PREFIX + "/pumps/1/1"), 10, "the retained pump")


def test_commands_only_from_head_office_once_and_in_time(tmp_path, broker, cleanup):
    office = Client(broker, "headoffice", "office-1", PREFIX + "/#")
    intruder = Client(broker, "intruder", "intruder-1")
    cleanup += [office.close, intruder.close]
    station = Station(tmp_path, broker)
    station.start()
    cleanup.append(station.stop)
    wait_for(lambda: office.taken(PREFIX + "/status"), 10, "the station online")
    time.sleep(0.5)  # its subscription made
    price = {"type": "set-price", "line": 1, "dispenser": 2, "nozzle": 3, "price": 61.5}
    intruder.publish(PREFIX + "/commands", json.dumps({"id": "x1", "expires": expires(60), **price}))
    office.publish(PREFIX + "/commands", json.dumps({"id": "c1", "expires": expires(60), **price}))
    office.publish(PREFIX + "/commands", json.dumps({"id": "c1", "expires": expires(60), **price, "price": 70}))
    office.publish(PREFIX + "/commands", json.dumps({"id": "c2", "expires": expires(-1), **price, "price": 80}))
    office.publish(PREFIX + "/commands", json.dumps({"id": "c3", "expires": expires(60), "type": "totals"}))
    wait_for(lambda: replies(office, "c3"), 10, "the reply to the last command")
    assert [r["result"] for r in replies(office, "c1")] == ["applied", "refused"]
    assert replies(office, "c2")[0]["result"] == "refused" and "expired" in replies(office, "c2")[0]["cause"]
    assert replies(office, "c3")[0]["result"] == "applied"
    assert json.loads(office.taken(PREFIX + "/totals")[-1][1])["nozzles"][0]["total"] == 1234.5
    assert replies(office, "x1") == []
    assert station.printed("price") == [["1", "2", "3", "61.5"]]


def test_every_sale_published_through_broker_restarts_and_a_killed_station(tmp_path, cleanup):
    broker = Broker(tmp_path)
    broker.start()
    cleanup.append(broker.stop)
    office = Client(broker, "headoffice", "office-1", PREFIX + "/transactions/#")
    cleanup.append(office.close)
    station = Station(tmp_path, broker, sales=50, every_ms=120)
    station.start()
    cleanup.append(lambda: station.stop())
    time.sleep(1.0)
    broker.stop()
    time.sleep(1.5)
    broker.start()
    time.sleep(1.0)
    broker.stop()
    time.sleep(1.0)
    station.kill()  # sales ended while the broker was away: the next run sends them
    station.start()
    time.sleep(1.0)
    broker.start()
    wait_for(lambda: len(station.printed("sale")) >= 49 and station.process.poll() is None, 30, "the sales made")
    seen = lambda: {json.loads(p)["id"] for _, p, _ in office.taken(PREFIX + "/transactions/")}
    wait_until(lambda: set(station.ended_sales()) <= seen(), 60)
    ended = station.ended_sales()
    assert len(ended) >= 49  # the killed run may have left one sale unended
    assert set(ended) <= seen(), f"missing: {sorted(set(ended) - seen())}"
    total = len(office.taken(PREFIX + "/transactions/"))
    print(f"{len(ended)} sales, {total} messages ({total - len(seen())} repeats)")


def test_over_tls_the_client_certificate_is_the_identity(tmp_path, cleanup):
    tls = make_certificates(tmp_path)
    broker = Broker(tmp_path, tls)
    broker.start()
    cleanup.append(broker.stop)
    office = Client(broker, "headoffice", "office-1", PREFIX + "/#", tls)
    intruder = Client(broker, "intruder", "intruder-1", None, tls)
    cleanup += [office.close, intruder.close]
    station = Station(tmp_path, broker, sales=1, tls=tls)
    station.start()
    cleanup.append(station.stop)
    wait_for(lambda: office.taken(PREFIX + "/transactions/"), 20, "the sale over TLS")
    time.sleep(0.5)
    price = {"type": "set-price", "line": 1, "dispenser": 1, "nozzle": 1, "price": 55, "expires": expires(60)}
    intruder.publish(PREFIX + "/commands", json.dumps({"id": "x", **price}))
    office.publish(PREFIX + "/commands", json.dumps({"id": "t", **price}))
    wait_for(lambda: replies(office, "t"), 10, "the reply")
    assert replies(office, "x") == [] and station.printed("price") == [["1", "1", "1", "55"]]
