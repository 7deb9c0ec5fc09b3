#!/usr/bin/env bash
# Runs the whole Ostrix system on the simulated board.
#   demo.sh demo   scripted session; results under demo-out/
#   demo.sh run    interactive: runs until Ctrl-C (or until its window is closed); system
#                  root under run-out/. With a display the microscope opens as a window
#                  (ostrix-scope); `run --headless` prints the ostrix-sim commands instead.
# The programs are installed into the simulated home folder and run from there, as on
# the real board.
set -uo pipefail

mode="${1:-demo}"
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# The suite runs the demo on its own build (OSTRIX_DEMO_BIN) into a folder of its own
# (OSTRIX_DEMO_OUT).
bin="${OSTRIX_DEMO_BIN:-$top/build/bin}"
case "$mode" in
    demo) out="${OSTRIX_DEMO_OUT:-$top/demo-out}" ;;
    run) out="$top/run-out" ;;
    *) echo "usage: demo.sh demo|run [--headless]" >&2; exit 2 ;;
esac
# The window needs a display and its program; without them, or asked to, `run` is headless.
window=0
if [ "$mode" = run ] && [ "${2:-}" != --headless ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] &&
    [ -x "$bin/ostrix-scope" ]; then
    window=1
fi
root="$out/root"
home="$root/home/pi/Ostrix"
sim="$bin/ostrix-sim"
pids=()

# Every step said is also a line of the report, demo-out/report.md, which ends with the
# pictures the session saved.
report="$out/report.md"
note() { [ "$mode" = demo ] && [ -d "$out" ] && printf '%s\n' "$@" >>"$report"; return 0; }
say() {
    printf '\033[38;5;33m== %s\033[0m\n' "$*"
    note "- ok: $*"
}

# A step the demo announces that did not happen: said in red and counted, so the demo
# ends with a failure status instead of looking like a success.
failures=0
fail() {
    printf '\033[38;5;196m== FAILED: %s\033[0m\n' "$*"
    note "- **FAILED**: $*"
    failures=$((failures + 1))
}

