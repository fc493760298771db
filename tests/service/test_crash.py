"""zarvikd killed while it sells: no sale lost, none doubled, no start sent twice (crash_sales.py)."""

from pathlib import Path

from crash_sales import run


def test_sales_survive_kills_in_every_state(tmp_path: Path) -> None:
    result = run(tmp_path, sales=20, lines=2, kills=5)
    print(result)
    assert result["delivered"] >= 20
    assert len(result["kills"]) >= 5
