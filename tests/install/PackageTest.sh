#!/usr/bin/env bash
# Builds the .deb from a build folder (cpack), unpacks it into a scratch root
# (dpkg -x: nothing on the system changes) and runs the installed tools from
# there: they must find the installed library, not the build tree's.
# Usage: PackageTest.sh BUILD_DIR SOURCE_DIR WORK_DIR [WITH_GUI]
# WITH_GUI is ON (the default) for a build with the windows, OFF for the
# headless one, whose package must not depend on Qt.
set -uo pipefail
build=$1 source=$2 work=$3 gui=${4:-ON}
fail() {
    echo "FAIL: $*"
    exit 1
}
# The installed tools run without the test's environment.
run() { env -i PATH=/usr/bin:/bin HOME="$work" QT_QPA_PLATFORM=offscreen "$@"; }

rm -rf "$work" && mkdir -p "$work" || fail "no work folder $work"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"
    fail "cpack"
}
deb=$(echo "$work"/zarvik-trk_*.deb)
[[ -f $deb ]] || fail "no package in $work"
echo "package: $deb"

# The runtime dependencies: the shared libraries' packages and the font.
depends=$(dpkg-deb --field "$deb" Depends) || fail "no Depends"
echo "Depends: $depends"
depends_on() { [[ ", $depends," == *", $1 "* || ", $depends," == *", $1,"* ]]; }
for p in libc6 libstdc++6 libpcap0.8 fonts-liberation2; do
    depends_on $p || fail "Depends lacks $p"
done
for p in libqt6core6 libqt6gui6 libqt6widgets6; do
    if [[ $gui == ON ]]; then
        depends_on $p || fail "Depends lacks $p"
    else
        depends_on $p && fail "the headless package depends on $p"
    fi
done

contents=$(dpkg-deb -c "$deb") || fail "dpkg-deb -c"
for f in usr/bin/zarvik-host usr/bin/zarvik-sim usr/lib/libZarvikTrk.so.1.0.0.35 \
    "usr/lib/libZarvikTrk.so.1 -> libZarvikTrk.so.1.0.0.35" "usr/lib/libZarvikTrk.so -> libZarvikTrk.so.1" \
    usr/lib/pkgconfig/ZarvikTrk.pc usr/lib/cmake/ZarvikTrk/ZarvikTrkConfig.cmake usr/include/zarvik/driver.h \
    usr/lib/libzarvik-port.so.1.0.0.35 "usr/lib/libzarvik-port.so.1 -> libzarvik-port.so.1.0.0.35" \
    "usr/lib/libzarvik-port.so -> libzarvik-port.so.1" usr/lib/pkgconfig/zarvik-port.pc \
    usr/include/zarvik/port/SerialPortManager.h usr/include/zarvik/port/PortExport.h \
    usr/share/man/man1/zarvik-host.1.gz usr/share/man/man1/zarvik-sim.1.gz \
    usr/share/bash-completion/completions/zarvik-host usr/share/zarvik/wireshark/zarvik.lua; do
    grep -qF -- "./$f" <<<"$contents" || fail "the package lacks $f"
done

root=$work/root
dpkg -x "$deb" "$root" || fail "dpkg -x"
# (Outputs are read whole before grep -q, which may stop reading early.)
dynamic=$(readelf -d "$root/usr/lib/libZarvikTrk.so.1.0.0.35") || fail "readelf"
grep -qF 'Library soname: [libZarvikTrk.so.1]' <<<"$dynamic" || fail "SONAME: $dynamic"
dynamic=$(readelf -d "$root/usr/lib/libzarvik-port.so.1.0.0.35") || fail "readelf"
grep -qF 'Library soname: [libzarvik-port.so.1]' <<<"$dynamic" || fail "port service SONAME: $dynamic"
dynamic=$(readelf -d "$root/usr/bin/zarvik-host") || fail "readelf"
grep -qF 'Library runpath: [$ORIGIN/' <<<"$dynamic" || fail "zarvik-host has no \$ORIGIN RUNPATH"