# The report's closing part: the outcome and every picture of the session.
finish_report() {
    [ "$mode" = demo ] || return 0
    {
        echo
        if ((failures > 0)); then echo "**$failures step(s) did not happen.**"; else echo "**Every step happened.**"; fi
        echo
        echo "## The other pictures, in the order they were taken"
        local png
        for png in $(ls -tr "$out"/*.png 2>/dev/null); do
            case "${png##*/}" in eyepiece-* | gui-*) continue ;; esac
            printf '\n### %s\n\n![%s](%s)\n' "${png##*/}" "${png##*/}" "${png##*/}"
        done
    } >>"$report"
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

# wait_for_count, count_in and stop_all; a program is given 5 s to stop.
# shellcheck source=../lib/system-run.sh
source "$top/tools/lib/system-run.sh"
stop_wait_secs=5
trap stop_all EXIT
trap 'echo; say "stopping"; exit 0' INT TERM

install_root() {
    rm -rf "$out"
    mkdir -p "$out" "$out/checks"
    note "# Ostrix on the simulated board: what the demo did and saw"
    note ""
    "$sim" init-root "$root" || exit 1
    cp -a "$bin"/. "$home"/
    [ -d "$top/resources" ] && cp -a "$top/resources" "$home/resources"
    # The demo waits 3 s, not a minute, for a lost HDMI signal to darken the screens.
    [ -f "$top/resources/ostrix.cfg" ] &&
        sed 's/^signallosstimeout = .*/signallosstimeout = 3/' "$top/resources/ostrix.cfg" >"$home/ostrix.cfg"
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

start_controller() {
    (cd "$home" && exec ./OstrixPi "$@") >"$out/OstrixPi.console" 2>&1 &
    pids+=($!)
    say "OstrixPi started (pid $!), console in $out/OstrixPi.console"
}

start_gui() {
    [ -x "$home/Ostrix_Gui" ] || return 1
    local platform="${QT_QPA_PLATFORM:-}"
    # With the window its picture is seen in the eyepieces, as on the microscope.
    [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && platform=offscreen
    [ "$window" = 1 ] && platform=offscreen
    (cd "$home" && QT_QPA_PLATFORM="$platform" exec ./Ostrix_Gui) >"$out/Ostrix_Gui.console" 2>&1 &
    pids+=($!)
    say "Ostrix_Gui started (pid $!, ${platform:-on the display}), console in $out/Ostrix_Gui.console"
}

controller_log() { ls -1 "$home"/log/QLM_logfile_*.log 2>/dev/null | tail -n 1; }

# The USB keypad plugged in and seen by the controller.
keypad_plug() {
    local connects
    connects="$(count_in "$log" "UC: Keypad/Kbd Connected")"
    "$sim" keypad plug >/dev/null && wait_for_count "$log" "UC: Keypad/Kbd Connected" $((connects + 1)) 10
}

# What both eyepiece panels show at a step of the session, left and right side by side
# (demo-out/eyepiece-STEP.png), and the GUI's own picture then (demo-out/gui-STEP.png).
save_eyepieces() {
    local step="$1" file="$out/eyepiece-$1.png"
    if "$sim" snapshot both "$file" 2>"$out/eyepiece-$step.err"; then
        rm -f "$out/eyepiece-$step.err"
        say "eyepiece pictures ($step) in $file"
        note "" "  ![both eyepieces: $step](eyepiece-$step.png)"
    else
        fail "no eyepiece pictures at step '$step' (see $out/eyepiece-$step.err)"
    fi
    if [ -x "$home/Ostrix_Gui" ]; then
        if "$sim" gui-snapshot "$out/gui-$step.png" >/dev/null 2>&1; then
            note "  ![the GUI: $step](gui-$step.png)" ""
        else
            fail "no GUI picture at step '$step'"
        fi
    fi
}

# Pixel checks work on full-size pictures kept apart from the report's, in demo-out/checks/.
checks="$out/checks"
eyecheck="$bin/eyecheck"
# full_eyepiece left|right NAME: every pixel of one panel, in $checks/NAME.png.
full_eyepiece() { "$sim" snapshot --full "$1" "$checks/$2.png" >/dev/null; }
# The backlight level (0..255) of a panel, as the board's power view reports it.
backlight_of() { "$sim" power | grep -o '"backlights":{[^}]*}' | grep -o "\"$1\":[0-9]*" | cut -d: -f2; }

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

# The microscope as a window on the desktop, with the USB keypad and mouse plugged in for
# the PC's keyboard and mouse; closing it ends the run.
if [ "$window" = 1 ]; then
    "$sim" keypad plug >/dev/null || fail "the USB keypad could not be plugged in"
    "$sim" mouse plug >/dev/null || fail "the USB mouse could not be plugged in"
    "$bin/ostrix-scope" --root "$root" --log "$home/log" --stick "$out/usb-stick" >"$out/ostrix-scope.console" 2>&1 &
    scope_pid=$!
    pids+=("$scope_pid")
    say "the microscope's window is open (pid $scope_pid); closing it or Ctrl-C stops the system"
    while kill -0 "${pids[0]}" 2>/dev/null && kill -0 "$scope_pid" 2>/dev/null; do sleep 1; done
    exit 0
fi
if [ "$mode" = run ]; then
    say "running (Ctrl-C stops); drive the board from another terminal:"
    cat <<EOF
  ./ostrix sim button BTN1 press; ./ostrix sim button BTN1 release   front-panel SELECT: opens the menu
  ./ostrix sim button BTN1+BTN2+BTN3 press; ./ostrix sim button BTN1 release; ./ostrix sim button BTN2+BTN3 release
                                                                     alignment mode (BTN1 alone leaves it)
  ./ostrix sim keypad plug; ./ostrix sim key KEY_J                   a key of the USB keypad
  ./ostrix sim hdmi left off | ./ostrix sim hdmi left 1920x1080@148.5   the left HDMI source
  ./ostrix sim usb insert DIR                                        a USB stick holding folder DIR
  ./ostrix sim snapshot both eyepieces.png                           what the eyepieces show
  echo standby > $home/command                                       the command file (also wakeup, display N)
  ./ostrix sim gui-snapshot gui.png                                  the GUI's picture
  ./ostrix sim status                                                the whole board's state
  ./ostrix sim help                                                  every command
EOF
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
# The simulated HDMI sources are present from power-up: the screens light once the
# receivers' input is classified and the unblank time has passed.
for ((i = 0; i < 100; i++)); do
    "$sim" power | grep -q '"backlights":{"left":0' || break
    sleep 0.1
done
if [ "$(backlight_of left)" -gt 0 ] 2>/dev/null && [ "$(backlight_of right)" -gt 0 ]; then
    say "HDMI sources present: the input classified, the screens lit (backlights $(backlight_of left) and $(backlight_of right) of 255)"
else
    fail "the screens did not light for the HDMI sources present at power-up"
fi
sleep 2
save_eyepieces startup
for eye in left right; do
    if full_eyepiece $eye startup-$eye && ! "$eyecheck" dark "$checks/startup-$eye.png" >/dev/null; then
        say "checked: the $eye eyepiece shows the live picture"
    else
        fail "the $eye eyepiece is dark after start-up"
    fi
done
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
log="$(controller_log)"
if [ -n "$log" ]; then
    # The USB keypad: plugged in, the gain-up key typed, unplugged again.
    if keypad_plug; then
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
# ---- The on-screen menu, walked by keys the controller forwards -----------------------
# The operator opens the menu at the front panel, then walks to Camera -> Camera Gain on
# the USB keypad, edits the bar, raises the gain and leaves the menu. Every key reaches the
# GUI through the controller; the raised gain comes back to the controller and goes to the
# camera board. A snapshot of the GUI after each step is saved as
# demo-out/menu-<n>-<step>.png. A step that does not happen fails the demo. (A front-panel
# button held past a third of a second repeats, so the walk itself is typed on the keypad,
# whose keys the board sends once.)
gui_console="$out/Ostrix_Gui.console"
menu_steps=0
# gui_key HOW CODE: one key (HOW is a command that sends it), seen taken by the GUI.
gui_key() {
    local seen="GUI: ProcessCommand 10000$2:0" before
    before="$(count_in "$gui_console" "$seen")"
    $1 >/dev/null && wait_for_count "$gui_console" "$seen" $((before + 1)) 10
}
# menu_key HOW KEY-CODE-HEX KEY-NAME STEP: one key (HOW is a command that sends it), taken
# by the GUI, then a snapshot.
menu_key() {
    local how="$1" code="$2" name="$3" step="$4" shot
    if ! gui_key "$how" "$code"; then
        fail "menu walk: the GUI did not get the $name key"
        return 1
    fi
    sleep 0.3 # the GUI hands its next frame to the board
    menu_steps=$((menu_steps + 1))
    shot="$out/menu-$menu_steps-$step.png"
    if "$sim" gui-snapshot "$shot" >/dev/null 2>&1; then
        say "menu walk: $name -> $shot"
    else
        fail "menu walk: no GUI snapshot after $name"
        return 1
    fi
}
# Held long enough for the front-panel poll to see it, short of the repeat time.
front_panel_select() { "$sim" button BTN1 press && sleep 0.15 && "$sim" button BTN1 release; }
log="$(controller_log)"
if [ -n "$log" ] && [ -x "$home/Ostrix_Gui" ]; then
    gain_lines="$(count_in "$log" "CB:setGain ")"
    gain_sent="$(count_in "$gui_console" "GUI: Sent message a0000035")"
    keypad_plug || fail "menu walk: the controller did not see the keypad"
    if menu_key front_panel_select 04 SELECT open &&
        menu_key "$sim key KEY_M" 03 DOWN camera &&
        menu_key "$sim key KEY_J" 00 RIGHT camera-gain &&
        menu_key "$sim key KEY_K" 04 SELECT edit-gain &&
        menu_key "$sim key KEY_J" 00 RIGHT gain-raised; then
        if wait_for_count "$gui_console" "GUI: Sent message a0000035" $((gain_sent + 1)) 10 &&
            wait_for_count "$log" "CB:setGain " $((gain_lines + 1)) 10; then
            say "camera gain raised in the menu: $(grep -F "CB:setGain " "$log" | tail -n 1 | sed 's/.*CB:/CB:/')"
            save_eyepieces menu
        else
            fail "the gain raised in the menu did not reach the camera board"
        fi
        menu_key "$sim key KEY_K" 04 SELECT edit-done &&
            menu_key "$sim key KEY_L" 01 LEFT back &&
            menu_key "$sim key KEY_L" 01 LEFT closed
    fi
    "$sim" keypad unplug >/dev/null
fi
# ---- end of the on-screen menu walk --------------------------------------------------

# menu_walk STEP KEY...: opens the menu at the front panel and types KEYs (UP, DOWN, LEFT,
# RIGHT, SELECT) on the keypad, each taken by the GUI before the next; at SHOT the GUI's
# picture is saved as demo-out/menu-STEP.png.
menu_walk() {
    local step="$1" key code name
    shift
    keypad_plug || { fail "$step: the controller did not see the keypad"; return 1; }
    gui_key front_panel_select 04 || { fail "$step: the menu did not open"; return 1; }
    for key in "$@"; do
        case "$key" in
            SHOT) sleep 0.3 && "$sim" gui-snapshot "$out/menu-$step.png" >/dev/null 2>&1 || fail "$step: no GUI picture"
                  continue ;;
            RIGHT) code=00 name=KEY_J ;; LEFT) code=01 name=KEY_L ;; UP) code=02 name=KEY_I ;;
            DOWN) code=03 name=KEY_M ;; SELECT) code=04 name=KEY_K ;;
            *) fail "$step: no menu key $key"; return 1 ;;
        esac
        gui_key "$sim key $name" "$code" || { fail "$step: the GUI did not get the $key key"; return 1; }
    done
    "$sim" keypad unplug >/dev/null
}

