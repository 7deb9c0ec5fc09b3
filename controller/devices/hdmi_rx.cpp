#include "controller/devices/hdmi_rx.h"

#include <cstdio>
#include <cstring>

#include "common/logfile.h"
#include "controller/core/devices.h"
#include "platform/wiringPi.h"

std::unique_ptr<hdmi_rx> hdmi_receiver[CHANNELS];

namespace {

// IO map.
constexpr uint8_t IO_OUTPUT_SYNC = 0x06;
constexpr uint8_t HSYNC_INVERT_BIT = 0x02;
constexpr uint8_t VSYNC_INVERT_BIT = 0x04;
constexpr uint8_t IO_HOT_PLUG = 0x20;
constexpr uint8_t HOT_PLUG_BIT = 0x80;
constexpr uint8_t IO_RAW_STATUS_1 = 0x60;
constexpr uint8_t IO_RAW_STATUS_2 = 0x65;
constexpr uint8_t IO_RAW_STATUS_3 = 0x6A;
constexpr uint8_t IO_LEVEL_STATUS_3 = 0x6B;
constexpr uint8_t IO_LEVEL_CLEAR_3 = 0x6C;
constexpr uint8_t IO_RAW_STATUS_4 = 0x6F;
constexpr uint8_t IO_EDGE_STATUS_3 = 0x84;
constexpr uint8_t IO_EDGE_CLEAR_3 = 0x85;
constexpr uint8_t IO_REVISION_HIGH = 0xEA;
constexpr uint8_t IO_REVISION_LOW = 0xEB;
constexpr uint8_t IO_RESET = 0xFF;
constexpr uint8_t IO_RESET_VALUE = 0x80;
constexpr uint8_t IO_STATUS_04 = 0x04;

// Raw and level status 3 bits.
constexpr uint8_t VERTICAL_LOCK_BIT = 0x02;
constexpr uint8_t VIDEO_3D_BIT = 0x04;
constexpr uint8_t TMDS_CLOCK_BIT = 0x10;
constexpr uint8_t TMDS_PLL_LOCK_BIT = 0x40;
constexpr uint8_t CABLE_BIT = 0x01;
constexpr uint8_t TMDS_CHANGE_BIT = 0x02;
constexpr int VIDEO_3D_SHIFT = 2;

// HDMI map.
constexpr uint8_t HDMI_STATUS_04 = 0x04;
constexpr uint8_t HDMI_SYNC_POLARITY = 0x05;
constexpr uint8_t VSYNC_HIGH_BIT = 0x10;
constexpr uint8_t HSYNC_HIGH_BIT = 0x20;
constexpr uint8_t HDMI_LINE_WIDTH_1 = 0x07;
constexpr uint8_t HDMI_LINE_WIDTH_2 = 0x08;
constexpr uint8_t HDMI_FIELD0_HEIGHT_1 = 0x09;
constexpr uint8_t HDMI_FIELD0_HEIGHT_2 = 0x0A;
constexpr uint8_t HDMI_DEEP_COLOR = 0x0B;
constexpr int DEEP_COLOR_SHIFT = 6;
constexpr uint8_t DEEP_COLOR_MASK = 0x03;
constexpr uint8_t HDMI_TOTAL_WIDTH_1 = 0x1E;
constexpr uint8_t HDMI_TOTAL_WIDTH_2 = 0x1F;
constexpr uint8_t HDMI_FIELD0_TOTAL_1 = 0x26;
constexpr uint8_t HDMI_FIELD0_TOTAL_2 = 0x27;
constexpr uint8_t DE_REGEN_LOCK_BIT = 0x20;
constexpr uint8_t VERT_FILTER_LOCK_BIT = 0x80;
constexpr uint8_t HDMI_TMDSFREQ_1 = 0x51;
constexpr uint8_t HDMI_TMDSFREQ_2 = 0x52;
constexpr uint8_t HDMI_EDID_SETUP = 0x5A;
constexpr uint8_t HDMI_EDID_SETUP_VALUE = 0x08;
constexpr uint8_t HDMI_HOT_PLUG_CONTROL = 0x6C;
constexpr uint8_t HDMI_HOT_PLUG_MANUAL_BIT = 0x01;

// Repeater map.
constexpr uint8_t REPEATER_HDCP_EDID_CONTROLS = 0x74;
constexpr uint8_t EDID_ENABLE = 0x01;

constexpr unsigned FIVE_BITS = 0x1F, SIX_BITS = 0x3F, THIRTEEN_BITS = 0x1FFF;
constexpr unsigned BYTE_SCALE = 256;
constexpr float TMDS_FRACTION_SCALE = 128.0f; // 9 integer and 7 fraction bits
constexpr unsigned HALF_LINES = 2;            // field-0 total height is in half lines
constexpr int RESET_SETTLE_MS = 100;
constexpr int EDID_SETUP_SETTLE_MS = 10;
constexpr int INTERRUPT_CLEAR_SETTLE_MS = 1;
constexpr int EDID_BYTES_PER_LINE = 16;
constexpr int REVISION_SHIFT = 8;
// A file this much longer than an EDID is already known to be the wrong size.
constexpr size_t EDID_READ_LIMIT = EDID_SIZE + 1;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

// EDID registers read back after a load, for the log.
constexpr uint8_t EDID_CHECK_FIRST[] = {0x00, 0x01, 0x7F, 0xFF};
constexpr uint8_t EDID_CHECK_AFTER_ENABLE[] = {0x7F, 0xFF};

} // namespace

