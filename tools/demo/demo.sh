#!/usr/bin/env bash
# Runs the whole Ostrix system on the simulated board.
#   demo.sh demo   scripted session; results under demo-out/
#   demo.sh run    interactive: runs until Ctrl-C; system root under run-out/
# The programs are installed into the simulated home folder and run from there, as on
# the real board.
set -uo pipefail

mode="${1:-demo}"
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
bin="$top/build/bin"
case "$mode" in
    demo) out="$top/demo-out" ;;
    run) out="$top/run-out" ;;
    *) echo "usage: demo.sh demo|run" >&2; exit 2 ;;
esac
root="$out/root"
home="$root/home/pi/Ostrix"
sim="$bin/ostrix-sim"
pids=()

say() { printf '\033[38;5;33m== %s\033[0m\n' "$*"; }

# Waits until FILE contains TEXT, at most SECS seconds.
wait_for() {
    local file="$1" text="$2" secs="$3" i
    for ((i = 0; i < secs * 10; i++)); do
        grep -qF -- "$text" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# Waits until FILE contains TEXT at least COUNT times, at most SECS seconds.
wait_for_count() {
    local file="$1" text="$2" count="$3" secs="$4" i
    for ((i = 0; i < secs * 10; i++)); do
        (($(grep -cF -- "$text" "$file" 2>/dev/null || true) >= count)) && return 0
        sleep 0.1
    done
    return 1
}

stop_all() {
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    pids=()
}
trap stop_all EXIT
trap 'echo; say "stopping"; exit 0' INT TERM

install_root() {
    rm -rf "$out"
    mkdir -p "$out"
    "$sim" init-root "$root" || exit 1
    cp -a "$bin"/. "$home"/
    [ -d "$top/resources" ] && cp -a "$top/resources" "$home/resources"
    [ -f "$top/resources/ostrix.cfg" ] && cp "$top/resources/ostrix.cfg" "$home/ostrix.cfg"
    # The camera's colour-correction profiles are read from the working folder.
    for cc in "$top"/resources/*.cc; do [ -f "$cc" ] && cp "$cc" "$home/"; done
    # The GUI restores factory defaults from its working folder.
    [ -f "$top/resources/QLM_FACTORY.settings" ] && cp "$top/resources/QLM_FACTORY.settings" "$home/"
    # Generated data (warp tables, ...) for the board, when the generator exists.
    [ -x "$bin/warpgen" ] && "$bin/warpgen" --demo "$home/warp" >/dev/null 2>&1
    export OSTRIX_PLATFORM=sim OSTRIX_SYSROOT="$root"
}

start_controller() {
    (cd "$home" && exec ./OstrixPi "$@") >"$out/OstrixPi.console" 2>&1 &
    pids+=($!)
    say "OstrixPi started (pid $!), console in $out/OstrixPi.console"
}

start_gui() {
    [ -x "$home/Ostrix_Gui" ] || return 1
    local platform="${QT_QPA_PLATFORM:-}"
    [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && platform=offscreen
    (cd "$home" && QT_QPA_PLATFORM="$platform" exec ./Ostrix_Gui) >"$out/Ostrix_Gui.console" 2>&1 &
    pids+=($!)
    say "Ostrix_Gui started (pid $!, ${platform:-on the display}), console in $out/Ostrix_Gui.console"
}

controller_log() { ls -1 "$home"/log/QLM_logfile_*.log 2>/dev/null | tail -n 1; }

[ -x "$bin/OstrixPi" ] || { echo "demo: build/bin/OstrixPi is missing; run ./ostrix build" >&2; exit 1; }
install_root
say "system root $root"
start_gui
start_controller

if ! wait_for "$out/OstrixPi.console" "Entering endless loop" 60; then
    say "OstrixPi did not reach its main loop; see $out/OstrixPi.console"
    tail -n 30 "$out/OstrixPi.console"
    exit 1
fi
say "OstrixPi is in its main loop"

if [ "$mode" = run ]; then
    say "running; drive the board with: OSTRIX_SYSROOT=$root $sim help   (Ctrl-C stops)"
    tail -f "$out/OstrixPi.console" &
    pids+=($!)
    while kill -0 "${pids[0]}" 2>/dev/null; do sleep 1; done
    exit 0
fi

# The scripted session.
if [ -x "$home/Ostrix_Gui" ]; then
    if wait_for "$out/OstrixPi.console" "MAIN: GUI settings collected" 30; then
        say "the controller collected every setting from the GUI"
    else
        say "the settings collection did not finish"
    fi
fi
# Hot-plug of the camera board: the controller notices the link going and coming back and
# gives the board every setting again once it has booted (15 s, as the real board needs).
log="$(controller_log)"
if [ -n "$log" ] && "$sim" camera unplug >/dev/null 2>&1; then
    if wait_for "$log" "CB: Camera Board removed" 10; then
        say "camera board unplugged: the controller noticed"
        "$sim" camera plug >/dev/null
        if wait_for "$log" "CB:Camera Board new connection" 10; then
            say "camera board plugged in again; the controller waits for it to boot, then re-sends its settings"
            wait_for_count "$log" "CB: Camera Board Software v" 2 40 && say "camera board set up again"
        fi
    fi
fi
"$sim" temp 52500 && say "core temperature set to 52.5 C"
"$sim" status >"$out/board-status.json" && say "board state in $out/board-status.json"
sleep 1
if "$sim" gui-snapshot "$out/gui.png" 2>/dev/null; then
    say "GUI picture in $out/gui.png"
fi
stop_all
log="$(controller_log)"
say "controller log: $log"
[ -n "$log" ] && tail -n 15 "$log"
grep -q "Application terminated" "$out/OstrixPi.console" && say "OstrixPi stopped cleanly"
say "results in $out"