# ---- The crosshair, switched on in the menu: Settings -> Crosshairs -> Size -> Short, then
# Colour -> Red, and the menu closed. The FPGA draws it at the centre of both panels, in
# red dimmed by the backlight.
log="$(controller_log)"
if [ -n "$log" ] && [ -x "$home/Ostrix_Gui" ]; then
    colours="$(count_in "$log" "MAIN: Crosshair Colour 0")"
    if menu_walk crosshair DOWN DOWN DOWN DOWN DOWN RIGHT DOWN DOWN RIGHT RIGHT DOWN SELECT \
        LEFT DOWN RIGHT UP SELECT SHOT LEFT LEFT LEFT LEFT &&
        wait_for "$log" "MAIN: Crosshair Size" 10 &&
        wait_for_count "$log" "MAIN: Crosshair Colour 0" $((colours + 1)) 10; then
        say "crosshair switched on in the menu (Settings > Crosshairs: Short, Red)"
        sleep 0.5
        save_eyepieces crosshair
        for eye in left right; do
            level="$(backlight_of $eye)"
            want="$(printf '%02X0000' $((0xF8 * ${level:-0} / 255)))"
            full_eyepiece $eye crosshair-$eye
            got="$("$eyecheck" pixel "$checks/crosshair-$eye.png" 960 540)"
            if [ "$got" = "$want" ] && [ "$want" != 000000 ]; then
                say "checked: the $eye panel's centre pixel is the crosshair's red at backlight $level ($got)"
            else
                fail "the $eye panel's centre pixel is $got, not the crosshair's red $want"
            fi
        done
    else
        fail "the crosshair was not switched on in the menu"
    fi