out=$(run "$root/usr/bin/zarvik-host" --help 2>&1) || fail "zarvik-host --help: $out"
grep -q "Usage:.*SUBCOMMAND" <<<"$out" || fail "zarvik-host --help: $out"
if grep -q -- "--version" <<<"$out"; then
    out=$(run "$root/usr/bin/zarvik-host" --version 2>&1) || fail "zarvik-host --version: $out"
    grep -qF "1.0.0.35" <<<"$out" || fail "zarvik-host --version: $out"
    echo "--version: $out"
fi
run "$root/usr/bin/zarvik-sim" --help >/dev/null 2>&1 || fail "zarvik-sim --help"

# The demo loads the library next to the installed tools.
run LD_DEBUG=libs "$root/usr/bin/zarvik-host" demo >"$work/demo.out" 2>"$work/demo.err"
code=$?
cat "$work/demo.out"
((code == 0)) || fail "zarvik-host demo exit $code: $(grep -v '^ *[0-9]*:' "$work/demo.err")"
grep -q "demo finished" "$work/demo.out" || fail "the demo did not finish"
grep -qF "calling init: $root/usr/bin/../lib/libZarvikTrk.so.1" "$work/demo.err" ||
    fail "the demo did not load the installed library: $(grep -F ZarvikTrk "$work/demo.err")"
grep -qF "calling init: $root/usr/bin/../lib/libzarvik-port.so.1" "$work/demo.err" ||
    fail "the demo did not load the installed port service: $(grep -F zarvik-port "$work/demo.err")"

# Hosts that dlopen the plain name keep working.
out=$(run "$root/usr/bin/zarvik-host" --library "$root/usr/lib/libZarvikTrk.so" info 2>&1) || fail "info: $out"
grep -q "v2.50#" <<<"$out" || fail "info through libZarvikTrk.so: $out"

# pkg-config: a host built with its flags against the unpacked tree.
export PKG_CONFIG_PATH=$root/usr/lib/pkgconfig
[[ $(pkg-config --modversion ZarvikTrk) == 1.0.0.35 ]] || fail "pkg-config --modversion"
flags=$(pkg-config --cflags --libs ZarvikTrk zarvik-port) || fail "pkg-config --cflags --libs"
g++ -std=c++20 "$source/tests/install/host/main.cpp" $flags -o "$work/tiny_host" || fail "building with $flags"
out=$(LD_LIBRARY_PATH=$root/usr/lib "$work/tiny_host") || fail "tiny host: $out"
grep -q "tiny host: driver info 22 bytes" <<<"$out" || fail "tiny host: $out"

# The man pages describe the installed tools; the completion is registered.
page=$(zcat "$root/usr/share/man/man1/zarvik-host.1.gz") || fail "man page"
grep -q '^\.TH ZARVIK-HOST "1"' <<<"$page" || fail "man page header"
grep -q "demo" <<<"$page" || fail "man page lacks the subcommands"
grep -qF "$build" <<<"$page" && fail "the man page names the build folder"
page=$(zcat "$root/usr/share/man/man1/zarvik-sim.1.gz") || fail "zarvik-sim man page"
grep -q '^\.TH ZARVIK-SIM' <<<"$page" || fail "zarvik-sim man page header"
out=$(bash -c "source '$root/usr/share/bash-completion/completions/zarvik-host' && complete -p zarvik-host") ||
    fail "completion"
[[ $out == "complete -F _zarvik_host zarvik-host" ]] || fail "completion: $out"

# With the package lists present, apt resolves every dependency (a
# simulation: nothing is installed).
policy=$(apt-cache policy libqt6widgets6 2>/dev/null)
if grep -q 'Candidate: [0-9]' <<<"$policy"; then
    out=$(apt-get install -s "$deb" 2>&1) || fail "apt-get install -s: $out"
    grep -q "^Inst zarvik-trk" <<<"$out" || fail "apt-get install -s: $out"
    echo "apt-get install -s: resolved"
else
    echo "apt-get install -s: skipped, no package lists"
fi
echo "package test: ok"