EdidFileResult read_edid_file(const char* filename, uint8_t (&table)[EDID_SIZE]) {
    std::unique_ptr<FILE, FileCloser> file(fopen(filename, "rb"));
    if (!file) {
        return EdidFileResult::NotFound;
    }
    uint8_t buffer[EDID_READ_LIMIT];
    const size_t count = fread(buffer, 1, sizeof buffer, file.get());
    if (count != EDID_SIZE) {
        return EdidFileResult::WrongSize;
    }
    std::memcpy(table, buffer, EDID_SIZE);
    return EdidFileResult::Loaded;
}

hdmi_rx::hdmi_rx(channel ch, int interrupt_pin)
    : my_channel(ch), my_i2c_bus(HDMI_I2C_BUS[ch == RIGHT ? RIGHT : LEFT]), my_interrupt_pin(interrupt_pin),
      lastVideo3D(0) {
    stuckInterrupt.rename(std::string("RX: ERROR: ") + name() + " INT1 stays asserted after clearing");
    pinMode(my_interrupt_pin, INPUT);
    if (!i2c_bus) {
        return;
    }
    hdmi_fd = i2c_bus->register_device(my_i2c_bus, ADV7619_HDMI, "hdmi_rx_hdmi_fd", "hdmi_rx");
    repeater_fd = i2c_bus->register_device(my_i2c_bus, ADV7619_REPEATER, "hdmi_rx_repeater_fd", "hdmi_rx");
    edid_fd = i2c_bus->register_device(my_i2c_bus, ADV7619_EDID, "hdmi_rx_edid_fd", "hdmi_rx");
    io_fd = i2c_bus->register_device(my_i2c_bus, ADV7619_IO, "hdmi_rx_io_fd", "hdmi_rx");
    cec_fd = i2c_bus->register_device(my_i2c_bus, ADV7619_CEC, "hdmi_rx_cec_fd", "hdmi_rx");
    infoframe_fd = i2c_bus->register_device(my_i2c_bus, ADV7619_INFOFRAME, "hdmi_rx_infoframe_fd", "hdmi_rx");
    dpll_fd = i2c_bus->register_device(my_i2c_bus, ADV7619_DPLL, "hdmi_rx_dpll_fd", "hdmi_rx");
    cp_fd = i2c_bus->register_device(my_i2c_bus, ADV7619_CP, "hdmi_rx_cp_fd", "hdmi_rx");
}

const char* hdmi_rx::name() const {
    return my_channel == RIGHT ? "RIGHT" : "LEFT";
}

uint8_t hdmi_rx::read(uint8_t map, uint8_t reg) {
    if (i2c_bus) {
        i2c_bus->read_byte(my_i2c_bus, map, reg, &last_read);
    }
    return last_read;
}

int hdmi_rx::write(uint8_t map, uint8_t reg, uint8_t value) {
    return i2c_bus ? i2c_bus->write_byte(my_i2c_bus, map, reg, value, true) : -1;
}

