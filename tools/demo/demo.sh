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

# A step the demo announces that did not happen: said in red and counted, so the demo
# ends with a failure status instead of looking like a success.
failures=0
fail() {
    printf '\033[38;5;196m== FAILED: %s\033[0m\n' "$*"
    failures=$((failures + 1))
}

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
    [ -f "$top/resources/Si5351A-Registers.txt" ] && cp "$top/resources/Si5351A-Registers.txt" "$home/"
    # The GUI restores factory defaults from its working folder.
    [ -f "$top/resources/QLM_FACTORY.settings" ] && cp "$top/resources/QLM_FACTORY.settings" "$home/"
    install_warp_tables
    export OSTRIX_PLATFORM=sim OSTRIX_SYSROOT="$root"
}

# Warp tables for the display FPGA: the base tables as plain files and every rotation in
# the archive, named in the configuration. The right eye starts rotated by 0.4 degrees,
# so its tables come out of the archive. Short tables (full line width) keep it quick.
warp_lines=64
install_warp_tables() {
    [ -x "$bin/warpgen" ] || { fail "build/bin/warpgen is missing: no warp tables"; return; }
    mkdir -p "$home/warp"
    if ! "$bin/warpgen" --height "$warp_lines" --zip-only "$home/warp" >"$out/warpgen.out" 2>&1; then
        fail "warpgen could not write the warp tables (see $out/warpgen.out)"
        return
    fi
    local cfg="$home/ostrix.cfg"
    [ -f "$cfg" ] || printf '[WARP]\nwarpfolder = ./warp/\n' >"$cfg"
    sed -i -e 's|^leftpixelfile *=.*|leftpixelfile = warppixel.txt|' \
        -e 's|^rightpixelfile *=.*|rightpixelfile = warppixel.txt|' \
        -e 's|^leftlinefile *=.*|leftlinefile = warpline.txt|' \
        -e 's|^rightlinefile *=.*|rightlinefile = warpline.txt|' \
        -e 's|^zipfile *=.*|zipfile = warp.zip|' "$cfg"
    if ! grep -q '^zipfile = warp.zip' "$cfg"; then
        fail "the configuration has no [WARP] keys to name the tables in"
        return
    fi
    cat >"$home/qlm-align.cfg" <<'ALIGN'
[WARP]
WarpPixelSourceOffsetLeft = 0
WarpPixelSourceOffsetRight = 0
WarpLineSourceOffsetLeft = 0
WarpLineSourceOffsetRight = 0
WarpRotationLeft = 0
WarpRotationRight = 0.4
separation = 0
ALIGN
    say "warp tables ($warp_lines lines) and their rotation archive in $home/warp"
}

# Counts the lines of FILE that contain TEXT.
count_in() { grep -cF -- "$2" "$1" 2>/dev/null || true; }

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

# What both eyepiece panels show at a step of the session, left and right side by side:
# demo-out/eyepiece-STEP.png.
save_eyepieces() {
    local step="$1" file="$out/eyepiece-$1.png"
    if "$sim" snapshot both "$file" 2>"$out/eyepiece-$step.err"; then
        rm -f "$out/eyepiece-$step.err"
        say "eyepiece pictures ($step) in $file"
    else
        fail "no eyepiece pictures at step '$step' (see $out/eyepiece-$step.err)"
    fi
}

[ -x "$bin/OstrixPi" ] || { echo "demo: build/bin/OstrixPi is missing; run ./ostrix build" >&2; exit 1; }
install_root
say "system root $root"
start_gui
start_controller

if ! wait_for "$out/OstrixPi.console" "Entering endless loop" 60; then
    fail "OstrixPi did not reach its main loop; see $out/OstrixPi.console"
    tail -n 30 "$out/OstrixPi.console"
    exit 1
fi
say "OstrixPi is in its main loop"
log="$(controller_log)"
# Start-up loads the left tables from the plain files and the right ones, rotated, from
# the archive.
if grep -qF "F: new rotation files 'warpline.txt' and  'warppixel.txt'" "$log" 2>/dev/null &&
    grep -qF "F: warp complete" "$log" 2>/dev/null; then
    say "warp tables loaded: left from the table files, right (0.4 degrees) from warp.zip"
else
    fail "the warp tables were not loaded at start-up (see $log)"
fi

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
        fail "the settings collection did not finish"
    fi
fi
save_eyepieces startup
# Hot-plug of the camera board: the controller notices the link going and coming back and
# gives the board every setting again once it has booted (15 s, as the real board needs).
log="$(controller_log)"
if [ -z "$log" ]; then
    fail "the controller wrote no log"
