#!/usr/bin/env bash
# The bash completion of zarvik-host against the built tool: each case is the
# command line typed so far (the last word is being completed) and the words
# the completion must offer, or must not offer when marked with "!".
set -uo pipefail
host=$1
source "$2"

failures=0
expect() {
    local line=$1
    shift
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_WORDS[0]=$host
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _zarvik_host
    local offered=" ${COMPREPLY[*]} " want
    for want in "$@"; do
        if [[ $want == !* ]]; then
            [[ $offered == *" ${want#!} "* ]] && { echo "FAIL '$line': offers ${want#!}:$offered"; ((++failures)); }
        else
            [[ $offered == *" $want "* ]] || { echo "FAIL '$line': lacks $want:$offered"; ((++failures)); }
        fi
    done
    echo "'$line' ->$offered"
}

expect "zarvik-host st" start status stats stop '!demo'
expect "zarvik-host " demo gui info ports params-restore
expect "zarvik-host --" --port --line --trace --library --help '!--dispenser'
expect "zarvik-host --port /dev/null st" start status stats stop
# An option's value is never taken for the subcommand.
expect "zarvik-host --port demo st" start status stats stop
expect "zarvik-host -p /dev/null --line 2 d" demo dose-litres dose-money
expect "zarvik-host status --d" --dispenser '!--address'
expect "zarvik-host status --dispenser 1 --n" --nozzles
expect "zarvik-host status --" --nozzles --dispenser --port --trace
expect "zarvik-host gui --scr" --screenshot
expect "zarvik-host gui --open-" --open-params --open-calibration
expect "zarvik-host param-read --c" --code
expect "zarvik-host --library $(dirname "$2")/zarvik-host.bash" "$(dirname "$2")/zarvik-host.bash-completion"
expect "zarvik-host status --dispenser " '!--nozzles' '!status'
expect "zarvik-host --s" --service --station '!--token-file'
expect "zarvik-host --service " http://127.0.0.1:8710 unix:/run/zarvikd/api.sock
expect "zarvik-host --service unix:/run/zarvikd/api.sock --token-file $(dirname "$2")/zarvik-host.bash" \
    "$(dirname "$2")/zarvik-host.bash-completion"
exit $((failures > 0))
