"""zarvik-fleet shows what the stations published: pumps, and the day's sales per
grade counted once each, also those published while it was away."""

import json
import os
import subprocess

import pytest

from conftest import PASSWORDS, PREFIX, Client, Station, wait_for

FLEET = os.environ.get("ZARVIK_FLEET")


def fleet(tmp_path, broker, *extra):
    password = tmp_path / "office-password"
    password.write_text(PASSWORDS["headoffice"] + "\n")
    password.chmod(0o600)
    return subprocess.run([FLEET, "--broker", f"127.0.0.1:{broker.port}", "--user", "headoffice", "--password-file",
                           str(password), "--client-id", "fleet-test", *extra],
                          capture_output=True, text=True, timeout=30)


@pytest.mark.skipif(not FLEET, reason="ZARVIK_FLEET names the program")
def test_pumps_and_the_days_sales_per_grade(tmp_path, broker, cleanup):
    first = fleet(tmp_path, broker, "--once", "0.5")  # its session: kept by the broker from now on
    assert first.returncode == 0 and "no station" in first.stdout, first.stderr
    office = Client(broker, "headoffice", "office-1", PREFIX + "/transactions/#")
    cleanup.append(office.close)
    station = Station(tmp_path, broker, sales=3)
    station.start()
    cleanup.append(station.stop)
    wait_for(lambda: len(office.taken()) == 3, 20, "three sales")
    station.stop()
    # A repeat of sale 1 (as after a reconnect) is counted once.
    topic, payload, _ = office.taken()[0]
    office.publish(topic, payload)
    day = json.loads(payload)["endedAt"][:10]
    shown = fleet(tmp_path, broker, "--once", "1.5", "--day", day)
    assert shown.returncode == 0, shown.stderr
    lines = [" ".join(line.split()) for line in shown.stdout.splitlines()]
    assert f"Station {PREFIX}: offline" in lines
    # The station is offline: its pump as last published, never shown live.
    assert any(line.startswith("pump 1/1 ТРК 1 idle") and line.endswith("stale: station offline") for line in lines), \
        shown.stdout
    # Sale k: dispenser 1 + k % 2, nozzle 1, k/2 litres at 50; dispenser 1 names its nozzle.
    assert "АИ-95 1 sales 1.000 l 50.00" in lines, shown.stdout
    assert "1/2/1 2 sales 2.000 l 100.00" in lines, shown.stdout
    refused = subprocess.run([FLEET, "--broker", f"127.0.0.1:{broker.port}", "--user", "headoffice", "--once", "1"],
                             capture_output=True, text=True, timeout=30)
    assert refused.returncode == 3 and "not authorised" in refused.stderr.lower(), refused.stderr
