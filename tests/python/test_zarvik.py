"""The Python package against zarvik-sim on a pseudo-terminal (ZARVIK_SIM names the program)."""

from __future__ import annotations

import os
import subprocess
import time
from typing import Iterator

import pytest

import zarvik


@pytest.fixture(scope="module")
def device() -> Iterator[str]:
    sim = subprocess.Popen([os.environ["ZARVIK_SIM"], "--no-pacing", "--flow", "20", "--eps", "0"],
                           stdout=subprocess.PIPE, text=True)
    try:
        yield sim.stdout.readline().strip()
    finally:
        sim.terminate()
        sim.wait()


@pytest.fixture
def line(device: str) -> Iterator[zarvik.Line]:
    with zarvik.Station() as station, station.open_line(1, device) as line:
        yield line


def test_delivery_to_the_dose(line: zarvik.Line) -> None:
    assert line.station.driver_info == "v2.50#Протокол Зенто-М"
    line.set_price(1, 1, 50.0)
    line.preset_litres(1, 1, 1.5)
    line.start(1, 1)
    deadline = time.monotonic() + 20
    while (nozzle := line.poll(1, nozzles=3).nozzles[0]).litres != 1.5 and time.monotonic() < deadline:
        time.sleep(0.05)
    assert (nozzle.litres, nozzle.money) == (1.5, 75.0)
    assert line.read_total(1, 1) >= 1.5
    line.reset(1, 1)


def test_failures_raise_with_their_text_and_the_interpreter_goes_on(line: zarvik.Line) -> None:
    with pytest.raises(zarvik.RefusedError, match=r"refused the start \(line result 10\)"):
        line.start(2, 1)
    with pytest.raises(zarvik.ArgumentError, match="не помещается в поле команды") as raised:
        line.preset_litres(2, 1, 99999999)
    assert raised.value.status == 1
    with pytest.raises(zarvik.ArgumentError, match="nozzle must be 1..6, got 9"):
        line.stop(2, 9)
    assert len(line.poll(2, nozzles=3).nozzles) == 3  # still here, and the line still works


def test_timeout_is_no_reply(line: zarvik.Line) -> None:
    master, slave = os.openpty()  # a line nobody answers
    try:
        line.station.set_timeouts(2, 50, 20)
        with line.station.open_line(2, os.ttyname(slave)) as silent:
            with pytest.raises(zarvik.NoReplyError, match="Невозможно выполнить запрос состояния ТРК"):
                silent.poll(1, nozzles=1)
            assert (silent.statistics().exchanges, silent.statistics().timeouts) == (1, 1)
    finally:
        os.close(master)
        os.close(slave)


def test_parameters_descriptions_and_statistics(line: zarvik.Line) -> None:
    table = line.table_info(1, 1)
    assert (table.rows, table.fields) == (3, 12) and table.name
    field = line.field_info(1, 1, 3)
    line.write_parameter(1, 1010203, field.low)
    assert line.read_parameter(1, 1010203) == field.low
    stats = line.statistics()
    assert stats.exchanges == 5 and stats.good == 5 and stats.bytes_received > 0
