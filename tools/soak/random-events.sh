# shellcheck shell=bash
# The random soak: both programs on the simulated board under a seeded stream of what a
# user and the board do, sampled as they run. Sourced by soak.sh, which provides the
# system's set-up (install_root, start_programs, capture) and the result (fail, say).

readonly kSampleSecs=10
readonly kLogLimitBytesPerMinute=$((1024 * 1024))
readonly kGuiMemoryLimitKb=$((16 * 1024))
readonly kSettleSecs=10
readonly kStandbyGuardSecs=6 # a power-on within 5 s of standby is ignored by design

readonly kButtons=(BTN1 BTN2 BTN3 BTN4 BTN5)
readonly kKeys=(KEY_T KEY_V KEY_B KEY_J KEY_R KEY_UP KEY_DOWN KEY_LEFT KEY_RIGHT KEY_ENTER
    KEY_ESC KEY_1 KEY_2 KEY_3 KEY_A KEY_Z KEY_SPACE KEY_PAGEUP)
readonly kSources=("1920x1080@148.5" "1280x720@74.25" "1920x1080@148.5 3d" "720x576@27"
    "3840x2160@594")
readonly kHomeSource="1920x1080@148.5"
# Every chip the board model can fail, as BUS ADDRESS.
readonly kChips=("3 0x5c" "5 0x10" "5 0x20" "6 0x18" "0 0x60" "7 0x20" "2 0x28" "1 0x28"
    "2 0x4c" "1 0x4c" "2 0x39" "1 0x39")
readonly kI2cFaults=(nack read write)
readonly kCameraFaults=(silence bad empty cut long garbage babble late)
readonly kUsbFaults=(mount full "pull-after 4096")

# Each event with its weight in the stream.
readonly kEvents=(
    press:8 chord:2 power:1 menu:4 key:8 keyboard:1 keypad:1 mouse:3 mouse_plug:1
    capture:2 display:1 camera:2 camera_fault:2 hdmi:2 usb:2 usb_fault:1 standby:1
    temperature:1 headset:1 i2c_fault:2 held_line:1 save_log:1
)

declare -A event_count=()
stream=()
r=0
# A random number below $1 in `r`: $RANDOM in a command substitution would run in a
# subshell and hand back the same number every time.
roll() { r=$((RANDOM % $1)); }
pause() { # a pause of 0.1 to 0.1 * (1 + $1) s
    roll "$1"
    sleep "0.$((r + 1))"
}
sim_cmd() { "$sim" "$@" >/dev/null 2>&1; }
tap() { # BUTTONS
    sim_cmd button "$1" press
    pause 5
    sim_cmd button "$1" release
}
command_word() { printf '%s\n' "$1" >"$home/command"; }
controller_log_now() { ls -1t "$home"/log/QLM_logfile_*.log 2>/dev/null | head -n 1; }
log_bytes() { cat "$home"/log/QLM_logfile_*.log 2>/dev/null | wc -c; }

