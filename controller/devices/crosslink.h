// The video bridge in each display channel's path to its panel, at 0x28 on the channel's
// I2C bus. Its configuration is loaded by the external programming tool; once configured
// it reports its revision and can show a one-bit splash picture that the controller sends
// over I2C. Log prefix "XL: ".
#pragma once

#include <cstdint>
#include <string>

#include "common/channel.h"

class i2c_handler;

constexpr uint8_t CROSSLINK_I2C_ADDRESS = 0x28;

class crosslink {
public:
    // Registers the bridge of `chan` with `i2c`; `algofile` and `datafile` are the two
    // configuration files handed to the programming tool.
    crosslink(i2c_handler* i2c, chan_t chan, std::string algofile, std::string datafile);

    // Loads the configuration with the programming tool, up to three runs: 0, or the
    // tool's exit status.
    int configure();
    // The bridge's revision (0..127); 0 when it cannot be read.
    int version();
    // Sends `image_file` (from "./resources/") first when it is named, then switches the
    // splash picture on or off: the status of that last write.
    int splash_screen(bool on, const std::string& image_file);
    // Sends a BMP as the splash picture: 0, or -1 when it cannot be loaded or sent.
    int write_bmp_file(const std::string& path);

    int revision_read() const { return revision; }

private:
    // Register 0 reads the revision in bits 0..6 and the splash state in bit 7.
    static constexpr uint8_t REG_SPLASH_CONTROL = 0;
    static constexpr uint8_t REG_IMAGE_WRITE = 1;
    static constexpr uint8_t IMAGE_DATA_COMMAND = 0x02;
    static constexpr uint8_t REVISION_MASK = 0x7F;
    static constexpr uint8_t SPLASH_STATE_BIT = 0x80;
    static constexpr int CONFIGURE_RUNS = 3;
    // The bridge takes the picture in blocks of this many rows.
    static constexpr unsigned ROWS_PER_BLOCK = 32;
    // A pixel brighter than this in any component is lit (a 0 bit).
    static constexpr unsigned DARK_LEVEL = 3;

    uint8_t bus() const;
    int reset_pin() const;
    int send_image_blocks(const class bitmap& image);

    i2c_handler* i2c;
    chan_t channel;
    std::string algo_name;
    std::string data_name;
    int revision;
    uint8_t last_control = 0;
};
