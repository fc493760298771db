#!/usr/bin/env bash
# The station's windows walked through as a service technician drives them:
# `zarvik-host gui` against its embedded simulator on a real X server (Xvfb),
# key and mouse events through the X server (xdotool, XTEST), the window
# names the window manager receives (_NET_WM_NAME) and the frames on the line
# (the host's --capture file). Russian locale.
#
#   walkthrough.sh ZARVIK_HOST OUTDIR [DOCS]
#
# Pictures of each step go to OUTDIR; with DOCS, the two pictures of the
# documentation (a wrapped name at a narrow column, the calibration dialog)
# are written there too. Exits 77 (skipped) when a tool is missing.
set -euo pipefail

host=$1
out=$2
docs=${3:-}
mkdir -p "$out"
for tool in Xvfb xdotool xprop import python3; do
  command -v "$tool" >/dev/null || { echo "walkthrough: $tool is not installed"; exit 77; }
done
locale -a 2>/dev/null | grep -qi '^ru_RU\.utf8$' || { echo "walkthrough: no ru_RU.UTF-8 locale"; exit 77; }

work=$(mktemp -d)
xvfb_pid=
host_pid=
stop() {  # pid: asked to end, then made to
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 20); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  kill -9 "$1" 2>/dev/null || true
}
cleanup() {
  stop "$host_pid"
  stop "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 LANGUAGE=ru QT_QPA_PLATFORM=xcb
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS

"$host" --capture "$work/line.pcap" gui >"$work/host.out" 2>"$work/host.err" &
host_pid=$!

# The one visible window whose name matches (a regular expression), waited
# for up to $2 tenths of a second (100).
window() {
  local ids
  for _ in $(seq "${2:-100}"); do
    ids=$(xdotool search --onlyvisible --name "$1" 2>/dev/null || true)
    [ -n "$ids" ] && { echo "$ids" | tail -n1; return 0; }
    sleep 0.1
  done
  return 1
}
count_windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null | wc -l; }
gone() {
  for _ in $(seq 50); do [ "$(count_windows "$1")" -eq 0 ] && return 0; sleep 0.1; done
  return 1
}
title() { xprop -id "$1" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'; }
check_title() {
  local got
  got=$(title "$1")
  if [ "$got" = "$2" ]; then pass "title \"$got\""; else fail "title \"$got\", expected \"$2\""; fi
}
geometry() { eval "$(xdotool getwindowgeometry --shell "$1")"; }  # sets X, Y, WIDTH, HEIGHT
click() {  # window, x, y in the window
  geometry "$1"
  xdotool mousemove $((X + $2)) $((Y + $3)) sleep 0.3 click 1
}
keys() { xdotool key --delay 60 "$@"; }
type_text() { xdotool type --delay 60 "$1"; }
shot() { import -window "$1" "$out/$2.png"; }
# Parameter writes (0x1E) on the line so far: "table row field value", one a line.
writes() {
  python3 - "$work/line.pcap" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
pos = 24
while pos + 16 <= len(data):
    incl = struct.unpack_from('<I', data, pos + 8)[0]
    rec = data[pos + 16:pos + 16 + incl]
    pos += 16 + incl
    if len(rec) < 2 or rec[1] != 0:
        continue
    f = rec[2:]
    if len(f) >= 10 and f[4] == 0x1E:
        value = int.from_bytes(f[9:4 + f[3]], 'little')
        print(f[5], f[6] | f[7] << 8, f[8], value)
EOF
}

station=$(window '^АЗС — станция' 600) || {
  echo "walkthrough: the station window did not appear"
  cat "$work/host.out" "$work/host.err"
  exit 1
}
check_title "$station" "АЗС — станция — zarvik-host"

# The menu entry, by keyboard: Alt on the menu bar, "&ТРК", its last item.
open_params() {
  xdotool windowfocus --sync "$station" 2>/dev/null || true
  keys alt Right Down Up Return
}

# Items 3 and 8: the window is modal from the start; the menu asked for again
# at once changes nothing; titles carry the application's name.
open_params
params=$(window '^Программирование параметров ТРК' 300) || { fail "the parameter window did not open"; exit 1; }
shot "$params" 01-param-window-opening
open_params  # straight away, during the first page load
sleep 5
[ "$(count_windows '^Программирование параметров ТРК')" -eq 1 ] && pass "one parameter window" ||
  fail "a second parameter window"
grep -q "Recursive call" "$work/host.err" && fail "recursive exec: $(grep Recursive "$work/host.err")" ||
  pass "no recursive exec"
check_title "$params" "Программирование параметров ТРК — zarvik-host"
shot "$params" 02-param-window-read

# Item 8: the write confirmation, its title and Russian standard buttons;
# Esc cancels it and nothing is written. Row 1's "Запись" cell opens the editor.
# The menu keys above left the input focus on the station window; with no
# window manager a click does not move it, so the parameter window takes it
# as a window manager would give it on the click.
xdotool windowfocus --sync "$params" 2>/dev/null || true
click "$params" 697 138
sleep 0.5
keys Return
confirm=$(window '^Подтверждение записи') && check_title "$confirm" "Подтверждение записи — zarvik-host" ||
  fail "no write confirmation"
[ -n "${confirm:-}" ] && shot "$confirm" 03-confirm
keys Escape
gone '^Подтверждение записи' || fail "the confirmation stayed"
[ -z "$(writes)" ] && pass "cancelled confirmation wrote nothing" || fail "a write after Cancel: $(writes)"

# Item 4: the name column dragged narrow by its edge in row 0; wrapped names
# keep every line.
geometry "$params"
xdotool mousemove $((X + 465)) $((Y + 114)) sleep 0.3 mousedown 1 sleep 0.3 mousemove $((X + 300)) $((Y + 114)) \
  sleep 0.3 mousemove $((X + 145)) $((Y + 114)) sleep 0.3 mouseup 1
sleep 5
shot "$params" 04-narrow-name-column
[ -n "$docs" ] && cp "$out/04-narrow-name-column.png" "$docs/param-window-narrow.png"

# Items 1 and 2 in the calibration dialog of table 2.
click "$params" 160 92  # the tab of table 2
sleep 5
click "$params" 520 76  # "Изменить юстировочный коэффициент"
calc=$(window '^Настройка поправочного коэффициента') || { fail "no calibration dialog"; exit 1; }
check_title "$calc" "Настройка поправочного коэффициента — zarvik-host"
click "$calc" 150 37  # Заказано
keys ctrl+a
type_text 10
click "$calc" 150 70  # Налито
keys ctrl+a
type_text 10.1
keys Tab  # from Налито onto "Закрыть (Esc)"
shot "$calc" 05-calibration
[ -n "$docs" ] && cp "$out/05-calibration.png" "$docs/calibration-dialog.png"
keys Return
gone '^Настройка поправочного коэффициента' && pass "Enter on Закрыть closed the dialog" || fail "the dialog stayed"
sleep 2
[ -z "$(writes)" ] && pass "Enter on Закрыть wrote nothing" || fail "a write from Закрыть: $(writes)"

click "$params" 520 76
calc=$(window '^Настройка поправочного коэффициента') || { fail "no calibration dialog"; exit 1; }
click "$calc" 150 70
keys ctrl+a
type_text "1 010,5"
keys Return
error=$(window '^zarvik-host$') && pass "grouped number named: $(title "$error")" || fail "no message for 1 010,5"
[ -n "${error:-}" ] && shot "$error" 06-grouped-number
keys Return
sleep 1
[ -z "$(writes)" ] && pass "grouped number wrote nothing" || fail "a write from 1 010,5: $(writes)"
keys ctrl+a
type_text 10.1
keys Return
gone '^Настройка поправочного коэффициента' || fail "the dialog stayed after 10.1"
sleep 2
# Ordered 10, poured 10.1, coefficient 0 before: 10 / 0.1 = 100.
written=$(writes)
[ "$written" = "2 1 21 100" ] && pass "10.1 wrote coefficient 100" || fail "10.1 wrote \"$written\", expected 2 1 21 100"
shot "$params" 07-after-calibration

xdotool windowfocus --sync "$params" 2>/dev/null || true
keys Escape
gone '^Программирование параметров ТРК' || fail "Esc did not close the parameter window"

echo "walkthrough: $failures failed"
[ "$failures" -eq 0 ]
