#!/usr/bin/env bash
# The embedding example of README.md ("How a host uses the library"), taken
# from the README as it stands: built against an installed tree with
# pkg-config's flags for zarvik-port, then run against the installed
# zarvik-sim on a pseudo-terminal. It must print the dispenser's status and
# exit 0; on a device that does not open it must exit 4 without a status.
# Usage: ReadmeExampleTest.sh BUILD_DIR SOURCE_DIR WORK_DIR CXX LIBDIR
set -uo pipefail
build=$1 source=$2 work=$3 cxx=$4 libdir=$5
fail() {
    echo "FAIL: $*"
    exit 1
}
source "$source/tests/support/start-sim.sh"

rm -rf "$work" && mkdir -p "$work" || fail "no work folder $work"
# The code block after the marker, between its ```cpp fence and the closing one.
awk '/^<!-- readme-example: poll.cpp/ { marked = 1; next }
     marked && /^```cpp$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$source/README.md" >"$work/poll.cpp"
[[ -s $work/poll.cpp ]] || fail "README.md has no code block after <!-- readme-example: poll.cpp -->"

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "install: $(cat "$work/install.log")"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
flags=$(pkg-config --cflags --libs zarvik-port) || fail "pkg-config zarvik-port"
"$cxx" -std=c++20 -Wall -Wextra -Werror "$work/poll.cpp" $flags -ldl -o "$work/poll" || fail "building poll.cpp with $flags"

start_sim "$work" "$prefix/bin/zarvik-sim"

# The example finds the installed libraries as a host in that prefix would.
run() { env LD_LIBRARY_PATH="$prefix/$libdir" QT_QPA_PLATFORM=offscreen "$work/poll" "$@" 2>&1; }
out=$(run "$pty")
code=$?
echo "poll $pty: exit $code: $out"
((code == 0)) || fail "poll exit $code"
grep -qx "dispenser 1: state 0xC0, nozzles 0xC0 0xC0 0xC0" <<<"$out" || fail "poll printed no idle status"

out=$(run "$work/no-such-tty")
code=$?
echo "poll $work/no-such-tty: exit $code: $out"
((code == 4)) || fail "a device that does not open: exit $code"
grep -q "state" <<<"$out" && fail "a status printed for a device that does not open"
echo "readme example: ok"
