# shellcheck shell=bash
# Shell helpers for the scripts that run the whole system on the simulated board: waiting
# on the programs' logs, stopping them, and what a running program holds. Sourced; the
# caller keeps the pids of the programs it started in the array `pids`.

# Waits until FILE contains TEXT at least COUNT times, at most SECS seconds.
wait_for_count() {
    local file="$1" text="$2" count="$3" secs="$4" i
    for ((i = 0; i < secs * 10; i++)); do
        (($(grep -cF -- "$text" "$file" 2>/dev/null || true) >= count)) && return 0
        sleep 0.1
    done
    return 1
}
count_in() { grep -cF -- "$2" "$1" 2>/dev/null || true; }

# SIGTERM to every program, SIGKILL to those that do not end within `stop_wait_secs`
# (default 10 s). A program that had to be killed is named in `killed`.
killed=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do
        for _ in $(seq $((${stop_wait_secs:-10} * 10))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        if kill -0 "$pid" 2>/dev/null; then
            killed+=("$pid")
            kill -KILL "$pid" 2>/dev/null
        fi
        wait "$pid" 2>/dev/null
    done
    pids=()
}

# Private memory (clean and dirty) of a process in kB, its open descriptors and threads.
private_kb() { awk '/^Private_/ { sum += $2 } END { print sum + 0 }' "/proc/$1/smaps_rollup" 2>/dev/null; }
descriptors() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }
threads() { awk '/^Threads:/ { print $2 }' "/proc/$1/status" 2>/dev/null; }
