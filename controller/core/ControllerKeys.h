// The keys the controller acts on itself (every key also goes to the GUI): programmable
// keys, image capture, alignment, camera reference frame, display backlight scaling and
// stereo divergence.
#pragma once

#include "common/messages.h"

constexpr unsigned BACKLIGHT_SCALE_MIN = 10;
constexpr unsigned BACKLIGHT_SCALE_MAX = 100;
constexpr int DISPLAY_CHANNELS = 2;

// The divergence offset the divergence keys change; it is subtracted from the left pixel
// offset and added to the right one. Saved with the alignment data.
extern int StereoSeparation;
// Per-display backlight scaling in percent (left, right), BACKLIGHT_SCALE_MIN..MAX.
extern unsigned backlightScale[DISPLAY_CHANNELS];

// Handles a tEV_KEY message: word 1's low byte is the key, word 2 its value.
void handle_key(const message_s& msg);

// Gives the FPGA both backlight scales and re-applies the display brightness setting.
void apply_backlight_scales();
// Applies both channels' display shifts with the current separation and logs the
// resulting pixel offsets.
void apply_stereo_separation();

// Start values (program start, tests).
void reset_controller_keys();
