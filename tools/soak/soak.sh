#!/usr/bin/env bash
# Runs the whole Ostrix system on the simulated board and watches what it holds.
#   soak.sh [MINUTES [SEED]]  both programs under a seeded random stream of user and board
#                          events for MINUTES (default 30); fails on a crash, a hang, a
#                          descriptor or thread not given back, memory or log growth
#   soak.sh memory         five captures and five stored-picture displays; fails when the
#                          controller's private memory grows by 8 MB or more over them
# OSTRIX_SOAK_BIN names the programs' folder (default build/bin), OSTRIX_SOAK_OUT the
# folder of the run (default soak-out/). OSTRIX_SOAK_CHECK_MEMORY=0 leaves out the memory
# limits (a sanitizer build holds freed memory back on purpose).
set -uo pipefail

mode=random
if [ "${1:-}" = memory ]; then
    mode=memory
    shift
fi
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
bin="${OSTRIX_SOAK_BIN:-$top/build/bin}"
out="${OSTRIX_SOAK_OUT:-$top/soak-out}"
root="$out/root"
home="$root/home/pi/Ostrix"
sim="$bin/ostrix-sim"
pids=()
controller_pid=""
gui_pid=""

readonly kMemoryLimitKb=$((8 * 1024))
readonly kCaptures=5

say() { printf '== %s\n' "$*"; }
failures=0
fail() {
    printf '== FAILED: %s\n' "$*"
    failures=$((failures + 1))
}

# shellcheck source=../lib/system-run.sh
source "$top/tools/lib/system-run.sh"
trap stop_all EXIT

install_root() {
    rm -rf "$out"
    mkdir -p "$out" "$out/usb-stick"
    "$sim" init-root "$root" >/dev/null || exit 1
    cp -a "$bin"/. "$home"/
    cp -a "$top/resources" "$home/resources"
    cp "$top/resources/ostrix.cfg" "$home/ostrix.cfg"
    for f in "$top"/resources/*.cc "$top/resources/Si5351A-Registers.txt" "$top/resources/QLM_FACTORY.settings"; do
        [ -f "$f" ] && cp "$f" "$home/"
    done
    export OSTRIX_PLATFORM=sim OSTRIX_SYSROOT="$root"
}

start_programs() {
    (cd "$home" && QT_QPA_PLATFORM=offscreen exec ./Ostrix_Gui) >"$out/Ostrix_Gui.console" 2>&1 &
    gui_pid=$!
    pids+=("$gui_pid")
    (cd "$home" && exec ./OstrixPi) >"$out/OstrixPi.console" 2>&1 &
    controller_pid=$!
    pids+=("$controller_pid")
    if ! wait_for_count "$out/OstrixPi.console" "Entering endless loop" 1 90; then
        fail "OstrixPi did not reach its main loop (see $out/OstrixPi.console)"
        exit 1
    fi
    log="$(ls -1 "$home"/log/QLM_logfile_*.log 2>/dev/null | tail -n 1)"
}

capture() {
    local n
    n="$(count_in "$log" "MAIN: Total Image Capture time")"
    "$sim" mouse left >/dev/null && wait_for_count "$log" "MAIN: Total Image Capture time" $((n + 1)) 60
}
display_stored() {
    local n
    n="$(count_in "$log" "F: Frame Store write took")"
    printf 'display 1\n' >"$home/command"
    wait_for_count "$log" "F: Frame Store write took" $((n + 1)) 60 || return 1
    printf 'display 0\n' >"$home/command"
    sleep 1
}

memory_run() {
    install_root
    start_programs
    "$sim" usb insert "$out/usb-stick" >/dev/null
    "$sim" mouse plug >/dev/null
    wait_for_count "$log" "MSE: Mouse Connected" 1 10 || fail "the mouse was not seen"
    # A click during the start-up's settings collection is taken but captures nothing.
    wait_for_count "$log" "MAIN: GUI settings collected" 1 60 || fail "the controller did not collect the GUI's settings"
    capture || fail "the first capture did not happen" # the first one sets up what stays
    display_stored || fail "the first stored-picture display did not happen"
    local start end i
    start="$(private_kb "$controller_pid")"
    for ((i = 0; i < kCaptures; i++)); do capture || fail "capture $((i + 2)) did not happen"; done
    local after_captures
    after_captures="$(private_kb "$controller_pid")"
    for ((i = 0; i < kCaptures; i++)); do display_stored || fail "display $((i + 2)) did not happen"; done
    end="$(private_kb "$controller_pid")"
    say "controller private memory: ${start} kB, after $kCaptures captures ${after_captures} kB, after $kCaptures displays ${end} kB (grew $((end - start)) kB)"
    ((end - start < kMemoryLimitKb)) || fail "the controller's private memory grew by $((end - start)) kB (limit $kMemoryLimitKb kB)"
}

usage() { echo "usage: soak.sh [MINUTES [SEED]] | soak.sh memory" >&2; exit 2; }
case "$mode" in
    memory) memory_run ;;
    random)
        minutes="${1:-30}"
        seed="${2:-$((RANDOM * 32768 + RANDOM))}"
        [[ "$minutes" =~ ^[0-9]+$ && "$seed" =~ ^[0-9]+$ ]] || usage
        # shellcheck source=random-events.sh
        source "$top/tools/soak/random-events.sh"
        random_run "$minutes" "$seed"
        ;;
esac
stop_all
if ((failures > 0)); then
    fail "$failures check(s) of the soak failed; results in $out"
    exit 1
fi
say "soak passed; results in $out"