fi

# ---- Alignment mode from the front panel: SELECT held, UP and DOWN added, SELECT let go.
# On the keypad, 'b' picks the right eye, 'j' shifts it one pixel and 'r' rotates it one
# step; SELECT alone leaves alignment mode, which saves the alignment file.
align_file="$home/qlm-align.cfg"
# Front-panel lock-outs that have ended: the release count reached its last poll.
lockouts_ended() { grep -c 'Buttons released count = 1$' "$log" 2>/dev/null || true; }
align_value() { sed -n "s/^$1 *= *//p" "$align_file" | tr -d '\r'; }
log="$(controller_log)"
if [ -n "$log" ]; then
    rotation_before="$(align_value WarpRotationRight)"
    "$sim" button BTN1+BTN2+BTN3 press >/dev/null && sleep 0.15 &&
        "$sim" button BTN1 release >/dev/null && sleep 0.15 && "$sim" button BTN2+BTN3 release >/dev/null
    if wait_for "$log" "UC: Change into Alignment Mode" 10 && wait_for "$log" "MAIN: Align Mode 1" 10; then
        say "alignment mode entered from the front panel (SELECT held, UP and DOWN added, SELECT let go)"
        save_eyepieces alignment
        keypad_plug || fail "alignment: the controller did not see the keypad"
        # The warp engine moves the picture in its frame store; the panel shows it doubled
        # about the centre while digital zoom is on. The marker at the bottom moves on its
        # own, so the comparison stops above it.
        zoom=1
        "$sim" status | grep -q '"digital_zoom":true' && zoom=2
        full_eyepiece right align-before
        "$sim" framestore save right "$checks/store-before.png" >/dev/null
        "$sim" key KEY_B >/dev/null && "$sim" key KEY_J >/dev/null
        if wait_for "$log" "MAIN: Align Right, Pixel Offset 1" 10; then
            sleep 0.3
            full_eyepiece right align-shifted
            "$sim" framestore save right "$checks/store-shifted.png" >/dev/null
            read -r dx share < <("$eyecheck" shift "$checks/store-before.png" "$checks/store-shifted.png" 4 0 0 1920 1000)
            read -r eye_dx eye_share < <("$eyecheck" shift "$checks/align-before.png" "$checks/align-shifted.png" 4 0 0 1920 1000)
            if [ "${dx#-}" = 1 ] && [ "${eye_dx:-}" = $((dx * zoom)) ]; then
                say "checked: one shift key moved the right eye's picture by one pixel (dx $dx in the frame store, $share matching; $eye_dx panel pixels at zoom x$zoom)"
            else
                fail "one shift key moved the right eye's picture by ${dx:-?} pixel(s) in the store and ${eye_dx:-?} on the panel (zoom x$zoom), not one"
            fi
        else
            fail "the right eye was not shifted"
        fi
        warps="$(count_in "$log" "F: warp complete")"
        "$sim" key KEY_R >/dev/null
        if wait_for_count "$log" "F: warp complete" $((warps + 1)) 30; then
            sleep 0.3
            full_eyepiece right align-rotated
            read -r dx share < <("$eyecheck" shift "$checks/align-shifted.png" "$checks/align-rotated.png")
            if [ "$dx" = 0 ] && awk -v s="$share" 'BEGIN { exit !(s < 0.999) }'; then
                say "checked: one rotation key turned the right eye's picture (only $share of it stands where it was)"
            else
                fail "the rotation key did not turn the right eye's picture (dx ${dx:-?}, share ${share:-?})"
            fi
            save_eyepieces aligned
        else
            fail "the right eye's rotated warp tables were not loaded"
        fi
        "$sim" keypad unplug >/dev/null
        saved="$(count_in "$log" "MAIN: saving alignment data")"
        lockouts="$(lockouts_ended)"
        front_panel_select >/dev/null
        if wait_for "$log" "UC: Change into Normal Mode" 10 &&
            wait_for_count "$log" "MAIN: saving alignment data" $((saved + 1)) 10 &&
            [ "$(align_value WarpPixelSourceOffsetRight)" = 1 ] &&
            [ "$(align_value WarpRotationRight)" != "$rotation_before" ]; then
            say "alignment mode left: $align_file holds WarpPixelSourceOffsetRight = 1, WarpRotationRight = $(align_value WarpRotationRight) (was $rotation_before)"
        else
            fail "leaving alignment mode did not save the shift and rotation (see $align_file)"
        fi
        # The chord's SELECT opened the GUI's menu; LEFT closes it again.
        keypad_plug && gui_key "$sim key KEY_L" 01
        "$sim" keypad unplug >/dev/null
        # A mode change by the buttons locks the front panel out until they have read
        # released on 25 polls: the next press waits for that.
        for ((i = 0; i < 50; i++)); do (($(lockouts_ended) > lockouts)) && break; sleep 0.1; done
    else
        fail "the front panel did not enter alignment mode"
    fi
