#include "controller/core/HdmiEvents.h"

#include <string>

#include "common/logfile.h"
#include "common/messages.h"
#include "common/timeout.h"
#include "controller/core/GuiMessages.h"
#include "controller/core/MainLoop.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/SettingHandlers.h"
#include "controller/core/devices.h"
#include "controller/core/pin_nums.h"
#include "controller/devices/hdmi_rx.h"
#include "controller/devices/hdmi_tx.h"
#include "controller/fpga/fpga.h"

std::function<void()> no_signal_standby;

namespace {

// Tolerances of the measured sizes and the TMDS clock ranges of each format.
constexpr unsigned FULL_HD_WIDTH = 1920, DOUBLE_WIDTH = 3840;
constexpr unsigned FULL_HD_HEIGHT = 1080, FRAME_PACKED_HEIGHT = 2205;
constexpr unsigned SIZE_TOLERANCE = 9;
constexpr float MODE0_MIN_MHZ = 105.0f, MODE0_MAX_MHZ = 190.0f;
constexpr float MODE2_MIN_MHZ = 128.0f, MODE2_MAX_MHZ = 340.0f;
constexpr double HZ_PER_MHZ = 1e6;

constexpr uint32_t RX_CONFIG_ERROR[2] = {ERR_CONF_HDMI_RX_LEFT, ERR_CONF_HDMI_RX_RIGHT};
constexpr uint32_t TX_CONFIG_ERROR[2] = {ERR_CONF_HDMI_TX_LEFT, ERR_CONF_HDMI_TX_RIGHT};
constexpr int RX_INTERRUPT_PIN[2] = {HDMI_RXL_INT1_Pin, HDMI_RXR_INT1_Pin};

bool near(unsigned value, unsigned nominal) {
    return value + SIZE_TOLERANCE >= nominal && value <= nominal + SIZE_TOLERANCE;
}

const std::string* edidFileFor(int channel, unsigned mode) {
    switch (mode) {
    case MODE3D_2D:
        return &controller_files.edid_config_file[channel];
    case MODE3D_FRAME_PACKED:
        return &controller_files.edid_3Dconfig_file[channel];
    case MODE3D_SIDE_BY_SIDE:
        return &controller_files.edid_SBSconfig_file[channel];
    default:
        return nullptr;
    }
}

void warnAboutWidth(int mode, bool use48bit, float MHz) {
    if (use48bit && mode != static_cast<int>(MODE3D_SIDE_BY_SIDE)) {
        logprintforange("WARNING: 3D mode %d was selected while 48-bit mode is active (fTMDS = %f)\n", mode,
                        static_cast<double>(MHz));
    } else if (!use48bit && mode == static_cast<int>(MODE3D_SIDE_BY_SIDE)) {
        logprintforange("WARNING: 3D mode 2 was selected while 24-bit mode is active (fTMDS = %f)\n",
                        static_cast<double>(MHz));
    }
}

void applyInputMode(int mode, bool use48bit, float MHz) {
    logprintfblue("MAIN: set 3D input mode %d\n", mode);
    fpga->set3DMode(static_cast<unsigned>(mode));
    execute_mode.mode3D = static_cast<unsigned>(mode);
    if (mode != static_cast<int>(MODE3D_2D)) {
        display_message(MESS_3D_SIGNAL_DETECTED, MESS_3D_SIGNAL_SECONDS);
    }
    start_timeout("MAIN: SYNC", &loop_timers.syncUpdate, SYNC_UPDATE_TIMER_MS, 0);
    execute_mode.sync_detected = 0;
    if (!execute_mode.pngdisplay) {
        logprintf("MAIN > handle Rx: New valid mode, starting unblank timer...\r\n");
        start_timeout("MAIN>RX: UNBLANK", &loop_timers.unblank, UNBLANK_TIMER_MS, 0);
    }
    warnAboutWidth(mode, use48bit, MHz);
}

// The left receiver's new input: measure it, set the output width and the input mode,
// or blank the screens when it cannot be decoded.
void determineInputMode(hdmi_rx& rx, uint32_t video3D) {
    float MHz = 0;
    std::pair<unsigned, unsigned> active{}, total{};
    if (!rx.get_hdmi_rx_tmds_frequency(MHz, true) || !rx.get_hdmi_resolution(active, total, true)) {
        logprintforange("fTMDS / resolution measurments invalid, could not determine 3D mode\n");
        execute_mode.mode3D = MODE3D_2D;
        logprintf("MAIN > handle RX: TMDS / VSync not locked, blanking screens\r\n");
        start_screen_blanking();
        return;
    }
    const double pixels = static_cast<double>(total.first) * total.second;
    logprintf("fTMDS / total resolution = %f Hz\n", pixels > 0 ? MHz * HZ_PER_MHZ / pixels : 0.0);
    if (rx.get_deep_color_mode()) {
        logprintf("Deep color mode detected\n");
    }
    const bool use48bit = MHz >= HDMI_48BIT_MIN_MHZ;
    logprintfblue("MAIN: setting HDMI RXs to %d-bit output mode\n", use48bit ? 48 : 24);
    for (auto& receiver : hdmi_receiver) {
        if (receiver) {
            receiver->set_output_mode(use48bit);
        }
    }
    const int mode = classify_3d_input(video3D != 0, active.first, active.second, MHz);
    if (mode != MODE3D_NOT_RECOGNISED) {
        applyInputMode(mode, use48bit, MHz);
        return;
    }
    logprintferror("ERROR: Can't determine 3D input mode from parameters:\n Active resolution: %dx%d\tStereo "
                   "detected: %d\n Total resolution:  %dx%d\tTMDS clock: %f MHz\n",
                   active.first, active.second, static_cast<int>(video3D), total.first, total.second,
                   static_cast<double>(MHz));
    delete_timeout(&loop_timers.syncUpdate);
    logprintf("MAIN > handle Rx: could not identify 3D mode, blanking screens\r\n");
    start_screen_blanking();
}

// Two 2D streams: the right screen follows the right receiver's input.
void rightChannelChanged(hdmi_rx& rx) {
    const int input = rx.inputDetected();
    logprintf("Interrupt on right channel. Input Detected = %d\r\n", input);
    if (fpga) {
        fpga->setScreenBlanking(RIGHT, input == 0);
    }
}

} // namespace

