// The HDMI receiver of one video channel (ADV7619, eight register maps on the channel's
// I2C bus). It resets and programs the chip from a register table, loads the EDID the
// receiver announces to its source, reports the TMDS clock, the measured resolution and
// sync polarities, services the INT1 line and sets the output bus width and sync
// inversion. Log prefix "RX: ".
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "common/channel.h"
#include "controller/devices/i2c.h"

// Register map addresses (7-bit).
constexpr uint8_t ADV7619_IO = 0x4C;
constexpr uint8_t ADV7619_CEC = 0x50;
constexpr uint8_t ADV7619_INFOFRAME = 0x52;
constexpr uint8_t ADV7619_DPLL = 0x54;
constexpr uint8_t ADV7619_REPEATER = 0x56;
constexpr uint8_t ADV7619_EDID = 0x58;
constexpr uint8_t ADV7619_HDMI = 0x5A;
constexpr uint8_t ADV7619_CP = 0x5C;

constexpr uint16_t ADV7619_EXPECTED_REVISION = 0x20C1;
constexpr int EDID_SIZE = 256;

constexpr uint16_t HDMI_RX_1080_ROWS = 60;
constexpr uint16_t HDMI_RX_OUTPUT_ROWS = 5;
extern const i2c_register_entry HDMI_RX_1080[HDMI_RX_1080_ROWS];
extern const i2c_register_entry HDMI_RX_OUTPUT_24b_SDR_444_MODE_0[HDMI_RX_OUTPUT_ROWS];
extern const i2c_register_entry HDMI_RX_OUTPUT_48b_SDR_444_MODE_0[HDMI_RX_OUTPUT_ROWS];

// The EDID both receivers announce; a file load replaces it for later loads too.
extern uint8_t EDID[EDID_SIZE];
// The built-in EDID, never changed: what "using defaults" loads.
extern const uint8_t EDID_DEFAULT[EDID_SIZE];

enum class EdidFileResult { Loaded, NotFound, WrongSize };
// Reads an EDID file into `table` only when it holds exactly EDID_SIZE bytes; a file of
// another size leaves `table` untouched.
EdidFileResult read_edid_file(const char* filename, uint8_t (&table)[EDID_SIZE]);

class hdmi_rx {
public:
    hdmi_rx(channel ch, int interrupt_pin);

    int configure_hdmi_rx(const i2c_register_entry* table, uint16_t rows, const char* edid_config_file);
    int configure_edid(const char* filename);
    int get_hdmi_rx_tmds_frequency(float& MHz, bool debug);
    int get_hdmi_resolution(std::pair<unsigned, unsigned>& active, std::pair<unsigned, unsigned>& total,
                            bool debug);
    int get_sync_input_polarity(bool& vsyncActiveHigh, bool& hsyncActiveHigh);
    int set_sync_output_inversion(bool invertVsync, bool invertHsync);
    int set_output_mode(bool use48bit);
    unsigned get_deep_color_mode();
    int check_interrupts(uint32_t* video3D, bool& newTMDSfrq, bool& vlock_changed, bool& vlocked);
    int inputDetected();

private:
    uint8_t read(uint8_t map, uint8_t reg);
    int write(uint8_t map, uint8_t reg, uint8_t value);
    const char* name() const;
    void pulseHotPlug();

    channel my_channel;
    uint8_t my_i2c_bus;
    int my_interrupt_pin;
    uint32_t lastVideo3D;
    // An INT1 line that stays asserted after clearing (a dead or unpowered chip) would log
    // the whole interrupt service on every pass of the main loop.
    RepeatedFault stuckInterrupt{"RX: ERROR: INT1 stays asserted after clearing"};
    int hdmi_fd = -1, repeater_fd = -1, edid_fd = -1, io_fd = -1, cec_fd = -1, infoframe_fd = -1,
        dpll_fd = -1, cp_fd = -1;
    // A failed read leaves the previous byte in the buffer.
    uint8_t last_read = 0;
};
