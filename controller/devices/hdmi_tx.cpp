#include "controller/devices/hdmi_tx.h"

#include <cstdio>

#include "common/logfile.h"
#include "controller/core/devices.h"
#include "controller/core/pin_nums.h"
#include "platform/wiringPi.h"

std::unique_ptr<hdmi_tx> hdmi_transmitter[CHANNELS];

namespace {

constexpr uint8_t TX_POWER = 0x41;
constexpr uint8_t TX_POWER_UP = 0x10;
constexpr uint8_t TX_HOT_PLUG_STATE = 0x42;
constexpr uint8_t HOT_PLUG_STATE_BIT = 0x40;
constexpr uint8_t MONITOR_SENSE_BIT = 0x20;
constexpr uint8_t TX_EDID_CONTROL = 0x44;
constexpr uint8_t EDID_CONTROL_BIT = 0x01;
constexpr uint8_t TX_INTERRUPT_MASK = 0x94;
constexpr uint8_t TX_INTERRUPT_STATUS = 0x96;
constexpr uint8_t HOT_PLUG_INTERRUPT = 0x80;
constexpr uint8_t EDID_READY_INTERRUPT = 0x04;
constexpr uint8_t TX_EDID_PORT = 0x7E;
constexpr int EDID_BYTES_PER_LINE = 16;

constexpr uint32_t TX_DISCONNECTED = 0;
constexpr uint32_t TX_CONNECTED = 1;
constexpr uint32_t TX_EDID_READ = 3;

} // namespace

hdmi_tx::hdmi_tx(channel ch)
    : my_i2c_bus(HDMI_I2C_BUS[ch == RIGHT ? RIGHT : LEFT]), my_channel(static_cast<uint8_t>(ch)),
      outputMode3D(false), connected(TX_DISCONNECTED) {
    pinMode(HDMI_TX_INT_N_Pin, INPUT);
    if (i2c_bus) {
        i2c_bus->register_device(my_i2c_bus, HDMI_TX_MAIN, "hdmi_tx_base", "hdmi_tx");
        i2c_bus->register_device(my_i2c_bus, HDMI_TX_3D, "hdmi_tx_3D", "hdmi_tx");
    }
}

const char* hdmi_tx::name() const {
    return my_channel == RIGHT ? "RIGHT" : "LEFT";
}

uint8_t hdmi_tx::read(uint8_t reg, int* status) {
    const int result = i2c_bus ? i2c_bus->read_byte(my_i2c_bus, HDMI_TX_MAIN, reg, &last_read) : -1;
    if (status) {
        *status = result;
    }
    return last_read;
}

int hdmi_tx::write(uint8_t reg, uint8_t value) {
    return i2c_bus ? i2c_bus->write_byte(my_i2c_bus, HDMI_TX_MAIN, reg, value, true) : -1;
}

int hdmi_tx::configure_hdmi_tx() {
    const int result =
        i2c_bus ? i2c_bus->configure_i2c_device(my_i2c_bus, HDMI_TX_1200, HDMI_TX_1200_ROWS) : -1;
    connected = (read(TX_HOT_PLUG_STATE) & MONITOR_SENSE_BIT) ? TX_CONNECTED : TX_DISCONNECTED;
    outputMode3D = false;
    return result;
}

int hdmi_tx::configure_hdmi_3dtx() {
    const int result =
        i2c_bus ? i2c_bus->configure_i2c_device(my_i2c_bus, HDMI_3DTX_1200, HDMI_3DTX_1200_ROWS) : -1;
    connected = (read(TX_HOT_PLUG_STATE) & MONITOR_SENSE_BIT) ? TX_CONNECTED : TX_DISCONNECTED;
    outputMode3D = result == 0;
    return result;
}

