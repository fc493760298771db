#!/usr/bin/env bash
# The examples of examples/ built and run against zarvik-sim on a
# pseudo-terminal; each must pour its 1.5 L and exit 0.
#   c       examples/c/delivery.c built with pkg-config's flags for zarvik from
#           a tree installed into a scratch prefix, run with that tree's
#           libraries and simulator
#   pascal  examples/pascal/delivery.pas built with fpc, loading the build's
#           library (ZARVIK_C_LIBRARY) at run time
# Usage: ExamplesTest.sh c|pascal BUILD_DIR SOURCE_DIR WORK_DIR LIBDIR LIBRARY SIM
set -uo pipefail
mode=$1 build=$2 source=$3 work=$4 libdir=$5 library=$6 sim=$7
fail() {
    echo "FAIL: $*"
    exit 1
}
source "$source/tests/support/start-sim.sh"

rm -rf "$work" && mkdir -p "$work" || fail "no work folder $work"
case $mode in
c)
    prefix=$work/prefix
    cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "install: $(cat "$work/install.log")"
    for file in "$libdir/libzarvik.so.1" include/zarvik/zarvik_c.h "$libdir/pkgconfig/zarvik.pc" \
        lib/python3/dist-packages/zarvik/__init__.py; do
        [[ -e $prefix/$file ]] || fail "not installed: $file"
    done
    export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
    flags=$(pkg-config --cflags --libs zarvik) || fail "pkg-config zarvik"
    cc -std=c99 -Wall -Wextra -Werror -pedantic "$source/examples/c/delivery.c" $flags -o "$work/delivery" ||
        fail "building delivery.c with $flags"
    sim=$prefix/bin/zarvik-sim
    run() { LD_LIBRARY_PATH="$prefix/$libdir" "$work/delivery" "$@"; }
    ;;
pascal)
    command -v fpc >/dev/null || fail "no fpc (scripts/install-deps test installs it)"
    fpc -FE"$work" -FU"$work" "$source/examples/pascal/delivery.pas" >"$work/fpc.log" 2>&1 ||
        fail "fpc: $(cat "$work/fpc.log")"
    run() { ZARVIK_C_LIBRARY=$library "$work/delivery" "$@"; }
    ;;
*) fail "no mode $mode" ;;
esac

start_sim "$work" "$sim" --no-pacing --flow 20

out=$(run "$pty" 2>&1)
code=$?
echo "$mode example on $pty: exit $code: $out"
((code == 0)) || fail "exit $code"
grep -q "^delivered 1.500 L for 75.00" <<<"$out" || fail "no delivery printed"
out=$(run "$work/no-such-tty" 2>&1)
code=$?
echo "$mode example on a missing device: exit $code: $out"
((code == 1)) || fail "a device that does not open: exit $code"
grep -q "open: status 3: line 1 does not open" <<<"$out" || fail "no cause printed"
echo "$mode example: ok"
