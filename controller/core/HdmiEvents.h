// HDMI input events and screen blanking: which 3D input format arrives (two 2D streams,
// frame-packed 3D or full-width side-by-side on the left receiver), the receivers' output
// width and EDID for it, and the blanking of the screens while the format changes. The
// main loop polls the receivers and transmitters through these every idle pass.
#pragma once

#include <functional>
#include <utility>

// 3D input modes (the `mode3D` bits of `execute_mode`).
constexpr unsigned MODE3D_2D = 0;
constexpr unsigned MODE3D_FRAME_PACKED = 1;
constexpr unsigned MODE3D_SIDE_BY_SIDE = 2;
constexpr int MODE3D_NOT_RECOGNISED = -1;

constexpr int UNBLANK_TIMER_MS = 1500;
constexpr int SYNC_UPDATE_TIMER_MS = 250;
constexpr int MESS_3D_SIGNAL_SECONDS = 3;
// Output bus width: 48-bit from this TMDS clock on.
constexpr float HDMI_48BIT_MIN_MHZ = 150.0f;

// The input mode for what the left receiver measures: its 3D flag, the active size and
// the TMDS clock; MODE3D_NOT_RECOGNISED when it is none of them.
int classify_3d_input(bool video3D, unsigned width, unsigned height, float MHz);

// Configures one receiver (LEFT or RIGHT; others do nothing) for an input mode with its
// EDID, and pulses the channel's video reset.
void configure_hdmi_rx(int channel, unsigned mode);
// Configures one transmitter for 2D output.
void configure_hdmi_tx(int channel);
// Creates and configures both receivers and transmitters (start-up).
void bring_up_hdmi();

// Services one receiver's interrupts; true (1) when it has an input. Sets `inputDetected`
// when it has one or a stored image is shown, and never clears it.
int process_hdmi_rx_events(int channel, int& inputDetected);

// One transmitter's hot plug, with the FPGA's HDMI output following it.
void poll_hdmi_transmitter(int channel);

// Whether the right screen may be shown after a mode change: the right receiver has an
// input, a 3D mode is set, or a stored image is shown.
bool right_screen_wanted();

// Replaces the standby that follows a long loss of signal (tests); unset, the main loop
// shuts down into standby.
extern std::function<void()> no_signal_standby;

// Start values (tests).
void reset_hdmi_events();
