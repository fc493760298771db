"""The forecourt page zarvikd serves, in a real headless Chromium: signing in, a sale authorised
from a tile and followed as it climbs, the emergency stop behind its confirmation, a dead line on
its tiles, the banner while the service is gone and the page's recovery when it is back, and a
cashier's screen with nothing scrolled or clipped."""

from __future__ import annotations

import json
import signal
from pathlib import Path
from typing import Iterator

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service as ChromeDriver
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from test_control import post
from test_zarvikd import CONTROL_TOKEN, Service, Simulator, write_station

WAIT = 20


class Station:
    """Two lines of simulators (1 L/s, so a 5 L sale takes 5 s), zarvikd, and the page in Chromium."""

    def __init__(self, folder: Path) -> None:
        self.folder = folder
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--window-size=1366,768", "--disable-gpu",
                         "--disable-dev-shm-usage", "--lang=ru"):
            options.add_argument(argument)
        self.browser = webdriver.Chrome(service=ChromeDriver("/usr/bin/chromedriver"), options=options)
        self.simulators: list[Simulator] = []
        try:
            self.simulators = [Simulator(folder / f"line{n}", flow="1") for n in (1, 2)]
            self.station = write_station(folder, 2)
            self.service = Service(self.station)
            self.viewport(1366, 768)
        except BaseException:
            self.browser.quit()
            for simulator in self.simulators:
                simulator.stop()
            raise

    def restart_service(self) -> None:
        """zarvikd again on the port it had (the page reconnects to the same origin)."""
        station = json.loads(self.station.read_text(encoding="utf-8"))
        station["service"]["listen"] = f"127.0.0.1:{self.service.port}"
        self.station.write_text(json.dumps(station, ensure_ascii=False), encoding="utf-8")
        self.service = Service(self.station)

    def close(self) -> None:
        self.browser.quit()
        assert self.service.stop() == 0, "".join(self.service.log)
        for simulator in self.simulators:
            simulator.stop()

    def viewport(self, width: int, height: int) -> None:
        """The page's viewport exactly WIDTH x HEIGHT (a window's size would include its frame)."""
        self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                     {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
        self.until(lambda: self.browser.execute_script("return [innerWidth, innerHeight]") == [width, height],
                   "the viewport")

    def until(self, condition, what: str, seconds: float = WAIT):
        return WebDriverWait(self.browser, seconds, poll_frequency=0.05).until(lambda _: condition(), what)

    def find(self, selector: str):
        return self.browser.find_element(By.CSS_SELECTOR, selector)

    def tile(self, key: str):
        return self.find(f'.tile[data-pump="{key}"]')

    def text(self, key: str, part: str) -> str:
        return self.tile(key).find_element(By.CSS_SELECTOR, part).text

    def litres(self, key: str) -> float | None:
        shown = self.text(key, ".volume").split()[0]
        return None if shown == "—" else float(shown.replace(",", "."))

    def signed_in(self) -> None:
        """Signed in with the control token and every tile shown (for a test run on its own)."""
        if not self.browser.find_elements(By.CSS_SELECTOR, ".tile"):
            self.sign_in(CONTROL_TOKEN)
        self.until(lambda: len(self.browser.find_elements(By.CSS_SELECTOR, ".tile")) == 4, "four tiles")

    def sign_in(self, token: str) -> None:
        self.browser.get(f"http://127.0.0.1:{self.service.port}/")
        self.until(lambda: self.find("#token").is_displayed(), "the sign-in form")
        self.find("#token").send_keys(token)
        self.find("#enter").click()


@pytest.fixture(scope="module")
def page(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Station]:
    station = Station(tmp_path_factory.mktemp("page"))
    try:
        yield station
    finally:
        station.close()


def test_a_wrong_token_is_refused_and_the_right_one_shows_every_pump(page) -> None:
    page.sign_in("wrong-token-0123456789")
    page.until(lambda: page.find("#login-problem").is_displayed(), "the refusal")
    assert "Неверный токен" in page.find("#login-problem").text
    page.find("#token").clear()
    page.sign_in(CONTROL_TOKEN)
    page.until(lambda: len(page.browser.find_elements(By.CSS_SELECTOR, ".tile")) == 4, "four tiles")
    page.until(lambda: page.text("1/1", ".state") == "Свободна", "pump 1/1 idle in Russian")
    assert page.text("1/2", ".name") == "ТРК 2"


def test_a_five_litre_sale_authorised_on_pump_2_climbs_then_finishes(page) -> None:
    page.signed_in()
    page.until(lambda: not page.tile("1/2").find_element(By.CSS_SELECTOR, ".act-authorise").get_attribute("disabled"),
               "pump 2 ready")
    page.tile("1/2").find_element(By.CSS_SELECTOR, ".act-authorise").click()
    page.until(lambda: page.find("#dialog").is_displayed(), "the sale dialog")
    page.find("#dialog .in-amount").send_keys("5")
    page.find("#dialog .in-price").clear()
    page.find("#dialog .in-price").send_keys("50")
    page.find("#dialog .ok").click()
    climbing = page.until(lambda: 1 <= (page.litres("1/2") or 0) <= 4 and page.litres("1/2"), "1 to 4 litres")
    assert "kind-delivering" in page.tile("1/2").get_attribute("class"), climbing
    page.until(lambda: page.text("1/2", ".volume") == "5,000 л" and
               "kind-finished" in page.tile("1/2").get_attribute("class"), "5.000 L finished")
    assert page.text("1/2", ".money") == "250,00"


def test_the_sale_waits_for_acknowledgement_and_the_shift_report_counts_it(page) -> None:
    """The 5 L sale of the test before: in the waiting list until acknowledged from the page, then in
    today's report beside the meter's difference."""
    page.signed_in()
    page.find('.tab[data-tab="sales"]').click()
    rows = page.until(lambda: [r for r in page.browser.find_elements(By.CSS_SELECTOR, "#sales tr[data-sale]")
                               if "ТРК 2" in r.text and "5,000" in r.text], "the 5 L sale waiting")
    sale = rows[0].get_attribute("data-sale")
    rows[0].find_element(By.CSS_SELECTOR, ".act-acknowledge").click()
    page.until(lambda: not page.browser.find_elements(By.CSS_SELECTOR, f'#sales tr[data-sale="{sale}"]'),
               "the sale gone from the list")
    assert page.service.get(f"/api/v1/transactions/{sale}")["acknowledgedAt"] is not None
    page.find('.tab[data-tab="report"]').click()
    page.find('#report-form button[type="submit"]').click()
    row = page.until(lambda: [r for r in page.browser.find_elements(By.CSS_SELECTOR, "#report tbody tr")
                              if "ТРК 2" in r.text], "pump 2 in the report")[0]
    cells = [c.text for c in row.find_elements(By.CSS_SELECTOR, "td")]
    assert cells[7] == cells[8] == "5,000" and "⚠" not in cells[9], cells  # meter difference = sales
    assert page.find("#report-csv").is_displayed()
    page.find('.tab[data-tab="pumps"]').click()


def test_a_price_set_from_the_page_and_an_error_answer_shown_with_its_message(page) -> None:
    page.signed_in()
    page.tile("2/2").find_element(By.CSS_SELECTOR, ".act-price").click()
    Select(page.find("#dialog .in-nozzle")).select_by_value("2")
    page.find("#dialog .in-price").send_keys("45,67")
    page.find("#dialog .ok").click()
    page.until(lambda: page.text("2/2", ".price") == "Цена 2: 45,67", "the price on the tile")
    page.tile("2/2").find_element(By.CSS_SELECTOR, ".act-authorise").click()
    Select(page.find("#dialog .in-nozzle")).select_by_value("2")
    assert page.find("#dialog .in-price").get_attribute("value") == "45.67", "the nozzle's price offered"
    page.find("#dialog .in-amount").send_keys("99999999")
    page.find("#dialog .ok").click()
    page.until(lambda: page.find("#dialog .problem").is_displayed(), "the refusal in the dialog")
    status, answer = post(page.service, "/api/v1/pumps/2/2/authorise", {"nozzle": 2, "litres": 99999999, "price": 45.67})
    assert status == 400 and page.find("#dialog .problem").text == f"Ошибка: {answer['message']}", answer
    page.find("#dialog .cancel").click()
    assert "kind-idle" in page.tile("2/2").get_attribute("class"), "nothing started"


def test_the_emergency_stop_asks_first_then_stops_the_delivering_pump(page) -> None:
    page.signed_in()
    page.tile("2/1").find_element(By.CSS_SELECTOR, ".act-authorise").click()
    page.find("#dialog .in-amount").send_keys("500")
    page.find("#dialog .in-price").send_keys("10")
    page.find("#dialog .ok").click()
    page.until(lambda: (page.litres("2/1") or 0) > 0.5, "pump 2/1 delivering")
    page.find("#emergency").click()
    page.until(lambda: page.find("#dialog").is_displayed(), "the confirmation")
    assert (page.litres("2/1") or 0) < 500, "nothing is stopped before it is confirmed"
    page.find("#dialog .ok").click()
    page.until(lambda: "2/1/1: остановлен" in page.find("#emergency-result").text, "the stop's result")
    page.until(lambda: "kind-delivering" not in page.tile("2/1").get_attribute("class"), "pump 2/1 stopped")
    stopped = page.litres("2/1")
    assert stopped < 500


def test_a_cashiers_screen_and_a_tablet_have_no_horizontal_scroll_and_no_clipped_text(page) -> None:
    page.signed_in()
    clipped = """return [...document.querySelectorAll('.tile, .tile *, .top, .top *')]
        .filter(e => e.clientWidth > 0 && e.scrollWidth > e.clientWidth)
        .map(e => e.className + ': ' + e.textContent);"""
    try:
        for width, height in ((1366, 768), (768, 1024)):
            page.viewport(width, height)
            widths = page.browser.execute_script(
                "return [document.documentElement.scrollWidth, document.documentElement.clientWidth]")
            assert widths[0] <= widths[1], (width, widths)
            assert page.browser.execute_script(clipped) == [], width
    finally:
        page.viewport(1366, 768)


def test_english_on_a_button_and_remembered_across_a_reload(page) -> None:
    page.signed_in()
    try:
        page.find("#lang").click()
        page.until(lambda: page.find("#emergency").text == "EMERGENCY STOP", "English")
        page.browser.refresh()  # the token lives as long as the tab, the language in localStorage
        page.until(lambda: page.browser.find_elements(By.CSS_SELECTOR, ".tile"), "the tiles again")
        page.until(lambda: page.text("1/1", ".where") == "line 1", "English after the reload")
    finally:
        page.find("#lang").click()
    page.until(lambda: page.text("1/1", ".where") == "линия 1", "Russian again")


def test_a_dead_line_is_marked_on_its_tiles_and_recovers(page) -> None:
    page.signed_in()
    page.simulators[1].stop(signal.SIGKILL)
    (page.folder / "line2").unlink()
    for key in ("2/1", "2/2"):
        page.until(lambda: "dead" in page.tile(key).get_attribute("class") and
                   page.text(key, ".fault").startswith("Нет связи"), f"tile {key} dead")
    assert "dead" not in page.tile("1/1").get_attribute("class"), "the other line goes on"
    page.simulators[1] = Simulator(page.folder / "line2", flow="1")
    page.until(lambda: "dead" not in page.tile("2/1").get_attribute("class"), "line 2 back")


def test_a_live_pump_whose_values_are_old_says_so(page) -> None:
    """A pump document that is live but polled 20 s ago (a line's worker held up) as the tile shows it."""
    page.signed_in()
    pump = {**page.service.get("/api/v1/pumps/1/1"), "ageMs": 20000}
    page.browser.set_script_timeout(10)
    shown = page.browser.execute_async_script("""
        const [pump, done] = arguments;
        import('/ui/js/tiles.js').then((m) => {
          m.show(pump);
          const tile = document.querySelector('.tile[data-pump="1/1"]');
          done([tile.className, tile.querySelector('.fault').hidden, tile.querySelector('.fault').textContent]);
        });""", pump)
    assert "stale" in shown[0] and not shown[1] and shown[2] == "данные 20 с назад", shown


def test_the_banner_shows_while_the_service_is_gone_and_the_page_recovers(page) -> None:
    page.signed_in()
    assert not page.find("#connection").is_displayed()
    assert page.service.stop() == 0
    page.until(lambda: page.find("#connection").is_displayed(), "the banner")
    assert "Нет связи со службой" in page.find("#connection").text
    page.restart_service()
    page.until(lambda: not page.find("#connection").is_displayed(), "the banner gone", 30)
    assert page.simulators[0].command("lift 1 1") == "ok"
    page.until(lambda: page.text("1/1", ".nozzle").startswith("Пистолет 1"), "events followed again")
    assert page.simulators[0].command("hang 1 1") == "ok"


@pytest.mark.parametrize("sales, expected", [
    # Two sales whose litres make up the meter's difference: not flagged.
    ([(1, "10:00", 100.0, 102.5, 2.5), (2, "11:00", 102.5, 105.0, 2.5)], (2, 5.0, 5.0, False)),
    # Found out of order: still first-before to last-after.
    ([(2, "11:00", 102.5, 105.0, 2.5), (1, "10:00", 100.0, 102.5, 2.5)], (2, 5.0, 5.0, False)),
    # The meter moved 0.02 L more than the sales say: flagged.
    ([(1, "10:00", 100.0, 102.52, 2.5)], (1, 2.52, 2.5, True)),
    # Within a hundredth: not flagged.
    ([(1, "10:00", 100.0, 102.505, 2.5)], (1, 2.505, 2.5, False)),
    # A last sale that failed before its totals were read: the meter up to the one before.
    ([(1, "10:00", 100.0, 102.5, 2.5), (2, "11:00", 102.5, None, None)], (2, 2.5, 2.5, False)),
    # A sale without its totals: no meter difference, flagged.
    ([(1, "10:00", None, None, 2.5)], (1, None, 2.5, True)),
])
def test_the_shift_report_sets_the_meter_difference_beside_the_sales(page, sales, expected) -> None:
    """The report's arithmetic as the page runs it (js/report.js in the browser)."""
    documents = [{"id": i, "line": 1, "dispenser": 2, "nozzle": 1, "startedAt": f"2026-12-09T{at}:00.000000+03:00",
                  "totalBefore": before, "totalAfter": after, "litres": litres,
                  "money": None if litres is None else litres * 50}
                 for i, at, before, after, litres in sales]
    origin = f"http://127.0.0.1:{page.service.port}/"
    if not page.browser.current_url.startswith(origin):
        page.browser.get(origin)
    page.browser.set_script_timeout(10)
    rows = page.browser.execute_async_script("""
        const [sales, done] = arguments;
        import('/ui/js/report.js').then((m) => done(m.shiftRows(sales, () => 'АИ-95')));""", documents)
    assert len(rows) == 1
    row = rows[0]
    assert (row["sales"], row["meter"], row["litres"], row["flagged"]) == expected, row
    assert row["grade"] == "АИ-95"
