"""Pictures of the forecourt page for docs/: a cashier's screen (1366x768) and a tablet (768x1024),
with the fixtures of test_page.py (simulators, zarvikd, headless Chromium): one sale pouring, one
finished, a price held while its nozzle delivers. Run with the environment `make test` gives
test_page.py (ZARVIKD, ZARVIK_SIM, ZARVIK_LIBRARY, ZARVIKD_UI):
    /usr/bin/python3 tests/service/page_screenshots.py docs/"""

from __future__ import annotations

import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))

from test_control import post  # noqa: E402
from test_page import Station  # noqa: E402
from test_zarvikd import CONTROL_TOKEN  # noqa: E402


def main(target: Path) -> None:
    with tempfile.TemporaryDirectory() as folder:
        page = Station(Path(folder))
        try:
            page.sign_in(CONTROL_TOKEN)
            page.until(lambda: len(page.browser.find_elements("css selector", ".tile")) == 4, "tiles")
            assert post(page.service, "/api/v1/pumps/1/1/authorise", {"nozzle": 2, "litres": 40, "price": 61.9})[0] == 200
            assert post(page.service, "/api/v1/pumps/1/2/authorise", {"nozzle": 1, "litres": 2, "price": 56.4})[0] == 200
            post(page.service, "/api/v1/pumps/1/1/nozzles/2/price", {"price": 62.5}, method="PUT")
            page.until(lambda: "kind-finished" in page.tile("1/2").get_attribute("class"), "a finished sale", 30)
            for name, width, height in (("forecourt-desktop.png", 1366, 768), ("forecourt-tablet.png", 768, 1024)):
                page.viewport(width, height)
                page.browser.save_screenshot(str(target / name))
        finally:
            page.close()


if __name__ == "__main__":
    main(Path(sys.argv[1]))
