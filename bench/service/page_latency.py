"""How long a pump's state change takes from the pump to the forecourt page: `lift 1 1` and
`hang 1 1` typed at the simulator's console, each timed until pump 1/1's tile changes in a headless
Chromium (a MutationObserver notes performance.timeOrigin + performance.now()). Run by hand with
the environment of tests/service (ZARVIKD, ZARVIK_SIM, ZARVIK_LIBRARY, ZARVIKD_UI):
    /usr/bin/python3 bench/service/page_latency.py [CHANGES]"""

from __future__ import annotations

import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parents[2] / "tests/service"))

from test_page import Station  # noqa: E402

OBSERVE = """
window.tileChanges = [];
new MutationObserver(() => window.tileChanges.push(performance.timeOrigin + performance.now()))
  .observe(document.querySelector('.tile[data-pump="1/1"] .state'), {subtree: true, childList: true, characterData: true});
"""


def main(changes: int) -> None:
    with tempfile.TemporaryDirectory() as folder:
        page = Station(Path(folder))
        try:
            page.signed_in()
            page.until(lambda: page.text("1/1", ".state") == "Свободна", "pump 1/1 idle")
            page.browser.execute_script(OBSERVE)
            delays = []
            for n in range(changes):
                seen = page.browser.execute_script("return window.tileChanges.length")
                typed = time.time() * 1000
                assert page.simulators[0].command("lift 1 1" if n % 2 == 0 else "hang 1 1") == "ok"
                page.until(lambda: page.browser.execute_script("return window.tileChanges.length") > seen, "a change")
                changed = page.browser.execute_script("return window.tileChanges[arguments[0]]", seen)
                delays.append(changed - typed)
                time.sleep(0.3)  # let the tile settle before the next change
            cycle = page.service.get("/api/v1/lines/1")["cycleMs"]
        finally:
            page.close()
    delays.sort()
    p95 = delays[min(len(delays) - 1, round(0.95 * (len(delays) - 1)))]
    print(f"{len(delays)} changes: median {statistics.median(delays):.0f} ms, p95 {p95:.0f} ms, "
          f"min {delays[0]:.0f} ms, max {delays[-1]:.0f} ms (the line's poll cycle: {cycle:.0f} ms)")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 20)