elif ! "$sim" camera unplug >/dev/null 2>&1; then
    fail "ostrix-sim could not unplug the camera board"
elif ! wait_for "$log" "CB: Camera Board removed" 10; then
    fail "the controller did not notice the camera board going"
else
    say "camera board unplugged: the controller noticed"
    "$sim" camera plug >/dev/null
    if ! wait_for "$log" "CB:Camera Board new connection" 10; then
        fail "the controller did not notice the camera board coming back"
    else
        say "camera board plugged in again; the controller waits for it to boot, then re-sends its settings"
        if wait_for_count "$log" "CB: Camera Board Software v" 2 40; then
            say "camera board set up again"
        else
            fail "the camera board was not set up again"
        fi
    fi
fi
# The operator at the front panel: SELECT opens the menu, DOWN and UP move through it,
# SELECT again acts on the item; each press reaches the GUI as a key.
press() {
    "$sim" button "$1" press >/dev/null && sleep 0.15 && "$sim" button "$1" release >/dev/null && sleep 0.35
}
log="$(controller_log)"
if [ -n "$log" ]; then
    for b in BTN1 BTN3 BTN3 BTN2 BTN1; do press "$b"; done
    if wait_for_count "$log" "UC: sent msg from Buttons to GUI" 5 10; then
        say "five front-panel presses went to the GUI as keys (SELECT, DOWN, DOWN, UP, SELECT)"
    else
        fail "the front-panel presses did not reach the GUI"
    fi
    "$sim" gui-snapshot "$out/gui-menu.png" 2>/dev/null && say "GUI picture with the menu in $out/gui-menu.png"
    save_eyepieces menu
    press BTN1
    # The USB keypad: plugged in, the gain-up key typed, unplugged again.
    if "$sim" keypad plug >/dev/null && wait_for "$log" "UC: Keypad/Kbd Connected" 10; then
        say "keypad plugged in"
    else
        fail "the controller did not see the keypad"
    fi
    if "$sim" key KEY_T >/dev/null && wait_for "$log" "UC: sent msg from Keypad/kbd to GUI 0100002a" 10; then
        say "keypad gain-up key sent to the GUI"
    else
        fail "the keypad's gain-up key did not reach the GUI"
    fi
    if "$sim" keypad unplug >/dev/null && wait_for "$log" "UC: Keypad/Kbd Disconnected" 10; then
        say "keypad unplugged"
    else
        fail "the controller did not see the keypad go"
    fi
fi
if "$sim" temp 52500; then say "core temperature set to 52.5 C"; else fail "ostrix-sim could not set the core temperature"; fi
# The overlay store the controller draws its status icons into, keyed by the GUI colour.
if "$sim" framestore save --overlay left "$out/overlay-left.png"; then
    say "overlay store of the left eye in $out/overlay-left.png"
else
    fail "ostrix-sim could not save the overlay store"
fi
if "$sim" status >"$out/board-status.json"; then
    say "board state in $out/board-status.json"
else
    fail "ostrix-sim could not read the board state"
fi
sleep 1
if [ -x "$home/Ostrix_Gui" ]; then
    if "$sim" gui-snapshot "$out/gui.png" 2>/dev/null; then
        say "GUI picture in $out/gui.png"
    else
        fail "no GUI picture"
    fi
fi
save_eyepieces end
stop_all
log="$(controller_log)"
say "controller log: $log"
[ -n "$log" ] && tail -n 15 "$log"
if grep -q "Application terminated" "$out/OstrixPi.console"; then
    say "OstrixPi stopped cleanly"
else
    fail "OstrixPi did not stop cleanly"
fi

# The board keeps its FPGA memory across programs: a second run checks the left tables
# the first one loaded against the files, and stops after the FPGA.
before="$(count_in "$log" "F: Verify SUCCESS")"
(cd "$home" && exec ./OstrixPi -vwl) >"$out/OstrixPi-verify.console" 2>&1
status=$?
after="$(count_in "$log" "F: Verify SUCCESS")"
if [ "$status" -eq 0 ] && [ $((after - before)) -eq 2 ]; then
    say "OstrixPi -vwl: F: Verify SUCCESS for the left pixel and line tables"
else
    fail "the loaded warp tables did not verify (exit $status; see $out/OstrixPi-verify.console)"
fi

say "results in $out"
if ((failures > 0)); then
    fail "$failures step(s) of the demo did not happen"
    exit 1
fi