int classify_3d_input(bool video3D, unsigned width, unsigned height, float MHz) {
    if (video3D && near(width, FULL_HD_WIDTH) && near(height, FRAME_PACKED_HEIGHT)) {
        return MODE3D_FRAME_PACKED;
    }
    if (near(height, FULL_HD_HEIGHT)) {
        if (near(width, FULL_HD_WIDTH) && MHz > MODE0_MIN_MHZ && MHz < MODE0_MAX_MHZ) {
            return MODE3D_2D;
        }
        if (near(width, DOUBLE_WIDTH) && MHz > MODE2_MIN_MHZ && MHz < MODE2_MAX_MHZ) {
            return MODE3D_SIDE_BY_SIDE;
        }
    }
    return MODE3D_NOT_RECOGNISED;
}

void configure_hdmi_rx(int channel, unsigned mode) {
    if (channel != LEFT && channel != RIGHT) {
        return;
    }
    if (hdmi_rx* rx = hdmi_receiver[channel].get()) {
        logprintf("configure_hdmi_rx %s: %d\n", channel == LEFT ? "Left" : "Right", mode);
        bool configured = false;
        if (const std::string* file = edidFileFor(channel, mode)) {
            logprintf("Selecting EDID file %s\n", file->c_str());
            configured = rx->configure_hdmi_rx(HDMI_RX_1080, HDMI_RX_1080_ROWS, file->c_str()) == 1;
        } else {
            logprintf("Illegal 3D mode %d.\n", mode);
        }
        if (!configured) {
            ostrix_errstat |= RX_CONFIG_ERROR[channel];
        }
    }
    if (fpga) {
        fpga->VideoReset(channel);
    }
}