fi

# ---- A capture with save option 3 (one side-by-side stereo picture): the option chosen in
# the menu (Image > Save Options), a stick plugged in, the mouse's left button pressed. The
# file on the stick must be the frame the FPGA froze for it.
log="$(controller_log)"
if [ -n "$log" ]; then
    mkdir -p "$out/usb-stick"
    options="$(count_in "$log" "IMAGE SAVE OPTION")"
    if [ -x "$home/Ostrix_Gui" ] &&
        menu_walk save-option DOWN DOWN DOWN RIGHT DOWN RIGHT DOWN DOWN DOWN SELECT SHOT LEFT LEFT LEFT &&
        wait_for_count "$log" "IMAGE SAVE OPTION" $((options + 1)) 10; then
        say "save option 3 (one side-by-side stereo picture) chosen in the menu"
    else
        fail "save option 3 was not chosen in the menu"
    fi
    # The mouse button's press and its release each ask for a picture; the release's is
    # kept from the controller when the first capture has already begun. The newest file is
    # compared once every capture the click asked for is done: each freezes the frame
    # store again.
    captures="$(count_in "$log" "MAIN: Total Image Capture time")"
    asked="$(count_in "$log" "sent msg from Mouse to GUI 01000013")"
    if "$sim" usb insert "$out/usb-stick" >/dev/null && "$sim" mouse plug >/dev/null &&
        wait_for "$log" "MSE: Mouse Connected" 10 && "$sim" mouse left >/dev/null &&
        wait_for_count "$log" "MAIN: Total Image Capture time" $((captures + 1)) 60 &&
        asked=$(($(count_in "$log" "sent msg from Mouse to GUI 01000013") - asked)) &&
        wait_for_count "$log" "MAIN: Total Image Capture time" $((captures + asked)) 60 &&
        captured="$(ls -t "$out/usb-stick"/QLM_*_S.png 2>/dev/null | head -n 1)" && [ -n "$captured" ]; then
        say "capture key: stereo picture ${captured##*/} saved on the USB stick in $out/usb-stick"
        save_eyepieces captured
        "$sim" framestore save --frozen left "$checks/frozen-left.png" >/dev/null &&
            "$sim" framestore save --frozen right "$checks/frozen-right.png" >/dev/null
        if "$eyecheck" same "$captured" "$checks/frozen-left.png" 0 0 >/dev/null &&
            "$eyecheck" same "$captured" "$checks/frozen-right.png" 1920 0 >/dev/null; then
            say "checked: the captured file is the frozen frame, both eyes, pixel for pixel"
        else
            fail "the captured file differs from the frame the FPGA froze"
        fi
    else
        fail "the capture key left no stereo picture on the USB stick"
    fi
    "$sim" mouse unplug >/dev/null
