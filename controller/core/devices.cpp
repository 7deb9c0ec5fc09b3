#include "controller/core/devices.h"

#include "controller/camera/CameraBoard.h"
#include "controller/devices/Audio.h"
#include "controller/devices/LTC2977.h"
#include "controller/devices/LightingControl.h"
#include "controller/devices/clocks.h"
#include "controller/devices/crosslink.h"
#include "controller/devices/hdmi_rx.h"
#include "controller/devices/hdmi_tx.h"
#include "controller/devices/i2c.h"
#include "controller/fpga/fpga.h"
#include "controller/input/UserControls.h"

void release_devices() {
    // The front-panel worker polls through the I2C handler: it stops first. Devices that log
    // as they close go while the log is still there; the I2C handler goes last, since every
    // chip driver borrows it.
    user_controls.reset();
    fpga.reset();
    lighting.reset();    // switches the lights off
    audio_codec.reset(); // mutes the outputs
    clock_generator.reset();
    camera_board.reset();
    for (int c = 0; c < CHANNELS; ++c) {
        video_bridge[c].reset();
        hdmi_receiver[c].reset();
        hdmi_transmitter[c].reset();
    }
    power_manager.reset();
    i2c_bus.reset();
}