# ---- the events --------------------------------------------------------------------------
ev_press() {
    roll ${#kButtons[@]}
    tap "${kButtons[r]}"
}
ev_chord() {
    local a b
    roll ${#kButtons[@]}; a=$r
    roll $((${#kButtons[@]} - 1)); b=$(((a + 1 + r) % ${#kButtons[@]}))
    tap "${kButtons[a]}+${kButtons[b]}"
}
ev_power() { tap POWER; }
ev_menu() { # open the menu and walk it
    local steps i
    tap BTN1
    roll 6; steps=$((r + 1))
    for ((i = 0; i < steps; i++)); do
        roll 4
        tap "${kButtons[r + 1]}"
    done
}
ev_key() {
    roll ${#kKeys[@]}
    sim_cmd key "${kKeys[r]}"
}
ev_keyboard() {
    roll 3
    local n=$((r + 1))
    roll 2
    if ((r)); then sim_cmd keyboard plug "$n"; else sim_cmd keyboard unplug "$n"; fi
}
ev_keypad() {
    sim_cmd keypad unplug
    pause 10
    sim_cmd keypad plug
}
ev_mouse() {
    roll 4
    case $r in
        0) roll 11; sim_cmd mouse wheel $((r - 5)) ;;
        1) sim_cmd mouse right ;;
        2) sim_cmd mouse middle ;;
        3) roll 2; sim_cmd mouse wheel $((r ? 3 : -3)) ;;
    esac
}
ev_mouse_plug() {
    sim_cmd mouse unplug
    pause 10
    sim_cmd mouse plug
}
readonly kCaptureWaitSecs=20
ev_capture() { # the mouse's left button captures a picture to the stick
    local n
    n="$(count_in "$(controller_log_now)" "MAIN: Total Image Capture time")"
    sim_cmd mouse left
    wait_for_count "$(controller_log_now)" "MAIN: Total Image Capture time" $((n + 1)) "$kCaptureWaitSecs"
}
ev_display() {
    command_word "display 1"
    pause 20
    command_word "display 0"
}
ev_camera() {
    sim_cmd camera unplug
    pause 20
    sim_cmd camera plug
}
ev_camera_fault() {
    roll ${#kCameraFaults[@]}
    local kind="${kCameraFaults[r]}"
    roll 3
    sim_cmd camera fault "$kind" $((r + 1))
}
ev_hdmi() {
    local side
    roll 2; side=$([ $r -eq 0 ] && echo left || echo right)
    roll $((${#kSources[@]} + 1))
    if ((r == ${#kSources[@]})); then
        sim_cmd hdmi "$side" off
    else
        # shellcheck disable=SC2086 # the "3d" word is its own argument
        sim_cmd hdmi "$side" ${kSources[r]}
    fi
}
ev_usb() {
    roll 2
    local slot=$((r + 1))
    sim_cmd usb remove --slot "$slot"
    pause 10
    sim_cmd usb insert "$out/usb-stick-$slot" --slot "$slot"
}
ev_usb_fault() {
    roll ${#kUsbFaults[@]}
    # shellcheck disable=SC2086
    sim_cmd usb fault ${kUsbFaults[r]}
}
wake_at=0
ev_standby() {
    command_word standby
    roll 10
    wake_at=$((SECONDS + kStandbyGuardSecs + r))
}
ev_temperature() {
    roll 50
    sim_cmd temp $(((30 + r) * 1000))
}
ev_headset() {
    roll 3
    case $r in
        0) sim_cmd headset plug ;;
        1) sim_cmd headset plug headphones ;;
        2) sim_cmd headset unplug ;;
    esac
}
ev_i2c_fault() {
    roll ${#kChips[@]}
    local chip="${kChips[r]}"
    roll ${#kI2cFaults[@]}
    local kind="${kI2cFaults[r]}"
    roll 5
    # shellcheck disable=SC2086 # BUS and ADDRESS are two arguments
    sim_cmd i2c fail $chip "$kind" all $((r + 1))
}
ev_held_line() {
    sim_cmd i2c hold sda
    pause 5
    sim_cmd i2c release
}
ev_save_log() { # BTN4 and BTN5 held while POWER is let go: the log to the stick
    sim_cmd button BTN4+BTN5+POWER press
    sleep 0.15
    sim_cmd button POWER release
    sleep 0.15
    sim_cmd button BTN4+BTN5 release
}

# ---- the run -----------------------------------------------------------------------------
build_stream() {
    local entry i
    for entry in "${kEvents[@]}"; do
        for ((i = 0; i < ${entry#*:}; i++)); do stream+=("${entry%%:*}"); done
        event_count[${entry%%:*}]=0
    done
}

# The board as the run starts and ends: sources on both inputs, camera, keypad, mouse and
# a stick in port 1, no faults, the microscope on.
restore_board() {
    sim_cmd i2c release
    sim_cmd i2c clear
    sim_cmd camera fault none
    sim_cmd camera plug
    sim_cmd usb fault none
    sim_cmd usb remove --slot 2
    sim_cmd usb insert "$out/usb-stick-1" --slot 1
    sim_cmd hdmi left $kHomeSource
    sim_cmd hdmi right $kHomeSource
    sim_cmd temp 45000
    sim_cmd headset unplug
    local n
    for n in 1 2 3; do sim_cmd keyboard unplug "$n"; done
    sim_cmd keypad plug
    sim_cmd mouse plug
    command_word "display 0"
}
power_state() { "$sim" power | grep -o '"state": *"[a-z]*"' | cut -d'"' -f4; }
wake_up() {
    local i
    for ((i = 0; i < 3; i++)); do
        [ "$(power_state)" = operating ] && return 0
        sleep "$kStandbyGuardSecs"
        command_word wakeup
        wait_for_power operating 30 && return 0
    done
    return 1
}
wait_for_power() { # STATE SECS
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        [ "$(power_state)" = "$1" ] && return 0
        sleep 0.1
    done
    return 1
}
# Alignment mode (BTN1+BTN2+BTN3) may be left on by the stream: the same chord leaves it.
leave_alignment() {
    local log
    log="$(controller_log_now)"
    if (($(count_in "$log" "UC: Change into Alignment Mode") > $(count_in "$log" "UC: Change into Normal Mode"))); then
        sim_cmd button BTN1+BTN2+BTN3 press
        sleep 0.15
        sim_cmd button BTN1 release
        sleep 0.15
        sim_cmd button BTN2+BTN3 release
        wait_for_count "$log" "UC: Change into Normal Mode" $(($(count_in "$log" "UC: Change into Normal Mode") + 1)) 10
    fi
}

# One line of figures: controller and GUI private kB, descriptors and threads, log bytes.
figures() {
    printf '%s %s %s %s %s %s %s' "$(private_kb "$controller_pid")" "$(descriptors "$controller_pid")" \
        "$(threads "$controller_pid")" "$(private_kb "$gui_pid")" "$(descriptors "$gui_pid")" \
        "$(threads "$gui_pid")" "$(log_bytes)"
}
both_alive() { kill -0 "$controller_pid" 2>/dev/null && kill -0 "$gui_pid" 2>/dev/null; }

# Waits (at most SECS) until every capture the stream started has ended: while one runs,
# the controller rightly keeps keys from the GUI.
wait_for_captures() {
    local log="$1" secs="$2" i
    for ((i = 0; i < secs * 10; i++)); do
        (($(grep -c -- "MAIN: Image Capture$" "$log" 2>/dev/null || true) <=
            $(count_in "$log" "MAIN: Total Image Capture time"))) && return 0
        sleep 0.1
    done
    return 1
}

# The controller takes a keypad key and passes it on, and the GUI processes it. Captures the
# stream queued may still start after the first key: a live controller takes one of three.
still_answering() {
    local log sent processed attempt
    log="$(controller_log_now)"
    processed="$(count_in "$out/Ostrix_Gui.console" "GUI: ProcessCommand")"
    for ((attempt = 0; attempt < 3; attempt++)); do
        wait_for_captures "$log" 30
        sent="$(count_in "$log" "UC: sent msg from Keypad/kbd to GUI")"
        sim_cmd key KEY_T
        wait_for_count "$log" "UC: sent msg from Keypad/kbd to GUI" $((sent + 1)) 10 && break
    done
    if ((attempt == 3)); then
        fail "the controller did not react to a keypad key at the end"
        return
    fi
    wait_for_count "$out/Ostrix_Gui.console" "GUI: ProcessCommand" $((processed + 1)) 10 ||
        fail "the GUI did not process the key's message at the end"
}

random_run() {
    local minutes="$1" seed="$2"
    RANDOM=$seed
    say "seed $seed: replay with ./ostrix soak $minutes $seed"
    install_root
    mkdir -p "$out/usb-stick-1" "$out/usb-stick-2"
    start_programs
    if ! wait_for_count "$out/OstrixPi.console" "MAIN: GUI settings collected" 1 60; then
        fail "the controller did not collect the GUI's settings"
        return
    fi
    restore_board
    wait_for_count "$(controller_log_now)" "MSE: Mouse Connected" 1 20 || fail "the mouse was not seen"
    # The first capture and display set up what they keep for the rest of the run.
    ev_capture || fail "the first capture did not happen"
    ev_display
    sleep "$kSettleSecs"
    local start
    start="$(figures)"
    printf 'seconds ctl_kB ctl_fds ctl_threads gui_kB gui_fds gui_threads log_bytes\n0 %s\n' "$start" >"$out/samples.txt"
    build_stream
    local begin=$SECONDS deadline=$((SECONDS + minutes * 60)) next_sample=$((SECONDS + kSampleSecs)) events=0
    while ((SECONDS < deadline)); do
        roll ${#stream[@]}
        local ev="${stream[r]}"
        "ev_$ev"
        event_count[$ev]=$((event_count[$ev] + 1))
        events=$((events + 1))
        if ((wake_at > 0 && SECONDS >= wake_at)); then
            command_word wakeup
            wake_at=0
        fi
        pause 5
        if ((SECONDS >= next_sample)); then
            both_alive || break
            printf '%s %s\n' $((SECONDS - begin)) "$(figures)" >>"$out/samples.txt"
            next_sample=$((SECONDS + kSampleSecs))
        fi
    done
    if ! both_alive; then
        kill -0 "$controller_pid" 2>/dev/null || fail "OstrixPi ended during the run (see $out/OstrixPi.console)"
        kill -0 "$gui_pid" 2>/dev/null || fail "Ostrix_Gui ended during the run (see $out/Ostrix_Gui.console)"
        return
    fi
    say "$events events in $(((SECONDS - begin) / 60)) min: $(for e in "${!event_count[@]}"; do printf '%s %s, ' "$e" "${event_count[$e]}"; done)"
    settle_and_check "$start" $(((SECONDS - begin + 59) / 60))
}

settle_and_check() {
    local start="$1" minutes="$2"
    restore_board
    wake_up || fail "the microscope did not wake up at the end"
    leave_alignment
    sleep "$kSettleSecs"
    still_answering
    local end
    end="$(figures)"
    # Threads that end on their own (a capture's, a reconnect's) get a little longer.
    local i
    for ((i = 0; i < 5; i++)); do
        [ "$(cut -d' ' -f2,3,5,6 <<<"$end")" = "$(cut -d' ' -f2,3,5,6 <<<"$start")" ] && break
        sleep 2
        end="$(figures)"
    done
    printf 'end %s\n' "$end" >>"$out/samples.txt"
    report_figures "$start" "$end" "$minutes"
    stop_all
    ((${#killed[@]} == 0)) || fail "a program did not stop on SIGTERM within 10 s"
    grep -q "Application terminated" "$out/OstrixPi.console" || fail "OstrixPi did not stop cleanly"
    if grep -lE "ERROR: AddressSanitizer|runtime error:|ThreadSanitizer" "$out"/*.console; then
        fail "a sanitizer reported an error (see the consoles above)"
    fi
}

report_figures() {
    local -a s e
    read -r -a s <<<"$1"
    read -r -a e <<<"$2"
    local minutes="$3"
    say "controller: private ${s[0]} -> ${e[0]} kB, descriptors ${s[1]} -> ${e[1]}, threads ${s[2]} -> ${e[2]}"
    say "GUI: private ${s[3]} -> ${e[3]} kB, descriptors ${s[4]} -> ${e[4]}, threads ${s[5]} -> ${e[5]}"
    local log_rate=$(((e[6] - s[6]) / minutes))
    say "log: ${s[6]} -> ${e[6]} bytes, $log_rate bytes a minute"
    ((e[1] == s[1])) || fail "the controller holds $((e[1] - s[1])) more descriptors"
    ((e[2] == s[2])) || fail "the controller runs $((e[2] - s[2])) more threads"
    ((e[4] == s[4])) || fail "the GUI holds $((e[4] - s[4])) more descriptors"
    ((e[5] == s[5])) || fail "the GUI runs $((e[5] - s[5])) more threads"
    ((log_rate < kLogLimitBytesPerMinute)) || fail "the log grew by $log_rate bytes a minute"
    if [ "${OSTRIX_SOAK_CHECK_MEMORY:-1}" != 0 ]; then
        ((e[0] - s[0] < kMemoryLimitKb)) || fail "the controller's private memory grew by $((e[0] - s[0])) kB"
        ((e[3] - s[3] < kGuiMemoryLimitKb)) || fail "the GUI's private memory grew by $((e[3] - s[3])) kB"
    fi
}
