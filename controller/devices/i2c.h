// The I2C bus handler: owns the 8-channel bus switch on "/dev/i2c-1" and one open
// descriptor per registered (channel, slave) pair. Drivers register their devices once
// and then access registers by bus and address; the handler selects the switch channel
// (writing the switch only when the channel changes), serialises every transfer with one
// bus lock, and hands SDA/SCL to software bit-banging for PMBus and raw buffer writes.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/RepeatedFault.h"

typedef uint32_t I2C_STATUS;

// Channels of the bus switch (the bus argument of every call).
constexpr uint8_t I2C_BUS_CLK_CONTROLLER = 0;
constexpr uint8_t I2C_BUS_VCTL_R = 1;
constexpr uint8_t I2C_BUS_HDMI_RIGHT = I2C_BUS_VCTL_R;
constexpr uint8_t I2C_BUS_VCTL_L = 2;
constexpr uint8_t I2C_BUS_HDMI_LEFT = I2C_BUS_VCTL_L;
constexpr uint8_t I2C_BUS_POWER_CONTROLS = 3;
constexpr uint8_t I2C_BUS_UNUSED = 4;
constexpr uint8_t I2C_BUS_LIGHTING_CONTROLS = 5;
constexpr uint8_t I2C_BUS_AUDIO_CONTROLS = 6;
constexpr uint8_t I2C_BUS_USER_CONTROLS = 7;

// The video devices' channel per camera channel (LEFT, RIGHT).
constexpr uint8_t I2C_BUS[2] = {I2C_BUS_VCTL_L, I2C_BUS_VCTL_R};
constexpr uint8_t HDMI_I2C_BUS[2] = {I2C_BUS_HDMI_LEFT, I2C_BUS_HDMI_RIGHT};

constexpr uint8_t I2C_SFT_STATUSWITCH_ADDRESS = 0x70;

// One registered device; its id is its position in the device list.
struct I2C_DEVICE_T {
    int fd;      // descriptor addressed to the slave, -1 when closed
    uint8_t bus; // switch channel
    uint8_t slave_address;
    std::string name; // for log lines only
    // Order of last use (a count of lookups, not a time): the oldest open descriptor is
    // closed first. A count orders uses within one clock tick too, and costs no system
    // call on every transfer as a CPU-time reading would.
    uint64_t last_used;
};

// One row of a register initialisation table.
#pragma pack(push, 1)
struct i2c_register_entry {
    uint8_t slave_address;
    uint8_t reg_num;
    uint8_t reg_value;
};
#pragma pack(pop)
static_assert(sizeof(i2c_register_entry) == 3);

class i2c_handler {
public:
    explicit i2c_handler(bool use_bus_switch);
    ~i2c_handler();
    i2c_handler(const i2c_handler&) = delete;
    i2c_handler& operator=(const i2c_handler&) = delete;

    int initialise_i2c();
    void close_i2c();

    // Device registry.
    int register_device(uint8_t bus, uint8_t slave_address, std::string name, const std::string& caller);
    int device_registered(uint8_t bus, uint8_t slave_address);
    int registered_device_fileid(int id);
    int close_oldest();
    void dump_devicelist();

    // Register access by bus and address: 0, -9 (unknown device, bus not selectable,
    // exception) or the transfer's status.
    int write_byte(uint8_t bus, uint8_t addr, uint8_t reg, uint8_t data, bool flagErrors);
    int write_word(uint8_t bus, uint8_t addr, uint8_t reg, uint16_t data);
    int read_byte(uint8_t bus, uint8_t addr, uint8_t reg, uint8_t* data);
    int read_word(uint8_t bus, uint8_t addr, uint8_t reg, uint16_t* data);
    int read_buffer(uint8_t bus, uint8_t addr, uint8_t reg, uint16_t length, uint8_t* data);
    int write_buffer(uint8_t bus, uint8_t addr, uint16_t length, uint8_t* buffer);
    int configure_i2c_device(uint8_t bus, const i2c_register_entry* table, uint16_t count);

    // For drivers that run several transfers under one selection (hold the lock).
    void lock_bus();
    void release_bus();
    void select_no_bus();
    int check_selected_bus();
    int select_bus(uint8_t bus);

    // Holds the bus lock for a scope, so that no return path leaves the bus locked.
    class BusLock {
    public:
        explicit BusLock(i2c_handler& handler) : handler_(handler) { handler_.lock_bus(); }
        ~BusLock() { handler_.release_bus(); }
        BusLock(const BusLock&) = delete;
        BusLock& operator=(const BusLock&) = delete;