int hdmi_rx::configure_hdmi_rx(const i2c_register_entry* table, uint16_t rows, const char* edid_config_file) {
    logprintf("RX: configure_hdmi_rx\n");
    if (!i2c_bus || i2c_bus->write_byte(my_i2c_bus, ADV7619_IO, IO_RESET, IO_RESET_VALUE, false) != 0) {
        logprintferror("RX: ERROR: Failed to write Chip Reset!");
        return 0;
    }
    delay(RESET_SETTLE_MS);
    uint8_t low = 0, high = 0;
    if (i2c_bus->read_byte(my_i2c_bus, ADV7619_IO, IO_REVISION_LOW, &low) != 0) {
        logprintferror("RX: ERROR: Failed to read Chip Revision!");
        return 0;
    }
    if (i2c_bus->read_byte(my_i2c_bus, ADV7619_IO, IO_REVISION_HIGH, &high) != 0) {
        return 0;
    }
    const unsigned revision = static_cast<unsigned>(high) << REVISION_SHIFT | low;
    logprintf("RX: Bus %d; ADV7619 Revision : %04x; Expected : %04x\n", my_i2c_bus, revision,
              ADV7619_EXPECTED_REVISION);
    if (revision != ADV7619_EXPECTED_REVISION) {
        return 0;
    }
    if (i2c_bus->configure_i2c_device(my_i2c_bus, table, rows) != 0) {
        return 0;
    }
    // configure_edid reports 0 for success; this call reports 1.
    return configure_edid(edid_config_file) == 0 ? 1 : 0;
}

void hdmi_rx::pulseHotPlug() {
    // The source sees the hot-plug line drop and rise again and reads the new EDID.
    const uint8_t hotPlugControl = read(ADV7619_HDMI, HDMI_HOT_PLUG_CONTROL);
    write(ADV7619_HDMI, HDMI_HOT_PLUG_CONTROL, hotPlugControl | HDMI_HOT_PLUG_MANUAL_BIT);
    const uint8_t io20 = read(ADV7619_IO, IO_HOT_PLUG);
    write(ADV7619_IO, IO_HOT_PLUG, io20 & static_cast<uint8_t>(~HOT_PLUG_BIT));
    write(ADV7619_IO, IO_HOT_PLUG, io20 | HOT_PLUG_BIT);
    write(ADV7619_HDMI, HDMI_HOT_PLUG_CONTROL, hotPlugControl);
}

int hdmi_rx::configure_edid(const char* filename) {
    logprintf("configure_edid on i2c bus %d\n", my_i2c_bus);
    const uint8_t* table = EDID;
    if (filename && filename[0]) {
        logprintf("Initialising EDID table from '%s'\n", filename);
        switch (read_edid_file(filename, EDID)) {
        case EdidFileResult::Loaded:
            break;
        case EdidFileResult::WrongSize:
            // Refused: the table loaded before stays, and so does the controller.
            logprintf("EDID Config file size incorrect\n");
            break;
        case EdidFileResult::NotFound:
            logprintf("EDID Config file '%s' not found - using defaults.\n", filename);
            table = EDID_DEFAULT;
            break;
        }
    }
    int status = write(ADV7619_HDMI, HDMI_EDID_SETUP, HDMI_EDID_SETUP_VALUE);
    delay(EDID_SETUP_SETTLE_MS);
    const uint8_t controls = read(ADV7619_REPEATER, REPEATER_HDCP_EDID_CONTROLS);
    logprintf("ADV7619_REPEATER_HDCP_EDID_CONTROLS = 0x%02x\n", controls);
    if (controls != 0) {
        logprintf("ERROR\r\n");
    }
    char line[EDID_BYTES_PER_LINE * 3 + 2];
    for (int row = 0; row < EDID_SIZE / EDID_BYTES_PER_LINE; ++row) {
        int used = 0;
        for (int col = 0; col < EDID_BYTES_PER_LINE; ++col) {
            const int index = row * EDID_BYTES_PER_LINE + col;
            status |= write(ADV7619_EDID, static_cast<uint8_t>(index), table[index]);
            used += snprintf(line + used, sizeof line - used, "%02x ", table[index]);
        }
        logprintf("%s\n", line);
    }
    for (uint8_t reg : EDID_CHECK_FIRST) {
        logprintf("read_byte 0x%02x=%02x\n", reg, read(ADV7619_EDID, reg));
    }
    status |= write(ADV7619_REPEATER, REPEATER_HDCP_EDID_CONTROLS, EDID_ENABLE);
    logprintf("ADV7619_REPEATER_HDCP_EDID_CONTROLS = %02x\n",
              read(ADV7619_REPEATER, REPEATER_HDCP_EDID_CONTROLS));
    for (uint8_t reg : EDID_CHECK_AFTER_ENABLE) {
        logprintf("read_byte 0x%02x=%02x\n", reg, read(ADV7619_EDID, reg));
    }
    pulseHotPlug();
    logprintf("configure_edid %d done; status = %d\n", my_i2c_bus, status);
    return status;
}

