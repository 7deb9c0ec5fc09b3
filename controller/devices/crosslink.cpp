#include "controller/devices/crosslink.h"

#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "common/logfile.h"
#include "controller/core/devices.h"
#include "controller/core/pin_nums.h"
#include "controller/devices/i2c.h"
#include "controller/image/bitmap.h"
#include "platform/platform.h"

namespace {

constexpr const char* DEVICE_NAMES[2] = {"crosslink_Left", "Crosslink_Right"};
constexpr const char* CALLER = "crosslink";
constexpr const char* TOOL = "./CrosslinkProgrammer";
constexpr unsigned BITS_PER_BYTE = 8;

const char* loadError(int code) {
    switch (code) {
    case BM_NOT_OPENED:
        return "XL: ERROR: splash image '%s' not found";
    case BM_EMPTY:
        return "XL: ERROR: splash image '%s' has zero size";
    case BM_NO_MEMORY:
        return "XL: ERROR: splash image '%s' memory Error";
    case BM_SHORT_READ:
        return "XL: ERROR: splash image '%s' read error";
    case BM_COMPRESSED:
        return "XL: ERROR: splash image '%s' is compressed and not handled";
    default: // not a BMP, or a header that does not fit the file
        return "XL: ERROR: splash image '%s' not a BMP file";
    }
}

} // namespace

std::unique_ptr<crosslink> video_bridge[CHANNELS];

crosslink::crosslink(i2c_handler* i2c, chan_t chan, std::string algofile, std::string datafile)
    : i2c(i2c), channel(chan), algo_name(std::move(algofile)), data_name(std::move(datafile)), revision(0) {
    if (i2c) {
        i2c->register_device(bus(), CROSSLINK_I2C_ADDRESS, DEVICE_NAMES[channel == RIGHT], CALLER);
    }
}

uint8_t crosslink::bus() const {
    return channel == RIGHT ? I2C_BUS_VCTL_R : I2C_BUS_VCTL_L;
}

int crosslink::reset_pin() const {
    return channel == RIGHT ? MIPI_CONF_R_Pin : MIPI_CONF_L_Pin;
}

int crosslink::configure() {
    const std::string command = std::string(TOOL) + " " + platform::shellQuote(algo_name) + " " +
                                platform::shellQuote(data_name) + " " + std::to_string(bus()) + " " +
                                std::to_string(reset_pin());
    logprintf("XL: Configuring\n");
    int status = 0;
    {
        // The tool drives the bridge's bus itself: nothing else may use it meanwhile.
        std::optional<i2c_handler::BusLock> lock;
        if (i2c) {
            lock.emplace(*i2c);
        }
        for (int run = 1; run <= CONFIGURE_RUNS; ++run) {
            status = platform::shell(command);
            if (status == 0 || run == CONFIGURE_RUNS) {
                break;
            }
            logprintf("XL: Retrying\n");
        }
        // The tool may have left the bus switch on another channel.
        if (i2c) {
            i2c->select_no_bus();
        }
    }
    logprintf("XL: Conf%s\n", status == 0 ? "PASS" : "FAIL");
    return status;
}

int crosslink::version() {
    uint8_t value = 0;
    if (!i2c || i2c->read_byte(bus(), CROSSLINK_I2C_ADDRESS, REG_SPLASH_CONTROL, &value) != 0) {
        value = 0;
    }
    last_control = value;
    revision = value & REVISION_MASK;
    return revision;
}

int crosslink::splash_screen(bool on, const std::string& image_file) {
    if (!image_file.empty() && i2c) {
        i2c->write_byte(bus(), CROSSLINK_I2C_ADDRESS, REG_SPLASH_CONTROL, 0, true);
        write_bmp_file("./resources/" + image_file);
    }
    logprintf("XL: splash screen %s\n", on ? "on" : "off");
    const int status =
        i2c ? i2c->write_byte(bus(), CROSSLINK_I2C_ADDRESS, REG_SPLASH_CONTROL, on ? 1 : 0, true) : -1;
    version();
    logprintf("XL: splash state %02x\n", unsigned((last_control & SPLASH_STATE_BIT) != 0));
    return status;
}

int crosslink::write_bmp_file(const std::string& path) {
    bitmap image;
    const int loaded = image.load(path);
    if (loaded != BM_OK) {
        logprintferror(loadError(loaded), path.c_str());
        return -1;
    }
    if (!i2c) {
        return -1;
    }
    // Register 1 going high then low starts a new picture at its first row.
    i2c->write_byte(bus(), CROSSLINK_I2C_ADDRESS, REG_IMAGE_WRITE, 1, true);
    i2c->write_byte(bus(), CROSSLINK_I2C_ADDRESS, REG_IMAGE_WRITE, 0, true);
    return send_image_blocks(image);
}

// Rows in file order, eight pixels a byte with the first in the top bit, a dark pixel a 1
// bit. A row ends on a whole byte, the last one padded with lit pixels.
int crosslink::send_image_blocks(const bitmap& image) {
    const unsigned width = image.width();
    const unsigned height = image.height();
    const unsigned rowBytes = (width + BITS_PER_BYTE - 1) / BITS_PER_BYTE;
    const size_t blockBytes = 1 + size_t(ROWS_PER_BLOCK) * rowBytes;
    if (blockBytes > std::numeric_limits<uint16_t>::max()) {
        logprintferror("XL: ERROR: splash image is %u pixels wide, too wide to send", width);
        return -1;
    }
    std::vector<pixel> row(width);
    std::vector<uint8_t> block;
    block.reserve(blockBytes);
    block.push_back(IMAGE_DATA_COMMAND);
    for (unsigned y = 0; y < height; ++y) {
        image.getline(y, row.data(), width);
        for (unsigned byte = 0; byte < rowBytes; ++byte) {
            uint8_t bits = 0;
            for (unsigned bit = 0; bit < BITS_PER_BYTE; ++bit) {
                const unsigned x = byte * BITS_PER_BYTE + bit;
                if (x < width && !row[x].bright(DARK_LEVEL)) {
                    bits |= uint8_t(0x80u >> bit);
                }
            }
            block.push_back(bits);
        }
        // The bridge takes whole blocks only: rows after the last full block stay unsent.
        if (block.size() == blockBytes) {
            i2c->write_buffer(bus(), CROSSLINK_I2C_ADDRESS, uint16_t(blockBytes), block.data());
            block.resize(1);
        }
    }
    return 0;
}