fi
# ---- The command file, standby, the log export and wake-up, and the HDMI source lost ----
# A line written to the home folder's "command" file acts as a key would: the picture just
# captured is shown again, then the microscope goes to standby. In standby, the front
# panel's save-log combination (BTN4 and BTN5 held while POWER is let go) copies the log
# to the stick and wakes the microscope. With both HDMI sources unplugged the screens go
# dark after the (shortened) signal-loss time.
command_word() { printf '%s\n' "$1" >"$home/command"; }
power_field() { "$sim" power | grep -o "\"$1\":[^,}]*" | head -n 1 | cut -d: -f2 | tr -d '"'; }
wait_power_state() {
    local want="$1" i
    for ((i = 0; i < 200; i++)); do [ "$(power_field state)" = "$want" ] && return 0; sleep 0.1; done
    return 1
}
# Both panels black: what the eyepieces show is checked pixel by pixel.
eyepieces_dark() {
    full_eyepiece left "$1-left" && full_eyepiece right "$1-right" &&
        "$eyecheck" dark "$checks/$1-left.png" >/dev/null && "$eyecheck" dark "$checks/$1-right.png" >/dev/null
}
log="$(controller_log)"
if [ -n "$log" ]; then
    if [ -n "${captured:-}" ] && [ -f "$captured" ]; then
        written="$(count_in "$log" "F: Frame Store write took")"
        command_word "display 1"
        if wait_for "$log" "Image file selected" 20 &&
            wait_for_count "$log" "F: Frame Store write took" $((written + 1)) 60; then
            say "command file 'display 1': the captured picture is shown again"
            save_eyepieces stored-picture
            "$sim" framestore save left "$checks/shown-left.png" >/dev/null
            if "$eyecheck" same "$captured" "$checks/shown-left.png" 0 0 >/dev/null; then
                say "checked: the left frame store holds the captured picture again, pixel for pixel"
            else
                fail "the left frame store does not hold the captured picture"
            fi
        else
            fail "command file 'display 1' did not show the captured picture"
        fi
        command_word "display 0"
        sleep 2
    fi
    command_word standby
    if wait_power_state standby; then
        say "command file 'standby': rails, backlights and lights as in standby ($(power_field led_colour) LED)"
        save_eyepieces standby
        if eyepieces_dark standby; then say "checked: both eyepieces are black in standby"; else fail "an eyepiece is lit in standby"; fi
    else
        fail "command file 'standby' did not put the microscope into standby"
    fi
    sleep 5.5 # a power-on within 5 s of standby is ignored by design
    # Wake-up ends by sending the GUI the image format, after the camera board has booted.
    formats="$(count_in "$log" "MAIN: send Image Format")"
    # tar's own status is logged; 1 (the log grew while it was read) still gives a whole
    # archive, so an export counts when the controller reports no failure.
    exports="$(count_in "$log" "MAIN: LOG->USB result=")"
    export_failures="$(count_in "$log" "Copy of the log to Memory Stick failed")"
    "$sim" button BTN4+BTN5+POWER press >/dev/null && sleep 0.15 &&
        "$sim" button POWER release >/dev/null && sleep 0.15 && "$sim" button BTN4+BTN5 release >/dev/null
    if wait_for_count "$log" "MAIN: LOG->USB result=" $((exports + 1)) 30 && sleep 0.5 &&
        [ "$(count_in "$log" "Copy of the log to Memory Stick failed")" = "$export_failures" ] &&
        archive="$(ls "$out/usb-stick"/Log*.tar.gz 2>/dev/null | tail -n 1)" && [ -n "$archive" ] &&
        tar -tzf "$archive" | grep -q 'QLM_logfile_.*\.log$'; then
        say "save-log combination in standby: the log exported to the stick as ${archive##*/} ($(tar -tzf "$archive" | grep -c '\.log$') log file(s))"
    else
        fail "the save-log combination did not export the log to the stick"
    fi
    if wait_for_count "$log" "MAIN: send Image Format" $((formats + 1)) 90 && wait_power_state operating; then
        say "woken up by the same combination: operating again"
        sleep 2 # the screens stay blanked until the unblank time
        save_eyepieces woken
    else
        fail "the microscope did not wake up after the log export"
    fi
    "$sim" usb remove >/dev/null
    "$sim" hdmi left off >/dev/null && "$sim" hdmi right off >/dev/null
    if wait_for "$log" "MAIN: turning off backlights" 30 && sleep 0.5 &&
        [ "$("$sim" power | grep -o '"backlights":{[^}]*}')" = '"backlights":{"left":0,"right":0}' ]; then
        say "both HDMI sources unplugged: message 55, then the backlights off"
        save_eyepieces signal-lost
        if eyepieces_dark signal-lost; then say "checked: both eyepieces are black"; else fail "an eyepiece is still lit after the signal loss"; fi
    else
        fail "the screens did not go dark after the HDMI sources were unplugged"
    fi
    lit="$(count_in "$log" "backlight on - inputDetected")"
    "$sim" hdmi left 1920x1080@148.5 >/dev/null && "$sim" hdmi right 1920x1080@148.5 >/dev/null
    if wait_for_count "$log" "backlight on - inputDetected" $((lit + 1)) 30; then
        say "HDMI sources back: the screens light up again"
    else
        fail "the screens did not come back with the HDMI sources"
    fi