int hdmi_rx::get_hdmi_rx_tmds_frequency(float& MHz, bool debug) {
    const uint8_t raw1 = read(ADV7619_IO, IO_RAW_STATUS_1);
    const uint8_t raw2 = read(ADV7619_IO, IO_RAW_STATUS_2);
    const uint8_t raw3 = read(ADV7619_IO, IO_RAW_STATUS_3);
    const uint8_t raw4 = read(ADV7619_IO, IO_RAW_STATUS_4);
    const int cable = raw4 & CABLE_BIT ? 1 : 0;
    const int clock = raw3 & TMDS_CLOCK_BIT ? 1 : 0;
    const int pll = raw3 & TMDS_PLL_LOCK_BIT ? 1 : 0;
    if (debug) {
        logprintf("RX: VRX_REG_HDMI_LVL_RAW_STATUS = %02x %02x %02x %02x\n", raw1, raw2, raw3, raw4);
        logprintf("RX: Cable Connected     : %d\n", cable);
        logprintf("RX: TMDS Clock Detected : %d\n", clock);
        logprintf("RX: TMDS Clock PLL Lock : %d\n", pll);
    }
    if (!(cable && clock && pll)) {
        if (debug) {
            logprintforange("RX: TMDS frequency invalid\n");
        }
        return 0;
    }
    if (debug) {
        logprintf("RX: Reg HDMI 0x04 = %02x\n", read(ADV7619_HDMI, HDMI_STATUS_04));
        logprintf("RX: Reg IO   0x04 = %02x\n", read(ADV7619_IO, IO_STATUS_04));
    }
    const uint8_t f1 = read(ADV7619_HDMI, HDMI_TMDSFREQ_1);
    const uint8_t f2 = read(ADV7619_HDMI, HDMI_TMDSFREQ_2);
    MHz = static_cast<float>(f1 * BYTE_SCALE + f2) / TMDS_FRACTION_SCALE;
    if (debug) {
        logprintf("RX: TMDSFREQ = %02x %02x (%f MHz)\n", f1, f2, static_cast<double>(MHz));
    }
    return 1;
}

int hdmi_rx::get_hdmi_resolution(std::pair<unsigned, unsigned>& active, std::pair<unsigned, unsigned>& total,
                                 bool debug) {
    const uint8_t width1 = read(ADV7619_HDMI, HDMI_LINE_WIDTH_1);
    const bool deRegen = width1 & DE_REGEN_LOCK_BIT;
    const bool vertFilter = width1 & VERT_FILTER_LOCK_BIT;
    if (!deRegen || !vertFilter) {
        if (debug) {
            logprintforange("RX: DE regen filter: %d, Vert filter: %d\n", deRegen ? 1 : 0,
                            vertFilter ? 1 : 0);
        }
        return 0;
    }
    active.first = (width1 & FIVE_BITS) * BYTE_SCALE + read(ADV7619_HDMI, HDMI_LINE_WIDTH_2);
    active.second = (read(ADV7619_HDMI, HDMI_FIELD0_HEIGHT_1) & FIVE_BITS) * BYTE_SCALE +
                    read(ADV7619_HDMI, HDMI_FIELD0_HEIGHT_2);
    total.first = (read(ADV7619_HDMI, HDMI_TOTAL_WIDTH_1) & SIX_BITS) * BYTE_SCALE +
                  read(ADV7619_HDMI, HDMI_TOTAL_WIDTH_2);
    const unsigned halfLines =
        read(ADV7619_HDMI, HDMI_FIELD0_TOTAL_1) * BYTE_SCALE + read(ADV7619_HDMI, HDMI_FIELD0_TOTAL_2);
    total.second = (halfLines / HALF_LINES) & THIRTEEN_BITS;
    if (debug) {
        logprintf("RX: active resolution %dx%d\n", active.first, active.second);
        logprintf("RX: total resolution %dx%d\n", total.first, total.second);
    }
    return 1;
}

int hdmi_rx::get_sync_input_polarity(bool& vsyncActiveHigh, bool& hsyncActiveHigh) {
    uint8_t value = last_read;
    const int result =
        i2c_bus ? i2c_bus->read_byte(my_i2c_bus, ADV7619_HDMI, HDMI_SYNC_POLARITY, &value) : -1;
    last_read = value;
    vsyncActiveHigh = value & VSYNC_HIGH_BIT;
    hsyncActiveHigh = value & HSYNC_HIGH_BIT;
    return result;
}

