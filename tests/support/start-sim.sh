# Sourced by the test scripts that run a program against zarvik-sim:
#   start_sim WORK SIM [ARGS...]
# starts SIM in the background, stops it when the script exits, and sets pty
# to the pseudo-terminal it prints first (fails the script after 10 s
# without one). Needs the script's own fail().
start_sim() {
    local work=$1 program=$2
    shift 2
    "$program" "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null' EXIT
    pty=
    for _ in $(seq 100); do
        pty=$(head -n 1 "$work/sim.out")
        [[ -n $pty ]] && return 0
        sleep 0.1
    done
    fail "zarvik-sim printed no pseudo-terminal: $(cat "$work/sim.err")"
}