fi
# ---- end of the command file, standby and signal loss -----------------------------------
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

# ---- A system update, started from the front panel in standby (BTN1 and BTN3 held while
# POWER is let go): the stick holds QLM-9.1.tar.gz with a new display FPGA image. The
# controller installs it, programs the FPGA's configuration flash with it through
# qflashprog and asks for a reboot, which the simulated board records; the controller then
# waits to be stopped.
log="$(controller_log)"
if [ -n "$log" ]; then
    staging="$out/update-staging" update_stick="$out/update-stick"
    mkdir -p "$staging" "$update_stick"
    { head -c 200 /dev/zero; printf '\xaf\xa6\xa6\xa6'; head -c 32768 /dev/zero | tr '\0' 'Z'; } >"$staging/vp-quickbuild.jic"
    tar -czf "$update_stick/QLM-9.1.tar.gz" -C "$staging" vp-quickbuild.jic
    command_word standby
    if wait_power_state standby && "$sim" usb insert "$update_stick" >/dev/null; then
        sleep 5.5 # the standby guard
        shell_log="$root/var/log/ostrix-sim/shell.log"
        reboots="$(count_in "$shell_log" "reboot")"
        programmed="$(count_in "$out/OstrixPi.console" " EEPROM programming Completed Successfully")"
        "$sim" button BTN1+BTN3+POWER press >/dev/null && sleep 0.15 &&
            "$sim" button POWER release >/dev/null && sleep 0.15 && "$sim" button BTN1+BTN3 release >/dev/null
        if wait_for "$log" "MAIN: Found update to 9.1" 30 &&
            wait_for_count "$out/OstrixPi.console" " EEPROM programming Completed Successfully" $((programmed + 1)) 120 &&
            wait_for_count "$shell_log" "reboot" $((reboots + 1)) 60 &&
            cmp -s "$home/vp-quickbuild.jic" "$staging/vp-quickbuild.jic"; then
            say "system update 9.1 from the front panel: vp-quickbuild.jic installed, the FPGA's flash programmed with it, reboot requested (the screens stay dark until the reboot)"
            save_eyepieces update
        else
            fail "the system update did not install and program the FPGA image (see $log)"
        fi
    else
        fail "no standby with the update stick in"
    fi
