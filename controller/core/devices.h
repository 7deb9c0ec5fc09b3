// The controller's device objects: one of each, created by the bring-up and kept until
// the process ends. An empty pointer means the device is absent (switched off or not
// answering), and every user checks for it.
//
// Each pointer is defined beside its class (`std::unique_ptr<ostrixFpga> fpga;` in the
// FPGA's source), so that the class is complete where the owner is destroyed.
#pragma once

#include <memory>

#include "controller/core/OstrixPi.h"

class i2c_handler;
class ltc2977_handler;
class UserControls;
class clocks;
class crosslink;
class ostrixFpga;
class hdmi_rx;
class hdmi_tx;
class CameraBoard;
class audio;
class LightingControl;

extern std::unique_ptr<i2c_handler> i2c_bus;
extern std::unique_ptr<ltc2977_handler> power_manager;
extern std::unique_ptr<UserControls> user_controls;
extern std::unique_ptr<clocks> clock_generator;
extern std::unique_ptr<crosslink> video_bridge[CHANNELS];
extern std::unique_ptr<ostrixFpga> fpga;
extern std::unique_ptr<hdmi_rx> hdmi_receiver[CHANNELS];
extern std::unique_ptr<hdmi_tx> hdmi_transmitter[CHANNELS];
extern std::unique_ptr<CameraBoard> camera_board;
extern std::unique_ptr<audio> audio_codec;
extern std::unique_ptr<LightingControl> lighting;

// Releases every device object in an order that keeps each one's dependencies alive while
// it closes (the program's end, and tests that bring the board up).
void release_devices();