int hdmi_rx::set_sync_output_inversion(bool invertVsync, bool invertHsync) {
    logprintf("RX: set HSync %c (%d)\n", invertHsync ? '+' : '-', invertHsync ? 1 : 0);
    logprintf("RX: set VSync %c (%d)\n", invertVsync ? '+' : '-', invertVsync ? 1 : 0);
    uint8_t value = read(ADV7619_IO, IO_OUTPUT_SYNC);
    value = invertHsync ? (value | HSYNC_INVERT_BIT) : (value & static_cast<uint8_t>(~HSYNC_INVERT_BIT));
    value = invertVsync ? (value | VSYNC_INVERT_BIT) : (value & static_cast<uint8_t>(~VSYNC_INVERT_BIT));
    return write(ADV7619_IO, IO_OUTPUT_SYNC, value);
}

int hdmi_rx::set_output_mode(bool use48bit) {
    if (!i2c_bus) {
        return -1;
    }
    return i2c_bus->configure_i2c_device(
        my_i2c_bus, use48bit ? HDMI_RX_OUTPUT_48b_SDR_444_MODE_0 : HDMI_RX_OUTPUT_24b_SDR_444_MODE_0,
        HDMI_RX_OUTPUT_ROWS);
}

unsigned hdmi_rx::get_deep_color_mode() {
    return (read(ADV7619_HDMI, HDMI_DEEP_COLOR) >> DEEP_COLOR_SHIFT) & DEEP_COLOR_MASK;
}

int hdmi_rx::check_interrupts(uint32_t* video3D, bool& newTMDSfrq, bool& vlock_changed, bool& vlocked) {
    *video3D = lastVideo3D;
    if (digitalRead(my_interrupt_pin) == LOW) {
        // While the line is stuck the service runs as always but logs nothing; the stuck
        // line itself is reported once and summarised.
        const bool quiet = stuckInterrupt.active();
        auto note = [quiet](auto... args) {
            if (!quiet) {
                logprintf(args...);
            }
        };
        note("RX: check_interrupts %s: Interrupt\n", name());
        const uint8_t level = read(ADV7619_IO, IO_LEVEL_STATUS_3);
        note("RX: check_interrupts %5s: LVL STATUS3 %02x\n", name(), level);
        write(ADV7619_IO, IO_LEVEL_CLEAR_3, level);
        const bool changed3D = level & VIDEO_3D_BIT;
        vlock_changed = level & VERTICAL_LOCK_BIT;
        if (changed3D || vlock_changed) {
            const uint8_t raw = read(ADV7619_IO, IO_RAW_STATUS_3);
            note("RX: check_interrupts %5s: LVL RAW3 %02x\n", name(), raw);
            *video3D = (raw & VIDEO_3D_BIT) >> VIDEO_3D_SHIFT;
            vlocked = raw & VERTICAL_LOCK_BIT;
            if (changed3D) {
                note("RX: check_interrupts %5s: 3D Status Change (%d)\n", name(), static_cast<int>(*video3D));
            }
            if (vlock_changed) {
                note("RX: check_interrupts %5s: VSync filter lock changed (%d)\n", name(), vlocked ? 1 : 0);
            }
        }
        const uint8_t edge = read(ADV7619_IO, IO_EDGE_STATUS_3);
        note("RX: check_interrupts %5s: EDG STATUS3 %02x\n", name(), edge);
        write(ADV7619_IO, IO_EDGE_CLEAR_3, edge);
        newTMDSfrq = edge & TMDS_CHANGE_BIT;
        if (newTMDSfrq) {
            note("RX: check_interrupts %5s: TMDS frequency change\n", name());
        }
        delay(INTERRUPT_CLEAR_SETTLE_MS);
        if (digitalRead(my_interrupt_pin) == LOW) {
            if (stuckInterrupt.failed()) {
                logprintf("RX: check_interrupts %5s: Interrupt is still asserted after clearing\n", name());
            }
        } else {
            stuckInterrupt.cleared();
        }
    }
    if (*video3D == lastVideo3D) {
        return 0;
    }
    lastVideo3D = *video3D;
    return 1;
}

int hdmi_rx::inputDetected() {
    read(ADV7619_IO, IO_REVISION_HIGH); // read first, value not used
    return (read(ADV7619_IO, IO_RAW_STATUS_3) & VERTICAL_LOCK_BIT) ? 1 : 0;
}
