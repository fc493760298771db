#!/usr/bin/env bash
# Builds the Debian packages from a build folder (scripts/build-debs), checks
# them with lintian (no error, no warning), unpacks them all into a scratch
# root (dpkg -x: nothing on the system changes) and runs the installed tools
# from there with the root's multiarch folder as their library path: they
# must load the installed libraries, not the build tree's.
# Usage: PackageTest.sh BUILD_DIR SOURCE_DIR WORK_DIR [WITH_GUI]
# WITH_GUI is ON (the default) for a build with the windows, OFF for the
# headless one, which has no zarvik-gui package.
set -uo pipefail
build=$1 source=$2 work=$3 gui=${4:-ON}
fail() {
    echo "FAIL: $*"
    exit 1
}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH) || fail "dpkg-architecture"
root=$work/root
lib=$root/usr/lib/$multiarch
# The installed tools run without the test's environment.
run() { env -i PATH=/usr/bin:/bin HOME="$work" QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH="$lib" "$@"; }
# The same as the process itself, for a program in the background: its PID is
# the caller's, so killing that stops the program, not only a shell around it.
run_exec() { exec env -i PATH=/usr/bin:/bin HOME="$work" QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH="$lib" "$@"; }

rm -rf "$work" && mkdir -p "$work" || fail "no work folder $work"
debs=$(bash "$source/scripts/build-debs" "$build" "$work" 2>&1) || fail "build-debs: $debs"
echo "$debs"
deb_of() { grep "/$1_[^/]*\.deb$" <<<"$debs"; }

packages=(libzarviktrk1 libzarvik-port1 libzarvik1 libzarviktrk-dev zarvik-tools python3-zarvik zarvikd)
[[ $gui == ON ]] && packages+=(zarvik-gui)
for p in "${packages[@]}"; do
    [[ -f $(deb_of $p) ]] || fail "no package $p"
done
[[ $gui == OFF && -n $(deb_of zarvik-gui) ]] && fail "the headless build made zarvik-gui"

# lintian: no error and no warning (informational tags are shown).
mapfile -t files <<<"$debs"
lint=$(lintian --info --display-info "${files[@]}" 2>&1)
echo "$lint"
grep -E '^[EW]: ' <<<"$lint" && fail "lintian reports errors or warnings"

# What each package holds and needs: path patterns per package, then
# dependencies it must and must not have. (Outputs are read whole before
# grep -q, which may stop reading early.)
holds() {
    local contents
    contents=$(dpkg-deb -c "$(deb_of "$1")") || fail "dpkg-deb -c $1"
    shift
    for f in "$@"; do
        grep -qE -- " \./$f( |$)" <<<"$contents" || fail "the package lacks $f"
    done
}
holds libzarviktrk1 "usr/lib/$multiarch/libZarvikTrk\.so\.1\.0\.0\.35" "usr/lib/$multiarch/libZarvikTrk\.so\.1 ->.*" \
    usr/share/doc/libzarviktrk1/copyright usr/share/doc/libzarviktrk1/changelog.gz
holds libzarvik-port1 "usr/lib/$multiarch/libzarvik-port\.so\.1\.0\.0\.35"
holds libzarvik1 "usr/lib/$multiarch/libzarvik\.so\.1\.0\.0" usr/share/doc/libzarvik1/copyright
holds python3-zarvik usr/lib/python3/dist-packages/zarvik/__init__\.py usr/share/doc/python3-zarvik/examples/delivery\.py
holds libzarviktrk-dev "usr/lib/$multiarch/libZarvikTrk\.so ->.*" "usr/lib/$multiarch/libzarvik-port\.so ->.*" \
    "usr/lib/$multiarch/pkgconfig/ZarvikTrk\.pc" "usr/lib/$multiarch/cmake/ZarvikTrk/ZarvikTrkConfig\.cmake" \
    usr/include/zarvik/driver\.h usr/include/zarvik/port/SerialPortManager\.h
holds zarvik-tools usr/bin/zarvik-host usr/bin/zarvik-sim usr/share/man/man1/zarvik-host\.1\.gz \
    usr/share/bash-completion/completions/zarvik-host usr/share/zarvik/wireshark/zarvik\.lua
holds zarvikd usr/sbin/zarvikd usr/lib/systemd/system/zarvikd\.service usr/share/man/man8/zarvikd\.8\.gz \
    usr/share/doc/zarvikd/examples/station\.json usr/share/doc/zarvikd/copyright usr/share/zarvikd/ui/index\.html \
    usr/share/zarvikd/ui/js/main\.js
# Its maintainer scripts make the system user in the group dialout.
scripts=$(dpkg-deb --ctrl-tarfile "$(deb_of zarvikd)" | tar -t) || fail "zarvikd's control files"
for f in postinst prerm postrm; do
    grep -qx "\./$f" <<<"$scripts" || fail "zarvikd has no $f"