fi
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

# The service tools installed beside the controller: spiload reads the FPGA's version
# register; qflashprog programs a configuration image into the FPGA's flash and verifies
# it, and after a power cycle the FPGA configures from it.
if (cd "$home" && exec ./spiload -a 0x7F) >"$out/spiload.console" 2>&1 &&
    grep -qE '^0x[0-9a-f]{8}$' "$out/spiload.console"; then
    say "spiload -a 0x7F: FPGA version word $(tail -n 1 "$out/spiload.console")"
else
    fail "spiload could not read the FPGA version (see $out/spiload.console)"
fi
{ head -c 200 /dev/zero; printf '\xaf\xa6\xa6\xa6'; head -c 65536 /dev/zero | tr '\0' 'U'; } >"$home/demo-image.jic"
if (cd "$home" && exec ./qflashprog demo-image.jic) >"$out/qflashprog.console" 2>&1 &&
    grep -q " EEPROM Verification Completed Successfully" "$out/qflashprog.console" &&
    "$sim" power-cycle >/dev/null && "$sim" status | grep -q '"configured":true'; then
    say "qflashprog programmed and verified demo-image.jic; the FPGA configured from it after a power cycle"
else
    fail "qflashprog did not program the configuration flash (see $out/qflashprog.console)"
fi

say "results in $out, summary in $report"
finish_report
if ((failures > 0)); then
    fail "$failures step(s) of the demo did not happen"
    exit 1
fi