void configure_hdmi_tx(int channel) {
    if ((channel != LEFT && channel != RIGHT) || !hdmi_transmitter[channel]) {
        return;
    }
    if (hdmi_transmitter[channel]->configure_hdmi_tx() != 0) {
        ostrix_errstat |= TX_CONFIG_ERROR[channel];
    }
}

void bring_up_hdmi() {
    const auto mode = static_cast<unsigned>(shadow_settings[SETT_3DINPUT_MODE]);
    hdmi_receiver[LEFT] = std::make_unique<hdmi_rx>(LEFT, RX_INTERRUPT_PIN[LEFT]);
    hdmi_receiver[RIGHT] = std::make_unique<hdmi_rx>(RIGHT, RX_INTERRUPT_PIN[RIGHT]);
    configure_hdmi_rx(LEFT, mode);
    configure_hdmi_rx(RIGHT, mode);
    logprintf("MAIN: Configure HDMI Transmitters\r\n");
    hdmi_transmitter[LEFT] = std::make_unique<hdmi_tx>(LEFT);
    hdmi_transmitter[RIGHT] = std::make_unique<hdmi_tx>(RIGHT);
    configure_hdmi_tx(LEFT);
    configure_hdmi_tx(RIGHT);
}

int process_hdmi_rx_events(int channel, int& inputDetected) {
    if ((channel != LEFT && channel != RIGHT) || !hdmi_receiver[channel]) {
        return 0;
    }
    hdmi_rx& rx = *hdmi_receiver[channel];
    uint32_t video3D = 0;
    bool newTMDSfrq = false, vlockChanged = false, vlocked = false;
    const int modeChanged = rx.check_interrupts(&video3D, newTMDSfrq, vlockChanged, vlocked);
    if (modeChanged || newTMDSfrq || vlockChanged) {
        logprintf(
            "MAIN: HDMI RX %d interrupt - [%d 3D Mode Changed] [%d fTMDS change] [%d VSync filter changed]\n",
            channel, modeChanged, newTMDSfrq ? 1 : 0, vlockChanged ? 1 : 0);
        if (channel == LEFT && fpga) {
            determineInputMode(rx, video3D);
        } else if (channel == RIGHT && execute_mode.mode3D == MODE3D_2D && !execute_mode.screensblanked) {
            rightChannelChanged(rx);
        }
    }
    const int input = rx.inputDetected();
    if (input || execute_mode.pngdisplay) {
        inputDetected = 1;
    }
    return input;
}

void poll_hdmi_transmitter(int channel) {
    hdmi_tx* tx = hdmi_transmitter[channel].get();
    if (!tx) {
        return;
    }
    const int connected = tx->check_connected() != 0 ? 1 : 0;
    if (fpga) {
        fpga->enableHDMITx(channel, static_cast<unsigned>(connected));
    }
    const bool newConnection = connected && !loop_state.lastConnection[channel];
    if (newConnection) {
        logprintf("MAIN: new HDMI Tx connection in 2D mode, on loop %d\n", loop_state.loopcounter);
        tx->configure_hdmi_tx();
        if (fpga) {
            fpga->setOutput3DMode(0);
        }
        if (channel == LEFT && shadow_settings[SETT_3DOUTPUT_MODE]) {
            logprintf("MAIN: new HDMI Tx connection in 3D mode, on loop %d\n", loop_state.loopcounter);
            tx->configure_hdmi_3dtx();
            if (fpga) {
                fpga->setOutput3DMode(1);
            }
        }
    }
    loop_state.lastConnection[channel] = connected;
}

bool right_screen_wanted() {
    return (hdmi_receiver[RIGHT] && hdmi_receiver[RIGHT]->inputDetected()) ||
           execute_mode.mode3D != MODE3D_2D || execute_mode.pngdisplay;
}

void reset_hdmi_events() {
    no_signal_standby = nullptr;
    for (auto& rx : hdmi_receiver) {
        rx.reset();
    }
    for (auto& tx : hdmi_transmitter) {
        tx.reset();
    }
}
