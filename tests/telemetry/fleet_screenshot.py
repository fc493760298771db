"""A picture of head office's view for docs/: two simulated lines behind zarvikd publishing to a
broker, three sales made through the service, then `zarvik-fleet --once` printed and shown in a
headless Chromium as a terminal would (docs/fleet-view.png, and its text in docs/fleet-view.txt).
Run with the environment of the telemetry tests (ZARVIKD, ZARVIK_SIM, ZARVIK_LIBRARY, ZARVIK_FLEET):
    /usr/bin/python3 tests/telemetry/fleet_screenshot.py docs/"""

from __future__ import annotations

import html
import os
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
sys.path.insert(0, str(Path(__file__).parents[1] / "service"))

from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service as ChromeDriver  # noqa: E402

from conftest import PASSWORDS, Broker  # noqa: E402
from test_control import post  # noqa: E402
from test_zarvikd_telemetry import telemetry_station  # noqa: E402
from test_zarvikd import Service, Simulator  # noqa: E402


def secret(folder: Path, user: str) -> Path:
    path = folder / f"{user}-password"
    path.write_text(PASSWORDS[user] + "\n")
    path.chmod(0o600)
    return path


def sell(service: Service) -> None:
    """Three sales, each on a dispenser of its own, then one pump left pouring."""
    for line in (1, 2):
        service.wait_for(f"/api/v1/pumps/{line}/2", lambda p: p["live"])
    for line, dispenser, nozzle, litres, price in [(1, 1, 1, 3.0, 54.2), (1, 2, 2, 2.5, 58.9), (2, 2, 1, 4.0, 64.5)]:
        status, body = post(service, f"/api/v1/pumps/{line}/{dispenser}/authorise",
                            {"nozzle": nozzle, "litres": litres, "price": price})
        assert status == 200, body
        service.wait_for(f"/api/v1/transactions/{body['transaction']}", lambda s: s["endedAt"] is not None, 30)
    assert post(service, "/api/v1/pumps/2/1/authorise", {"nozzle": 3, "litres": 60, "price": 64.5})[0] == 200
    service.wait_for("/api/v1/pumps/2/1", lambda p: p["state"]["kind"] == "delivering")


def picture(text: str, target: Path) -> None:
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1000,600"):
        options.add_argument(argument)
    browser = webdriver.Chrome(service=ChromeDriver("/usr/bin/chromedriver"), options=options)
    try:
        page = ("<html><body style='margin:0;background:#1e1e1e'><pre style='color:#ddd;font:15px/1.35 "
                f"\"DejaVu Sans Mono\",monospace;padding:16px;margin:0'>$ zarvik-fleet --once 2\n"
                f"{html.escape(text)}</pre></body></html>")
        browser.get("data:text/html;charset=utf-8," + page.replace("#", "%23"))
        browser.save_screenshot(str(target))
    finally:
        browser.quit()


def main(target: Path) -> None:
    with tempfile.TemporaryDirectory() as name:
        folder = Path(name)
        broker = Broker(folder)
        broker.start()
        simulators = [Simulator(folder / "line1"), Simulator(folder / "line2")]
        service = None
        try:
            def fleet(seconds: str) -> subprocess.CompletedProcess:
                return subprocess.run([os.environ["ZARVIK_FLEET"], "--broker", f"127.0.0.1:{broker.port}", "--user",
                                       "headoffice", "--password-file", str(secret(folder, "headoffice")),
                                       "--client-id", "office-view", "--once", seconds],
                                      capture_output=True, text=True, timeout=30)

            fleet("0.5")  # head office's session, kept by the broker: the sales reach it from now on
            service = Service(telemetry_station(folder, broker, 2))
            sell(service)
            shown = fleet("2")
            assert shown.returncode == 0, shown.stderr
        finally:
            if service:
                service.stop()
            for simulator in simulators:
                simulator.stop()
            broker.stop()
    (target / "fleet-view.txt").write_text(shown.stdout, encoding="utf-8")
    picture(shown.stdout, target / "fleet-view.png")


if __name__ == "__main__":
    main(Path(sys.argv[1]))
