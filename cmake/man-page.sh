#!/usr/bin/env bash
# Writes a program's man page from a hand-written roff template and the
# program's own --help, so the options and commands cannot drift from what
# the program takes. In the template, a line "@OPTIONS@" becomes the
# program's options, "@COMMANDS@" each subcommand (its summary, usage,
# arguments, options and notes, from `PROGRAM SUBCOMMAND --help`) and
# @VERSION@ the version.
# Usage: man-page.sh PROGRAM NAME VERSION TEMPLATE OUTPUT
set -euo pipefail
program=$1 name=$2 version=$3 template=$4 output=$5

# Roff of CLI11's help blocks (Positionals:, Options:) and of the text after
# them, up to the generic exit code table (the page has its own).
to_roff() {
    awk -v name="$name" '
    function esc(s) {
        gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s)
        if (s ~ /^[.'"'"']/) s = "\\&" s
        return s
    }
    # "-p,--port TEXT Excludes: --station": the names in bold, the rest as is.
    function term(s,   first, rest, n, names, i, out) {
        first = s; rest = ""
        if (index(s, " ") > 0) { first = substr(s, 1, index(s, " ") - 1); rest = substr(s, index(s, " ")) }
        n = split(first, names, ",")
        out = ""
        for (i = 1; i <= n; i++) out = out (i > 1 ? ", " : "") "\\fB" esc(names[i]) "\\fR"
        return out esc(rest)
    }
    function flush() { if (desc != "") print esc(desc); desc = "" }
    # Read to the end rather than exit: a writer still writing into a closed
    # pipe would fail the page (SIGPIPE under pipefail) once the help is long.
    done { next }
    /^(Positionals|Options):$/ { flush(); block = 1; next }
    /^(Exit codes|Subcommands):$/ { flush(); done = 1; next }
    /^$/ { flush(); block = 0; next }
    block && /^  [^ ]/ {
        flush()
        line = substr($0, 3)
        split_at = match(line, /  +/)
        left = split_at ? substr(line, 1, split_at - 1) : line
        desc = split_at ? substr(line, split_at + RLENGTH) : ""
        skip = (left ~ /^-h,--help/)
        if (!skip) { print ".TP"; print term(left) }
        else desc = ""
        next
    }
    block && /^ +/ { if (!skip) { sub(/^ +/, ""); desc = desc (desc == "" ? "" : " ") $0 }; next }
    # The notes after the options: a paragraph each.
    { flush(); print ".PP"; print esc($0) }
    END { flush() }
    '
}

options() { "$program" --help | tail -n +3 | to_roff; }

commands() {
    local list
    list=$("$program" --help | awk '/^Subcommands:$/ { on = 1; next } on && /^  [^ ]/ { print $1 } on && /^$/ { on = 0 }')
    for command in $list; do
        help=$("$program" "$command" --help)
        echo ".SS $command"
        head -n 1 <<<"$help" | sed 's/\\/\\e/g; s/-/\\-/g'
        usage=$(sed -n '2s/^Usage: [^ ]*//p' <<<"$help" | sed 's/-/\\-/g')
        echo ".PP"
        echo "\\fB$name\\fR [\\fIglobal options\\fR]$usage"
        tail -n +3 <<<"$help" | to_roff
    done
}

{
    while IFS= read -r line; do
        case $line in
            @OPTIONS@) options ;;
            @COMMANDS@) commands ;;
            *) echo "${line//@VERSION@/$version}" ;;
        esac
    done <"$template"
} >"$output.tmp"
mv "$output.tmp" "$output"