done
postinst=$(dpkg-deb --ctrl-tarfile "$(deb_of zarvikd)" | tar -xO ./postinst) || fail "zarvikd's postinst"
grep -q "adduser --system" <<<"$postinst" && grep -q "adduser zarvikd dialout" <<<"$postinst" ||
    fail "zarvikd's postinst does not make its user in dialout"
[[ $gui == ON ]] && holds zarvik-gui "usr/lib/$multiarch/zarvik/zarvik-windows\.so" \
    usr/libexec/zarvik/zarvik-station-window
depends_on() { [[ ", $depends," == *", $1 "* || ", $depends," == *", $1,"* ]]; }
# PACKAGE must:dep,... must-not:dep,...
for rule in "libzarviktrk1 libc6,libstdc++6 libqt6core6,libqt6widgets6" \
    "zarvik-tools libzarvik-port1,libzarviktrk1,libpcap0.8 libqt6core6,libqt6widgets6" \
    "libzarviktrk-dev libzarviktrk1,libzarvik-port1 -" \
    "zarvikd libzarviktrk1,libzarvik-port1,adduser,libmicrohttpd12,libsystemd0,libsqlite3-0,libmosquitto1 libqt6core6,libqt6widgets6" \
    "zarvik-gui libqt6widgets6,libzarviktrk1,zarvik-tools,fonts-liberation2 -"; do
    read -r p must mustnot <<<"$rule"
    [[ -n $(deb_of "$p") ]] || continue
    depends=$(dpkg-deb --field "$(deb_of "$p")" Depends) || fail "$p has no Depends"
    echo "$p Depends: $depends"
    for d in ${must//,/ }; do
        depends_on "$d" || fail "$p does not depend on $d"
    done
    for d in ${mustnot//,/ }; do
        depends_on "$d" && fail "$p depends on $d"
    done
done
grep -qF "libzarvik-port1 (>= 1.0.0.35)" <<<"$(dpkg-deb --field "$(deb_of zarvik-tools)" Depends)" ||
    fail "zarvik-tools' dependency on libzarvik-port1 is not >= this version"

for deb in "${files[@]}"; do
    dpkg -x "$deb" "$root" || fail "dpkg -x $deb"
done
dynamic=$(readelf -d "$lib/libZarvikTrk.so.1.0.0.35") || fail "readelf"
grep -qF 'Library soname: [libZarvikTrk.so.1]' <<<"$dynamic" || fail "SONAME: $dynamic"
grep -qE 'BIND_NOW|FLAGS.*NOW' <<<"$dynamic" || fail "the library is not bound at load (-z now)"
dynamic=$(readelf -d "$root/usr/bin/zarvik-host") || fail "readelf"
grep -q 'R.*PATH' <<<"$dynamic" && fail "zarvik-host keeps a RUNPATH: $dynamic"

out=$(run "$root/usr/bin/zarvik-host" --version 2>&1) || fail "zarvik-host --version: $out"
grep -qF "1.0.0.35" <<<"$out" || fail "zarvik-host --version: $out"
echo "--version: $out"
run "$root/usr/bin/zarvik-sim" --help >/dev/null 2>&1 || fail "zarvik-sim --help"

# The demo loads the installed library (and, with the windows, the library
# loads its windows' module from beside itself).
run LD_DEBUG=libs "$root/usr/bin/zarvik-host" demo >"$work/demo.out" 2>"$work/demo.err"
code=$?
cat "$work/demo.out"
((code == 0)) || fail "zarvik-host demo exit $code: $(grep -v '^ *[0-9]*:' "$work/demo.err")"
grep -q "demo finished" "$work/demo.out" || fail "the demo did not finish"
for loaded in libZarvikTrk.so.1 libzarvik-port.so.1 $([[ $gui == ON ]] && echo zarvik/zarvik-windows.so); do
    grep -qF "calling init: $lib/$loaded" "$work/demo.err" ||
        fail "the demo did not load the installed $loaded: $(grep -F "$(basename "$loaded")" "$work/demo.err")"
done
# The installed station window opens the driver's parameter window (the
# library's windows module); without the module the driver has no menu
# entry, without the station window's program gui says where it comes from.
if [[ $gui == ON ]]; then
    out=$(run "$root/usr/bin/zarvik-host" gui --screenshot "$work/params.png" --open-params 2>&1) || fail "gui: $out"
    [[ -s $work/params.png ]] || fail "the installed parameter window drew nothing: $out"
    mv "$lib/zarvik" "$work/windows-module" || fail "moving the windows module"
    out=$(run "$root/usr/bin/zarvik-host" gui --screenshot "$work/none.png" --open-params 2>&1)
    code=$?
    ((code == 4)) && grep -q "библиотека собрана без окон" <<<"$out" || fail "without the windows module: exit $code: $out"
    # A module that does not load: the menu entry fails with the loader's cause.
    mkdir "$lib/zarvik" && echo "not a module" >"$lib/zarvik/zarvik-windows.so" || fail "a broken module"
    out=$(run "$root/usr/bin/zarvik-host" gui --screenshot "$work/none.png" --open-params 2>&1)
    code=$?
    rm -r "$lib/zarvik" && mv "$work/windows-module" "$lib/zarvik" || fail "restoring the windows module"
    ((code == 4)) && grep -q "модуль окон не загружен: .*zarvik-windows.so: file too short" <<<"$out" ||
        fail "with a broken windows module: exit $code: $out"
    # zarvik-tools alone: gui names the package that brings the window.
    mv "$root/usr/libexec" "$work/libexec" || fail "moving libexec"
    out=$(run "$root/usr/bin/zarvik-host" gui 2>&1)
    code=$?
    mv "$work/libexec" "$root/usr/libexec" || fail "restoring libexec"
    ((code == 4)) && grep -qF "zarvik-gui" <<<"$out" || fail "gui without the station window: exit $code: $out"
fi

# pkg-config: a host built with its flags against the unpacked tree.
export PKG_CONFIG_PATH=$lib/pkgconfig
[[ $(pkg-config --modversion ZarvikTrk) == 1.0.0.35 ]] || fail "pkg-config --modversion"
flags=$(pkg-config --cflags --libs ZarvikTrk zarvik-port) || fail "pkg-config --cflags --libs"
g++ -std=c++20 "$source/tests/install/host/main.cpp" $flags -o "$work/tiny_host" || fail "building with $flags"
out=$(LD_LIBRARY_PATH=$lib "$work/tiny_host") || fail "tiny host: $out"
grep -q "tiny host: driver info 22 bytes" <<<"$out" || fail "tiny host: $out"

# The man pages describe the installed tools; the completion is registered.
page=$(zcat "$root/usr/share/man/man1/zarvik-host.1.gz") || fail "man page"
grep -q '^\.TH ZARVIK-HOST "1"' <<<"$page" || fail "man page header"
grep -qF "$build" <<<"$page" && fail "the man page names the build folder"
out=$(bash -c "source '$root/usr/share/bash-completion/completions/zarvik-host' && complete -p zarvik-host") ||
    fail "completion"
[[ $out == "complete -F _zarvik_host zarvik-host" ]] || fail "completion: $out"

# python3-zarvik with libzarvik1: the Python example pours a dose through the
# unpacked C library on the unpacked simulator's line.
coproc sim {
    exec 2>&1
    run_exec "$root/usr/bin/zarvik-sim" --no-pacing --flow 20 --eps 0
}
# (Kept now: bash unsets sim_PID once the coprocess has ended.)
sim_pid=$sim_PID
read -r -t 10 device <&"${sim[0]}" || fail "zarvik-sim printed no device"
out=$(run PYTHONPATH="$root/usr/lib/python3/dist-packages" PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 \
    "$root/usr/share/doc/python3-zarvik/examples/delivery.py" "$device" 2>&1)
code=$?
kill "$sim_pid" 2>/dev/null
wait "$sim_pid" 2>/dev/null
((code == 0)) && grep -qF "delivered 1.500 L for 75.00" <<<"$out" || fail "the Python example: exit $code: $out"
echo "python example: $out"

# The installed service takes its example station file (its token file
# and device here the test's own).
tokens=$work/tokens
printf 'read 0123456789abcdef0123\n' >"$tokens" && chmod 0600 "$tokens" || fail "token file"
sed "s|/etc/zarvik/tokens|$tokens|" "$root/usr/share/doc/zarvikd/examples/station.json" >"$work/station.json"
out=$(run "$root/usr/sbin/zarvikd" --check-config --station "$work/station.json" 2>&1) ||
    fail "zarvikd --check-config on the example: $out"
grep -qF "configuration OK: 1 lines, 2 dispensers" <<<"$out" || fail "zarvikd --check-config: $out"
echo "zarvikd: $out"

# With the package lists present, apt resolves every dependency (a
# simulation: nothing is installed).
policy=$(apt-cache policy libqt6widgets6 2>/dev/null)
if grep -q 'Candidate: [0-9]' <<<"$policy"; then
    out=$(apt-get install -s "${files[@]}" 2>&1) || fail "apt-get install -s: $out"
    grep -q "^Inst zarvik-tools" <<<"$out" || fail "apt-get install -s: $out"
    echo "apt-get install -s: resolved"
else
    echo "apt-get install -s: skipped, no package lists"
fi
echo "package test: ok"
