#!/usr/bin/env bash
# The board's programs of another architecture (run under user-mode emulation) and the PC's
# own ostrix-sim on one simulated board: both map the same state files, so what one writes
# the other must read the same. Run by `./ostrix cross-test`.
#   cross_arch_board.sh WORKDIR
#   OSTRIX_CROSS_BIN  launchers of the cross-built programs (OstrixPi, ostrix-sim)
#   OSTRIX_HOST_SIM   the PC's ostrix-sim
set -uo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="${1:?usage: cross_arch_board.sh WORKDIR}"
cross="${OSTRIX_CROSS_BIN:?}"
host_sim="${OSTRIX_HOST_SIM:?}"
root="$work/root"
home="$root/home/pi/Ostrix"
# Bounds for an emulated program: waits end early when the awaited line appears.
start_secs=240
react_secs=60
stop_secs=20

failures=0
check() { # description, command...
    local what="$1"
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# The PC's view, straight from the shared state even while the controller serves the socket.
host() { "$host_sim" --root "$root" --direct "$@"; }
# The other architecture's view: its own ostrix-sim, also on the shared state.
cross_view() { OSTRIX_SYSROOT="$root" "$cross/ostrix-sim" --direct "$@"; }

wait_for() { # file, text, seconds
    local i
    for ((i = 0; i < $3 * 10; i++)); do
        grep -qF -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# The pins of the JSON status: every pin's mode and level.
pins_of() { grep -o '"pins":\[[^]]*\]'; }

rm -rf "$work"
mkdir -p "$work"
# The PC lays out the board, so its program creates every state file.
"$host_sim" init-root "$root" || exit 1
cp "$top/resources/ostrix.cfg" "$top/resources/Si5351A-Registers.txt" "$top/resources/QLM_FACTORY.settings" "$home/"
cp "$top"/resources/*.cc "$home/"
cp -a "$top/resources" "$home/resources"

# PC -> other architecture, no program running: a front-panel button held.
host button BTN2 press >/dev/null
check "a button the PC presses is held for the other architecture" \
    sh -c "'$cross/ostrix-sim' --root '$root' --direct status | grep -q '\"pressed\":\[\"BTN2\"\]'"
host button BTN2 release >/dev/null
check "and released" sh -c "OSTRIX_SYSROOT='$root' '$cross/ostrix-sim' --direct status | grep -q '\"pressed\":\[\]'"

# The emulated controller brings the board up; the PC reads what it did.
(cd "$home" && OSTRIX_PLATFORM=sim OSTRIX_SYSROOT="$root" exec "$cross/OstrixPi") >"$work/OstrixPi.console" 2>&1 &
controller=$!
if ! wait_for "$work/OstrixPi.console" "Entering endless loop" $start_secs; then
    echo "FAILED: the controller did not reach its main loop"
    tail -n 20 "$work/OstrixPi.console"
    kill -KILL $controller 2>/dev/null
    exit 1
fi
check "the PC sees the rails the controller switched on" sh -c "'$host_sim' --root '$root' --direct power | grep -q '\"state\":\"operating\"'"
# The controller keeps driving lines from its loop, so two reads may straddle a change: a
# layout that differs between the architectures never agrees, a change in between soon does.
same_pins() {
    local pc_pins cross_pins attempt
    for ((attempt = 0; attempt < 10; attempt++)); do
        pc_pins="$(host status | pins_of)"
        cross_pins="$(cross_view status | pins_of)"
        [ -n "$pc_pins" ] && [ "$pc_pins" = "$cross_pins" ] && return 0
    done
    return 1
}
check "both architectures read the same pins" same_pins

# PC -> controller: the camera board unplugged in the shared state, noticed by the controller.
log="$(ls -1 "$home"/log/QLM_logfile_*.log 2>/dev/null | tail -n 1)"
host camera unplug >/dev/null
check "the controller notices the camera board the PC unplugged" wait_for "$log" "CB: Camera Board removed" $react_secs
host camera plug >/dev/null

# A termination signal ends the emulated controller.
kill -TERM $controller
for ((i = 0; i < stop_secs * 10; i++)); do
    kill -0 $controller 2>/dev/null || break
    sleep 0.1
done
if kill -0 $controller 2>/dev/null; then
    echo "FAILED: the controller ignored SIGTERM"
    kill -KILL $controller
    failures=$((failures + 1))
else
    wait $controller
    check "the controller ended on SIGTERM with status 0" test $? -eq 0
fi

((failures == 0)) && echo "cross-architecture board: passed" || echo "cross-architecture board: $failures failed"
exit $((failures > 0))
