// The controller's copy of the GUI's settings and what a change of each one does to the
// hardware. The GUI owns the settings; the main loop stores every value it is told of in
// `shadow_settings` and runs the setting's handler when the value changed.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>

#include "common/SettingsIndex.h"

// Indices above this one do not exist; the collection is complete once its index passes it.
constexpr int LAST_SETTING_INDEX = SETT_MAX_SETTING - 1;

extern int32_t shadow_settings[SETT_MAX_SETTING];

// Whether the setting message being handled changed its setting.
extern bool setting_changed;

// The settings the controller asks the GUI for after start-up and after a preset load:
// white balance (58) is a command and never asked for, 92 and 99..123 are not needed.
// The date format (15) is asked for so that names follow it after a restart.
extern const std::array<bool, SETT_MAX_SETTING> implemented_settings;
constexpr int IMPLEMENTED_SETTING_COUNT = 55;

// Crosshair colours (RGB888) by SETT_UI_CROSSHAIRCOLOUR value.
constexpr int CURSOR_COLOUR_COUNT = 8;
extern const uint32_t cursor_colours[CURSOR_COLOUR_COUNT];
// The colour for a crosshair colour setting; false (and *rgb untouched) for a value
// outside the table, which then leaves the crosshair as it is.
bool crosshair_colour(int32_t value, uint32_t* rgb);

// The HDR mode last sent to the camera; the mouse wheel reads it.
extern std::atomic<int> hdr_mode;

// The first implemented index >= index, or a value above LAST_SETTING_INDEX when none is left.
int find_next_implemented_setting(int index);

// Asks the GUI for setting index. Returns index + 1 once the request is queued, index
// unchanged when it could not be queued (it is asked again next time) or is past the table.
int send_implemented_setting_request(int index);

// Runs the handler of a setting whose value has just been stored in shadow_settings.
// An index without a handler logs "Unimplemented Setting %d".
void run_setting_handler(int index);

// The time and date the GUI's clock settings ask for: the current UTC calendar time with
// each given field replaced (-1 leaves a field; day and month count from 1, year is years
// since 2000). The result is only logged: the GUI sets the system clock.
time_t newDate(int day, int month, int year, int hours, int minutes, int seconds);
// As newDate, from a given current time.
time_t newDateFrom(time_t now, int day, int month, int year, int hours, int minutes, int seconds);

// Sets the backlight of both displays to the display brightness setting.
void apply_display_brightness();

// Start values of everything above (program start, tests).
void reset_setting_state();