unsigned hdmi_tx::check_connected() {
    if (digitalRead(HDMI_TX_INT_N_Pin) == HIGH) {
        return connected;
    }
    int status = 0;
    const uint8_t interrupts = read(TX_INTERRUPT_STATUS, &status);
    if (status != 0) {
        logprintf("HDMI Tx %s i2c read failed\n", name());
        return 0;
    }
    uint32_t state = connected;
    if (interrupts & HOT_PLUG_INTERRUPT) {
        logprintf("HDMI Tx %s HDP Interrupt %02x\n", name(), interrupts);
        write(TX_INTERRUPT_STATUS, interrupts);
        const uint8_t hotPlug = read(TX_HOT_PLUG_STATE);
        if (hotPlug & HOT_PLUG_STATE_BIT) {
            logprintf("HDMI Tx %s Connected HPD State %02x \n", name(), hotPlug);
            logprintf("TX: Reg 0x41 = %02x\n", read(TX_POWER));
            write(TX_POWER, TX_POWER_UP);
            const uint8_t mask = read(TX_INTERRUPT_MASK);
            logprintf("HDMI Tx %s Mask Register %02x\n", name(), mask);
            write(TX_INTERRUPT_MASK, mask | EDID_READY_INTERRUPT);
            state = TX_CONNECTED;
        } else {
            logprintf("HDMI Tx %s Disconnected\n", name());
            state = TX_DISCONNECTED;
        }
    } else if (interrupts & EDID_READY_INTERRUPT) {
        logprintf("HDMI Tx %s EDID Interrupt %02x\n", name(), interrupts);
        write(TX_INTERRUPT_MASK, read(TX_INTERRUPT_MASK) & static_cast<uint8_t>(~EDID_READY_INTERRUPT));
        write(TX_INTERRUPT_STATUS, EDID_READY_INTERRUPT);
        write(TX_EDID_CONTROL, read(TX_EDID_CONTROL) & static_cast<uint8_t>(~EDID_CONTROL_BIT));
        read_EDID();
        write(TX_EDID_CONTROL, read(TX_EDID_CONTROL) | EDID_CONTROL_BIT);
        state = TX_EDID_READ;
    }
    connected = state;
    return connected;
}

// The EDID memory is read through one register whose own pointer advances byte by byte.
// A chunked SMBus block read names the register again for every 32 bytes, which starts
// the EDID over each time, so the whole EDID is read in one run instead: the register is
// selected once and every byte is a plain read that continues where the last one ended.
int hdmi_tx::readEdidPort(uint8_t* data) {
    if (!i2c_bus) {
        return -1;
    }
    const int id = i2c_bus->device_registered(my_i2c_bus, HDMI_TX_MAIN);
    i2c_handler::BusLock held(*i2c_bus);
    const int fd = i2c_bus->registered_device_fileid(id);
    int status = -1;
    if (fd >= 0 && i2c_bus->select_bus(my_i2c_bus) == 0 && wiringPiI2CWrite(fd, TX_EDID_PORT) >= 0) {
        status = 0;
        for (int i = 0; i < HDMI_TX_EDID_SIZE && status == 0; ++i) {
            const int value = wiringPiI2CRead(fd);
            if (value < 0) {
                status = -1;
            } else {
                data[i] = static_cast<uint8_t>(value);
            }
        }
    }
    if (status != 0) {
        i2c_handler::lastbus = -1; // the switch may not hold what we believe
    }
    return status;
}

int hdmi_tx::read_EDID() {
    const int status = readEdidPort(monitor_edid);
    if (status != 0) {
        logprintf("TX: EDID read failed on bus %d\n", my_i2c_bus);
        return status;
    }
    char line[EDID_BYTES_PER_LINE * 3 + 2];
    for (int row = 0; row < HDMI_TX_EDID_SIZE / EDID_BYTES_PER_LINE; ++row) {
        int used = 0;
        for (int col = 0; col < EDID_BYTES_PER_LINE; ++col) {
            used += snprintf(line + used, sizeof line - used, "%02x ",
                             monitor_edid[row * EDID_BYTES_PER_LINE + col]);
        }
        logprintf("%s\n", line);
    }
    return status;
}