    private:
        i2c_handler& handler_;
    };

    // PMBus transfers with the pins bit-banged; nonzero when the transfer completed.
    void PMBusModeOn(uint8_t bus);
    void PMBusModeOff();
    // The pins in PMBus mode, under the bus lock, for a scope.
    class PMBusMode {
    public:
        PMBusMode(i2c_handler& handler, uint8_t bus) : handler_(handler) { handler_.PMBusModeOn(bus); }
        ~PMBusMode() { handler_.PMBusModeOff(); }
        PMBusMode(const PMBusMode&) = delete;
        PMBusMode& operator=(const PMBusMode&) = delete;

    private:
        i2c_handler& handler_;
    };
    uint8_t PMBUS_sendByte(uint8_t bus, uint8_t addr, uint8_t command);
    uint8_t PMBUS_readByte(uint8_t bus, uint8_t addr, uint8_t command, uint8_t* data);
    uint8_t PMBUS_writeByte(uint8_t bus, uint8_t addr, uint8_t command, uint8_t data);
    uint8_t PMBUS_readWord(uint8_t bus, uint8_t addr, uint8_t command, uint16_t* data);

    // Register access on a descriptor (the caller holds the lock and selected the bus).
    int write_byte(int fd, uint8_t reg, uint8_t data, bool flagErrors);
    int write_word(int fd, uint8_t reg, uint16_t data);
    int read_byte(int fd, uint8_t reg, uint8_t* data);
    int read_word(int fd, uint8_t reg, uint16_t* data);
    int read_buffer(int fd, uint8_t reg, uint16_t length, uint8_t* data);

    // Through a temporary descriptor, without bus selection or lock (the bus scan).
    int write_byte_deprecated(uint8_t addr, uint8_t reg, uint8_t data);
    int write_word_deprecated(uint8_t addr, uint8_t reg, uint16_t data);
    int read_byte_deprecated(uint8_t addr, uint8_t reg, uint8_t* data);
    int read_word_deprecated(uint8_t addr, uint8_t reg, uint16_t* data);
    int read_buffer_deprecated(uint8_t addr, uint8_t reg, uint16_t length, uint8_t* data);

    // Diagnostic map of every address on every channel.
    void scan_i2c_bus();

    // Process-wide: the switch's descriptor and the channel believed selected
    // (-1 unknown, 255 none).
    static int switch_fd;
    static int lastbus;

private:
    // The raw steps: each logs a failure with its caller id.
    // `reported` (when given) tells whether a failure was logged in full.
    int I2CSetup(int caller, uint8_t address, bool* reported = nullptr);
    int I2CWriteReg8(int caller, int fd, uint8_t reg, uint8_t data, bool flagErrors);
    int I2CWriteReg16(int caller, int fd, uint8_t reg, uint16_t data);
    int I2CReadReg8(int caller, int fd, uint8_t reg);
    int I2CReadReg16(int caller, int fd, uint8_t reg);
    int I2CRead(int caller, int fd);
    int I2CWrite(int caller, int fd, uint8_t data);
    void close_file(int* fd);

    // The registered device's id with its descriptor in `fd`, or -9 after logging
    // `unknownText` (nullptr: no log line).
    int lookup(uint8_t bus, uint8_t addr, const char* unknownText, int* fd);
    void scan_addresses();
    // Lock, select, run the descriptor-level transfer, unlock.
    template <class Transfer>
    int on_bus(uint8_t bus, const char* failedText, const char* exceptionText, Transfer transfer);

    // The device list's own steps; the caller holds `listlock`.
    int find_device_locked(uint8_t bus, uint8_t slave_address);
    int close_oldest_locked();
    void dump_devicelist_locked();

    // A failed transfer of the raw step `caller` on `fd`: true when it is to be logged in
    // full (with the device list); repeats of the same fault are summarised. The same step
    // working on the descriptor clears it (a chip whose reads fail may still take writes).
    bool report_failure(int fd, int caller);
    void transfer_worked(int fd, int caller) { faults.cleared(descriptor_key(fd, caller)); }
    static uint64_t descriptor_key(int fd, int caller);
    std::string describe_descriptor(int fd);

    bool use_bus_switch;
    // The bus lock: one transfer (or one driver's run of transfers) at a time.
    std::mutex mylock;
    // The device list's lock, taken briefly and always last: the front panel's receiver
    // thread and the main loop both look devices up, reopen them and register new ones.
    std::mutex listlock;
    uint64_t uses = 0; // the last use stamp given; under `listlock`
    std::vector<I2C_DEVICE_T> devicelist;
    RepeatedFaults faults;
};
