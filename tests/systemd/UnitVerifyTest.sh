#!/usr/bin/env bash
# systemd-analyze verify on zarvikd.service: a copy whose programs are the
# built zarvikd (verify wants every ExecStart's program present and
# executable) and whose man pages are the built ones (verify runs man on
# each Documentation= page). The unit must keep the settings the service
# relies on.
# Usage: UnitVerifyTest.sh UNIT ZARVIKD WORK_DIR ZARVIKD_PAGE STATION_PAGE
set -uo pipefail
unit=$1 zarvikd=$2 work=$3 zarvikd_page=$4 station_page=$5
fail() {
    echo "FAIL: $*"
    exit 1
}
rm -rf "$work" && mkdir -p "$work/man/man8" "$work/man/man5" || fail "no work folder $work"
cp "$zarvikd_page" "$work/man/man8/" && cp "$station_page" "$work/man/man5/" || fail "man pages"
grep -q '^ExecStart=/usr/sbin/zarvikd ' "$unit" || fail "ExecStart is not /usr/sbin/zarvikd"
sed "s|/usr/sbin/zarvikd|$zarvikd|g" "$unit" >"$work/zarvikd.service"
for setting in Type=notify NotifyAccess=main 'WatchdogSec=[0-9]' Restart=on-failure User=zarvikd \
    SupplementaryGroups=dialout ProtectSystem=strict ProtectHome=yes NoNewPrivileges=yes PrivateTmp=yes \
    StateDirectory=zarvikd RuntimeDirectory=zarvikd 'ExecStartPre=.* --check-config'; do
    grep -qE "^$setting" "$unit" || fail "the unit lacks $setting"
done
out=$(MANPATH=$work/man systemd-analyze verify "$work/zarvikd.service" 2>&1)
code=$?
echo "$out"
((code == 0)) && [[ -z $out ]] || fail "systemd-analyze verify: exit $code"
# The check is real: a program that is not there fails it.
sed "s|/usr/sbin/zarvikd|$work/none|g" "$unit" >"$work/zarvikd.service"
MANPATH=$work/man systemd-analyze verify "$work/zarvikd.service" >/dev/null 2>&1 && fail "verify took a missing program"
echo "unit verifies: ok"
