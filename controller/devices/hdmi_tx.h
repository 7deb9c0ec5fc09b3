// The HDMI transmitter of one video channel, the output for an external monitor; the
// left one can be switched to 3D output. It programs the chip from a register table,
// tracks the monitor's hot plug through the shared interrupt line and reads the monitor's
// EDID. Log prefix "TX: ".
#pragma once

#include <cstdint>
#include <memory>

#include "common/channel.h"
#include "controller/devices/i2c.h"

constexpr uint8_t HDMI_TX_MAIN = 0x39;
constexpr uint8_t HDMI_TX_3D = 0x38;

constexpr uint16_t HDMI_TX_1200_ROWS = 31;
constexpr uint16_t HDMI_3DTX_1200_ROWS = 21;
extern const i2c_register_entry HDMI_TX_1200[HDMI_TX_1200_ROWS];
extern const i2c_register_entry HDMI_3DTX_1200[HDMI_3DTX_1200_ROWS];

constexpr int HDMI_TX_EDID_SIZE = 256;

class hdmi_tx {
public:
    explicit hdmi_tx(channel ch);

    int configure_hdmi_tx();
    int configure_hdmi_3dtx();
    unsigned check_connected();
    int read_EDID();

    // The monitor's EDID as last read.
    const uint8_t* edid() const { return monitor_edid; }

private:
    uint8_t read(uint8_t reg, int* status = nullptr);
    int write(uint8_t reg, uint8_t value);
    int readEdidPort(uint8_t* data);
    const char* name() const;

    uint8_t my_i2c_bus;
    uint8_t my_channel;
    bool outputMode3D;
    uint32_t connected;
    uint8_t last_read = 0;
    uint8_t monitor_edid[HDMI_TX_EDID_SIZE] = {};
};
