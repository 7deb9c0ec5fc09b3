// The controller's main loop: one pass about every 10 ms takes at most one message (from
// the GUI, the controller's own input handling or the command file) and dispatches it, or
// polls the hardware and sleeps when there is none; every pass then runs the periodic
// duties. The main thread owns everything declared here.
#pragma once

#include <cstdint>
#include <ctime>

#include "common/messages.h"
#include "common/timeout.h"

// Passes between two core temperature reports, and the change (millidegrees) that is
// reported at once.
constexpr int TEMP_LOG_LOOPS = 2000;
constexpr int TEMP_CHANGE_LOG_MILLIDEGREES = 1620;
constexpr bool LOG_PI_TEMPERATURE = true;

// Camera power-cycle soak test (service builds only).
constexpr bool DEBUG_POWER_CYCLE_CAMERA_BOARD = false;
constexpr int CAMBOARD_OFF_TIME = 1000;
constexpr int CAMBOARD_ON_TIME = 25000;

constexpr int WARP_DEBUG_PERIOD_MS = 30000;
constexpr int ZOOM_POLL_PERIOD_MS = 100;
// The sleep of a pass that found no message.
constexpr int IDLE_PASS_SLEEP_MS = 10;

// What the loop carries from one pass to the next. Every member starts at its value for a
// fresh program; `loop_state = MainLoopState{}` (reset_main_loop_state()) restores them all.
struct MainLoopState {
    // A command read from the command file, handled by the next pass before any queued
    // message.
    bool typed_command = false;
    message_s typed_message{};

    int loopcounter = 0;
    // Whether each channel's transmitter saw a connected screen on the previous poll.
    int lastConnection[2] = {0, 0};
    int audio_poll_error_count = 0;
    uint8_t last_zoom = 0;
    int poll_zoom_error_count = 0;
    int temperature_check_loop_count = 0;
    float lasttemp = 0;
    int camera_on_loop = 0;
    int camera_on_error_count = 0;

    // The next setting to ask the GUI for; above LAST_SETTING_INDEX once all are collected.
    int settings_collection_index = 0;
    // A GUI that announced itself while the system was in standby: its settings are
    // collected at the next wake-up, as the collection's finish lights the front panel.
    bool collection_at_wakeup = false;
};
extern MainLoopState loop_state;

// The loop's POSIX timers; a handle is no_timeout() while its timer does not exist, which
// for the loop's own timers means "not armed". They live apart from MainLoopState because
// a handle owns a kernel timer: assigning a fresh struct over it would lose the timer
// without deleting it. Copying is refused for the same reason; a reset goes through
// disarm_loop_timers().
struct LoopTimers {
    // Armed by the loop and its handlers, deleted when they are done or at a reset.
    timer_t screenoff = no_timeout();
    timer_t systemStandby = no_timeout();
    timer_t cameraOff = no_timeout();
    timer_t cameraOn = no_timeout();
    timer_t syncUpdate = no_timeout();
    timer_t unblank = no_timeout();

    // Started by the program entry and kept for the process (the guard is started again on
    // going to standby): GUI messages are acted on only once standbyGuard has run out, and
    // the other two pace their polls.
    timer_t standbyGuard = no_timeout();
    timer_t zoomPoll = no_timeout();
    timer_t warpDebugPoll = no_timeout();

    LoopTimers() = default;
    LoopTimers(const LoopTimers&) = delete;
    LoopTimers& operator=(const LoopTimers&) = delete;

    // Deletes the timers the loop arms (not those of the program entry).
    void disarm_loop_timers();
};
extern LoopTimers loop_timers;

// Runs passes while `run` is set.
void main_loop();

// One pass. Returns true when it handled a message (and so did not sleep).
bool main_loop_pass();

// What a pass does with one message: log it, apply the filters, dispatch it.
void handle_message(const message_s& msg);

// Starts (or restarts) asking the GUI for every implemented setting.
void start_settings_collection();

// One collection step, run after every message a pass took.
void settings_collection_step();

// The core temperature rule for one reading in millidegrees: a report every
// TEMP_LOG_LOOPS passes, and a line whenever it moved more than 1.62 degrees since the
// previous pass.
void check_core_temperature(int millidegrees);

// Reads the core temperature in millidegrees (0 when it cannot be read).
int read_core_temperature();

// Blanks both screens for a video mode change; the unblank timer ends it.
void start_screen_blanking();

// Service test of the overlay store over SPI: fills and checks it with two patterns,
// over and over, while the controller runs. One pass returns the mismatching pixels.
void overlay_spi_test();
int overlay_spi_test_pass();

// Start values of the loop state, for tests that run passes on a board they set up: a
// fresh MainLoopState, and the loop's own timers deleted.
void reset_main_loop_state();
