#!/usr/bin/env bash
# The built man pages render without a groff warning (read as lintian reads
# them); zarvik-host's page has a section for every command its --help
# lists, naming each of the command's options, and an entry for every
# environment variable the programs read; the station file's page an entry
# for every key the reader knows.
# Usage: ManPagesTest.sh HOST SOURCE_DIR HOST_PAGE SIM_PAGE STATION_PAGE [PAGE...]
# (the pages after the third are checked for groff warnings only)
set -uo pipefail
host=$1 source=$2
shift 2
fail() {
    echo "FAIL: $*"
    exit 1
}
for page in "$@"; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$page: $warnings"
done
page=$(zcat "$1") || fail "zcat $1"
commands=$("$host" --help | awk '/^Subcommands:$/ { on = 1; next } on && /^  [^ ]/ { print $1 } on && /^$/ { exit }')
[[ -n $commands ]] || fail "no commands in zarvik-host --help"
for command in $commands; do
    # The command's section: from its .SS to the next section.
    section=$(awk -v c=".SS $command" '$0 == c { on = 1; next } on && /^\.S[SH] / { exit } on' <<<"$page")
    [[ -n $section ]] || fail "the page has no section for $command"
    for option in $("$host" "$command" --help | grep -oE -- '--[a-z][-a-z0-9]*' | grep -vx -- --help | sort -u); do
        grep -qF -- "${option//-/\\-}" <<<"$section" || fail "the page's $command lacks $option"
    done
done
environment=$(awk '/^\.SH ENVIRONMENT/ { on = 1; next } on && /^\.SH / { exit } on' <<<"$page")
for variable in $(grep -rhoE 'getenv\("[A-Z_]+"\)' "$source/apps" "$source/host" "$source/lib" | sed 's/.*("\(.*\)")/\1/' | sort -u); do
    grep -qF ".B $variable" <<<"$environment" || fail "ENVIRONMENT lacks $variable"
done
station=$(zcat "$3") || fail "zcat $3"
keys=$(tr '\n' ' ' <"$source/host/station/StationFile.cpp" | grep -oE 'Object\([^{]*\{[^}]*\}' | grep -oE '"[A-Za-z]+"' |
    tr -d '"' | sort -u)
[[ -n $keys ]] || fail "no keys read from StationFile.cpp"
for key in $keys; do
    grep -qE "^\.BR ([^ ]*[].])?$key[ .]" <<<"$station" || fail "zarvik-station(5) lacks the key $key"
done
echo "man pages: ok"
