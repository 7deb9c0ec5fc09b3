// The controller's main loop: one pass about every 10 ms takes at most one message (from
// the GUI, the controller's own input handling or the command file) and dispatches it, or
// polls the hardware and sleeps when there is none; every pass then runs the periodic
// duties. The main thread owns everything declared here.
#pragma once

#include <cstdint>
#include <ctime>

#include "common/messages.h"

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

// A command read from the command file, handled by the next pass before any queued message.
extern bool typed_command;
extern message_s typed_message;

// Timers of the loop; "none" (no_timeout()) when not armed. standbyTimer, zoomPollTimer
// and warpDebugPollTimer belong to the program entry.
extern timer_t screenoffTimer;
extern timer_t systemStandbyTimer;
extern timer_t cameraOffTimer;
extern timer_t cameraOnTimer;
extern timer_t syncUpdateTimer;
extern timer_t unblankTimer;

extern int loopcounter;
extern int lastConnection[2];
extern int audio_poll_error_count;
extern uint8_t last_zoom;
extern int poll_zoom_error_count;
extern int temperature_check_loop_count;
extern float lasttemp;
extern int camera_on_loop;
extern int camera_on_error_count;

// The next setting to ask the GUI for; above LAST_SETTING_INDEX once all are collected.
extern int settings_collection_index;

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

// Start values of the loop state (program start, tests).
void reset_main_loop_state();
