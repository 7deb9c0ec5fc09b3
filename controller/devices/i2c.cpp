#include "controller/devices/i2c.h"

#include <algorithm>
#include <cerrno>

#include "common/logfile.h"
#include "controller/core/devices.h"
#include "controller/core/pin_nums.h"
#include "controller/devices/hardware.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"

std::unique_ptr<i2c_handler> i2c_bus;

int i2c_handler::switch_fd = -1;
int i2c_handler::lastbus = -1;

namespace {

constexpr int kUnknown = -9; // unknown device, bus not selectable, exception
constexpr int kLastBusUnknown = -1;
constexpr int kNoBus = 255;
constexpr int kSwitchChannels = 8;
constexpr unsigned kSwitchResetMs = 100;
constexpr unsigned kSwitchRetryResetMs = 1;
constexpr unsigned kSwitchSettleMs = 1;
constexpr unsigned kTableRowPacingMs = 10;
constexpr uint8_t kPowerBus = 3; // selections of the PMBus channel are logged
constexpr size_t kMaxOpenDevices = 100;
constexpr int kNothingClosed = -2;
constexpr int kBlockMax = 32; // I2C_SMBUS_BLOCK_MAX
constexpr int kReadFailed = 1;
constexpr int kByteMask = 0xFF;
constexpr int kWordMask = 0xFFFF;
constexpr int kAddresses = 128;
constexpr int kAddressesPerLine = 16;

// Keys of the summarised failures: one fault per descriptor, unknown device or bus.
constexpr uint64_t kDescriptorKey = 1ULL << 40;
constexpr uint64_t kUnknownDeviceKey = 2ULL << 40;
constexpr uint64_t kSelectKey = 3ULL << 40;
constexpr uint64_t kBusFailedKey = 4ULL << 40;
constexpr uint64_t kOpenFailedKey = 5ULL << 40;
constexpr int kBusShift = 8;
constexpr int kCallerShift = 32;
constexpr int kTextShift = 16;
constexpr uint64_t kTextMask = 0xFFFFFF;
constexpr size_t kFaultNameSize = 160;

// Caller ids of the raw steps, as logged.
constexpr int CALLER_REGISTER = 255;
constexpr int CALLER_REOPEN = 0;
constexpr int CALLER_WRITE_BYTE = 1;
constexpr int CALLER_WRITE_WORD = 2;
constexpr int CALLER_READ_BYTE = 4;
constexpr int CALLER_READ_WORD = 5;
constexpr int CALLER_SWITCH_READ = 6;
constexpr int CALLER_SWITCH_WRITE = 7;
constexpr int CALLER_SWITCH_RETRY = 8;
constexpr int CALLER_WRITE_BYTE_DEPRECATED = 2;
constexpr int CALLER_WRITE_WORD_DEPRECATED = 3;
constexpr int CALLER_READ_BYTE_DEPRECATED = 4;
constexpr int CALLER_READ_WORD_DEPRECATED = 5;
constexpr int CALLER_READ_BUFFER_DEPRECATED = 6;

// The status of a failed call: its errno, never 0.
int failure_status() {
    return errno != 0 ? errno : EIO;
}

// Keeps errno across logging, so that callers still see the failed call's errno.
class KeepErrno {
public:
    KeepErrno() : saved_(errno) {}
    ~KeepErrno() { errno = saved_; }

private:
    int saved_;
};

} // namespace

i2c_handler::i2c_handler(bool use_bus_switch) : use_bus_switch(use_bus_switch) {
    switch_fd = -1;
    initialise_i2c();
    lastbus = kNoBus;
    devicelist.clear();
}

i2c_handler::~i2c_handler() {
    for (auto& device : devicelist) {
        if (device.fd >= 0) {
            close_file(&device.fd);
        }
    }
    close_i2c();
}

int i2c_handler::initialise_i2c() {
    // A reset pulse puts the switch in a known state (no channel connected).
    pinMode(I2C_RESET_N_Pin, OUTPUT);
    digitalWrite(I2C_RESET_N_Pin, LOW);
    delay(kSwitchResetMs);
    digitalWrite(I2C_RESET_N_Pin, HIGH);
    pinModeAlt(VB_SDA_Pin, FSEL_ALT0);
    pinModeAlt(VB_SCL_Pin, FSEL_ALT0);
    if (switch_fd >= 0) {
        close_file(&switch_fd);
    }
    close_oldest();
    switch_fd = I2CSetup(CALLER_REOPEN, I2C_SFT_STATUSWITCH_ADDRESS);
    return switch_fd < 0 ? -1 : 0;
}

void i2c_handler::close_i2c() {
    if (switch_fd >= 0) {
        close_file(&switch_fd);
    }
    switch_fd = -1;
}

// ---- device registry ----

int i2c_handler::register_device(uint8_t bus, uint8_t slave_address, std::string name,
                                 const std::string& caller) {
    std::lock_guard<std::mutex> held(listlock);
    int id = find_device_locked(bus, slave_address);
    if (id >= 0) {
        return id;
    }
    I2C_DEVICE_T device{};
    close_oldest_locked();
    bool reported = true;
    device.fd = I2CSetup(CALLER_REGISTER, slave_address, &reported);
    device.bus = bus;
    device.slave_address = slave_address;
    device.name = std::move(name);
    device.last_used = ++uses;
    // A device that cannot be opened is tried again on every use: its repeats are counted
    // with the failed open.
    if (reported) {
        logprintf("Registering device %d::%d for %s as %d:%s\n", bus, slave_address, caller.c_str(),
                  device.fd, device.name.c_str());
    }
    if (device.fd < 0) {
        return -1;
    }
    devicelist.push_back(std::move(device));
    return static_cast<int>(devicelist.size()) - 1;
}

int i2c_handler::device_registered(uint8_t bus, uint8_t slave_address) {
    std::lock_guard<std::mutex> held(listlock);
    return find_device_locked(bus, slave_address);
}

int i2c_handler::find_device_locked(uint8_t bus, uint8_t slave_address) {
    for (size_t id = 0; id < devicelist.size(); ++id) {
        I2C_DEVICE_T& device = devicelist[id];
        if (device.bus == bus && device.slave_address == slave_address) {
            device.last_used = ++uses;
            if (device.fd < 0) {
                close_oldest_locked();
                device.fd = I2CSetup(CALLER_REOPEN, slave_address);
            }
            return static_cast<int>(id);
        }
    }
    return -1;
}

int i2c_handler::registered_device_fileid(int id) {
    std::lock_guard<std::mutex> held(listlock);
    if (id < 0 || static_cast<size_t>(id) >= devicelist.size()) {
        return -1;
    }
    return devicelist[id].fd;
}

int i2c_handler::close_oldest() {
    std::lock_guard<std::mutex> held(listlock);
    return close_oldest_locked();
}

// Closes the least recently used open descriptor once more than 100 devices are known;
// the entry stays and is reopened on its next lookup.
int i2c_handler::close_oldest_locked() {
    if (devicelist.size() <= kMaxOpenDevices) {
        return kNothingClosed;
    }
    uint64_t oldest = uses + 1; // every use so far is older
    int candidate = -1;
    for (size_t id = 0; id < devicelist.size(); ++id) {
        if (devicelist[id].fd >= 0 && devicelist[id].last_used < oldest) {
            oldest = devicelist[id].last_used;
            candidate = static_cast<int>(id);
        }
    }
    if (candidate >= 0) {
        close_file(&devicelist[candidate].fd);
    }
    return candidate;
}

void i2c_handler::dump_devicelist() {
    std::lock_guard<std::mutex> held(listlock);
    dump_devicelist_locked();
}

void i2c_handler::dump_devicelist_locked() {
    for (size_t id = 0; id < devicelist.size(); ++id) {
        const I2C_DEVICE_T& device = devicelist[id];
        logprintf("    %02d: bus %d slave %d fd %d name:%s \n", static_cast<int>(id), device.bus,
                  device.slave_address, device.fd, device.name.c_str());
    }
}

int i2c_handler::lookup(uint8_t bus, uint8_t addr, const char* unknownText, int* fd) {
    std::lock_guard<std::mutex> held(listlock);
    const int id = find_device_locked(bus, addr);
    if (id < 0) {
        // Each call site's report is its own fault: the first of each is logged.
        const uint64_t site = (reinterpret_cast<uintptr_t>(unknownText) & kTextMask) << kTextShift;
        const uint64_t key = kUnknownDeviceKey | site | (static_cast<uint64_t>(bus) << kBusShift) | addr;
        char name[kFaultNameSize];
        snprintf(name, sizeof name, "I2C: no device for bus %d addr %d", bus, addr);
        if (faults.failed(key, name)) {
            if (unknownText) {
                logprintferror(unknownText, bus, addr);
            }
            dump_devicelist_locked();
        }
        return kUnknown;
    }
    *fd = devicelist[id].fd;
    return id;
}

// ---- failure reports ----

uint64_t i2c_handler::descriptor_key(int fd, int caller) {
    return kDescriptorKey | (static_cast<uint64_t>(static_cast<uint8_t>(caller)) << kCallerShift) |
           static_cast<uint32_t>(fd);
}

std::string i2c_handler::describe_descriptor(int fd) {
    char name[kFaultNameSize];
    snprintf(name, sizeof name, "I2C: ERROR: transfers on fd %d", fd);
    std::lock_guard<std::mutex> held(listlock);
    for (const I2C_DEVICE_T& device : devicelist) {
        if (device.fd == fd) {
            snprintf(name, sizeof name, "I2C: ERROR: transfers on bus %d slave %d (%s)", device.bus,
                     device.slave_address, device.name.c_str());
        }
    }
    if (fd == switch_fd && fd >= 0) {
        snprintf(name, sizeof name, "I2C: ERROR: transfers to the bus switch");
    }
    return name;
}

bool i2c_handler::report_failure(int fd, int caller) {
    return faults.failed(descriptor_key(fd, caller),
                         describe_descriptor(fd) + " by caller " + std::to_string(caller));
}

// ---- bus selection ----

void i2c_handler::lock_bus() {
    mylock.lock();
}

void i2c_handler::release_bus() {
    mylock.unlock();
}

void i2c_handler::select_no_bus() {
    lastbus = kNoBus;
}

int i2c_handler::check_selected_bus() {
    if (!use_bus_switch) {
        return 0;
    }
    return I2CRead(CALLER_SWITCH_READ, switch_fd);
}

int i2c_handler::select_bus(uint8_t bus) {
    if (!use_bus_switch || bus == lastbus) {
        return 0;
    }
    try {
        errno = 0;
        if (bus >= kSwitchChannels) {
            lastbus = bus;
            return 0;
        }
        delay(kSwitchSettleMs);
        if (bus == kPowerBus) {
            logprintf("I2C: select_bus %d using %d\n", bus, switch_fd);
        }
        const uint8_t control = static_cast<uint8_t>(1u << bus);
        const uint64_t key = kSelectKey | bus;
        if (I2CWrite(CALLER_SWITCH_WRITE, switch_fd, control) < 0) {
            char name[kFaultNameSize];
            snprintf(name, sizeof name, "I2C: ERROR: selecting bus %d", bus);
            const bool report = faults.failed(key, name);
            if (report) {
                logprintferror("I2C: ERROR: %d writing to bus switch to select bus %d!", errno, bus);
            }
            digitalWrite(I2C_RESET_N_Pin, LOW);
            delay(kSwitchRetryResetMs);
            digitalWrite(I2C_RESET_N_Pin, HIGH);
            errno = 0;
            if (I2CWrite(CALLER_SWITCH_RETRY, switch_fd, control) < 0) {
                lastbus = kLastBusUnknown;
                return kUnknown;
            }
            if (report) {
                logprintf("I2C: Retry successful\n");
            }
        }
        faults.cleared(key);
        if (bus == kPowerBus) {
            logprintf("I2C: selected bus %d using %d\n", bus, switch_fd);
        }
        lastbus = bus;
        return 0;
    } catch (...) {
        logprintferror("I2C: ERROR: Exception writing to bus switch to select bus %d!", bus);
        return kUnknown;
    }
}

// ---- register access by bus and address ----

// `failedText` is logged when the bus cannot be selected, `exceptionText` when the
// transfer throws.
template <class Transfer>
int i2c_handler::on_bus(uint8_t bus, const char* failedText, const char* exceptionText, Transfer transfer) {
    std::unique_lock<std::mutex> held(mylock);
    const uint64_t key = kBusFailedKey | bus;
    try {
        if (select_bus(bus) != 0) {
            held.unlock();
            char name[kFaultNameSize];
            snprintf(name, sizeof name, "I2C: ERROR: transfers failed on bus %d", bus);
            if (faults.failed(key, name)) {
                logprintferror(failedText, bus);
            }
            return kUnknown;
        }
        faults.cleared(key);
        return transfer();
    } catch (...) {
        logprintferror(exceptionText, bus);
        return kUnknown;
    }
}

int i2c_handler::write_byte(uint8_t bus, uint8_t addr, uint8_t reg, uint8_t data, bool flagErrors) {
    int fd = -1;
    const int id = lookup(bus, addr, "I2C: ERROR: write_byte - no device found for bus %d addr %d", &fd);
    if (id < 0) {
        return id;
    }
    return on_bus(bus, "I2C: ERROR: write_byte failed on bus %d",
                  "I2C: ERROR: write_byte exception on bus %d",
                  [&] { return write_byte(fd, reg, data, flagErrors); });
}

int i2c_handler::write_word(uint8_t bus, uint8_t addr, uint8_t reg, uint16_t data) {
    int fd = -1;
    const int id = lookup(bus, addr, "I2C: ERROR: write_word - no device found for bus %d addr %d", &fd);
    if (id < 0) {
        return id;
    }
    return on_bus(bus, "I2C: ERROR: write_word failed on bus %d",
                  "I2C: ERROR: write_word exception on bus %d", [&] { return write_word(fd, reg, data); });
}

int i2c_handler::read_byte(uint8_t bus, uint8_t addr, uint8_t reg, uint8_t* data) {
    int fd = -1;
    const int id = lookup(bus, addr, nullptr, &fd);
    if (id < 0) {
        return id;
    }
    return on_bus(bus, "I2C: ERROR: read_byte failed on bus %d", "I2C: ERROR: read_byte Exception on bus %d",
                  [&] { return read_byte(fd, reg, data); });
}

int i2c_handler::read_word(uint8_t bus, uint8_t addr, uint8_t reg, uint16_t* data) {
    int fd = -1;
    const int id = lookup(bus, addr, nullptr, &fd);
    if (id < 0) {
        return id;
    }
    return on_bus(bus, "I2C: ERROR: read_word failed on bus %d", "I2C: ERROR: read_word failed on bus %d",
                  [&] { return read_word(fd, reg, data); });
}

int i2c_handler::read_buffer(uint8_t bus, uint8_t addr, uint8_t reg, uint16_t length, uint8_t* data) {
    int fd = -1;
    const int id = lookup(bus, addr, "I2C: ERROR: read_buffer - no device found for bus %d addr %d", &fd);
    if (id < 0) {
        return id;
    }
    return on_bus(bus, "I2C: ERROR: read_buffer failed on bus %d",
                  "I2C: ERROR: read_buffer exception on bus %d",
                  [&] { return read_buffer(fd, reg, length, data); });
}

// A raw write without register address, bit-banged: the address byte, then the data
// bytes. No stop condition: the controller's next start ends the transaction.
int i2c_handler::write_buffer(uint8_t bus, uint8_t addr, uint16_t length, uint8_t* buffer) {
    int fd = -1;
    const int id = lookup(bus, addr, "I2C: ERROR: no device found for bus %d addr %d", &fd);
    if (id < 0) {
        return id;
    }
    return on_bus(bus, "I2C: ERROR: write_buffer failed on bus %d",
                  "I2C: ERROR: exception writing buffer to I2C on bus %d", [&] {
                      if (fd == -1) {
                          return 0;
                      }
                      SetBitBlitMode();
                      SetI2CStartCondition();
                      uint8_t address_byte = static_cast<uint8_t>(addr << 1);
                      int result = SendBytesAndCheckACK(1, &address_byte);
                      if (result != 0) {
                          logprintferror("I2C: ERROR: %ld writing buffer to I2C on bus %d",
                                         static_cast<long>(result), bus);
                          result = -1;
                      } else {
                          SendBytesAndCheckACK(length * 8, buffer);
                          result = 0;
                      }
                      ClrBitBlitMode();
                      return result;
                  });
}

int i2c_handler::configure_i2c_device(uint8_t bus, const i2c_register_entry* table, uint16_t count) {
    logprintf("I2C: configure_i2c_device on bus %d; num_vals=%d\n", bus, count);
    std::unique_lock<std::mutex> held(mylock);
    if (select_bus(bus) != 0) {
        held.unlock();
        logprintferror("I2C: ERROR: Failed to select I2C bus %d", bus);
        return kUnknown;
    }
    logprintf("I2C: Select Bus %d OK\n", bus);
    delay(kTableRowPacingMs);
    // Every row is tried, but a failed row is not hidden by later ones that succeed: the
    // caller learns of the first failure.
    int res = 0;
    for (uint16_t row = 0; row < count; ++row) {
        const i2c_register_entry& entry = table[row];
        delay(kTableRowPacingMs);
        int id = device_registered(bus, entry.slave_address);
        if (id < 0) {
            id = register_device(bus, entry.slave_address, "configure_i2c_device", "configure_i2c_device");
        }
        // A device that cannot be opened cannot be written: the row fails as unknown.
        const int written =
            id < 0 ? kUnknown
                   : write_byte(registered_device_fileid(id), entry.reg_num, entry.reg_value, true);
        if (written != 0) {
            logprintferror("I2C: ERROR: I2C write errno=%d bus=%d s_addr=%02x reg_no=%02x reg_val=%02x",
                           written, bus, entry.slave_address, entry.reg_num, entry.reg_value);
            res = res != 0 ? res : written;
        }
    }
    held.unlock();
    logprintf("I2C: configure_i2c_device complete with res = %d\n", res);
    return res;
}

// ---- register access on a descriptor ----

int i2c_handler::write_byte(int fd, uint8_t reg, uint8_t data, bool flagErrors) {
    if (fd < 0) {
        logprintf("I2C: ERROR: Invalid File Id\n");
        return -1;
    }
    errno = 0;
    if (I2CWriteReg8(CALLER_WRITE_BYTE, fd, reg, data, flagErrors) < 0) {
        return failure_status();
    }
    return 0;
}

int i2c_handler::write_word(int fd, uint8_t reg, uint16_t data) {
    if (fd < 0) {
        logprintf("I2C: ERROR: Invalid File Id\n");
        return -1;
    }
    errno = 0;
    if (I2CWriteReg16(CALLER_WRITE_WORD, fd, reg, data) < 0) {
        const int status = failure_status();
        lastbus = kLastBusUnknown;
        return status;
    }
    return 0;
}

int i2c_handler::read_byte(int fd, uint8_t reg, uint8_t* data) {
    if (fd < 0) {
        return kReadFailed;
    }
    errno = 0;
    const int value = I2CReadReg8(CALLER_READ_BYTE, fd, reg);
    *data = static_cast<uint8_t>(value & kByteMask);
    if (value < 0) {
        const int status = failure_status();
        lastbus = kLastBusUnknown;
        return status;
    }
    return 0;
}

// A closed descriptor is a failure here as in read_byte (the caller's value is not set).
int i2c_handler::read_word(int fd, uint8_t reg, uint16_t* data) {
    if (fd < 0) {
        return kReadFailed;
    }
    errno = 0;
    const int value = I2CReadReg16(CALLER_READ_WORD, fd, reg);
    *data = static_cast<uint16_t>(value & kWordMask);
    if (value < 0) {
        const int status = failure_status();
        lastbus = kLastBusUnknown;
        return status;
    }
    return 0;
}

// Block reads of at most 32 bytes, every one from the same register command.
int i2c_handler::read_buffer(int fd, uint8_t reg, uint16_t length, uint8_t* data) {
    if (fd < 0) {
        return kReadFailed;
    }
    int status = 0;
    int remaining = length;
    while (remaining > 0) {
        const int chunk = std::min(remaining, kBlockMax);
        const int got = platform::i2cReadBlock(fd, reg, chunk, data);
        if (got >= 0) {
            data += std::min(got, chunk);
        } else {
            status = kReadFailed;
        }
        remaining -= chunk;
    }
    if (status != 0) {
        lastbus = kLastBusUnknown;
    }
    return status;
}

// ---- through a temporary descriptor ----

int i2c_handler::write_byte_deprecated(uint8_t addr, uint8_t reg, uint8_t data) {
    close_oldest();
    int fd = I2CSetup(CALLER_WRITE_BYTE_DEPRECATED, addr);
    if (fd < 0) {
        logprintf("I2C: ERROR: Failed I2CSetup code %lu\n", static_cast<unsigned long>(errno));
        return -1;
    }
    const int status = write_byte(fd, reg, data, true);
    close_file(&fd); // not kept: each call opens its own
    return status;
}

int i2c_handler::write_word_deprecated(uint8_t addr, uint8_t reg, uint16_t data) {
    close_oldest();
    int fd = I2CSetup(CALLER_WRITE_WORD_DEPRECATED, addr);
    if (fd < 0) {
        logprintf("I2C: ERROR: Failed I2CSetup code %lu\n", static_cast<unsigned long>(errno));
        return -1;
    }
    const int status = write_word(fd, reg, data);
    close_file(&fd);
    return status;
}

int i2c_handler::read_byte_deprecated(uint8_t addr, uint8_t reg, uint8_t* data) {
    close_oldest();
    int fd = I2CSetup(CALLER_READ_BYTE_DEPRECATED, addr);
    if (fd < 0) {
        return -1;
    }
    const int status = read_byte(fd, reg, data);
    close_file(&fd);
    return status;
}

int i2c_handler::read_word_deprecated(uint8_t addr, uint8_t reg, uint16_t* data) {
    close_oldest();
    int fd = I2CSetup(CALLER_READ_WORD_DEPRECATED, addr);
    if (fd < 0) {
        return -1;
    }
    const int status = read_word(fd, reg, data);
    close_file(&fd);
    return status;
}

int i2c_handler::read_buffer_deprecated(uint8_t addr, uint8_t reg, uint16_t length, uint8_t* data) {
    close_oldest();
    int fd = I2CSetup(CALLER_READ_BUFFER_DEPRECATED, addr);
    if (fd < 0) {
        return -1;
    }
    const int status = read_buffer(fd, reg, length, data);
    close_file(&fd);
    return status;
}

// ---- diagnostic scan ----

void i2c_handler::scan_addresses() {
    for (int addr = 0; addr < kAddresses; ++addr) {
        uint8_t value = 0;
        if (read_byte_deprecated(static_cast<uint8_t>(addr), 0, &value) == 0) {
            logprintf("%02x ", addr);
        } else {
            logprintf("-- ");
        }
        if ((addr % kAddressesPerLine) == kAddressesPerLine - 1) {
            logprintf("\n");
        }
    }
}

void i2c_handler::scan_i2c_bus() {
    logprintf("============\n");
    logprintf("I2C Bus Scan\n");
    logprintf("============\n");
    uint8_t value = 0;
    const int status = read_byte_deprecated(I2C_SFT_STATUSWITCH_ADDRESS, 0, &value);
    if (status != 0) {
        logprintf("I2C: ERROR: Unable to detect I2C Switch. Status = %04lx\033[38;5;248m\n",
                  static_cast<unsigned long>(status));
        scan_addresses();
        return;
    }
    logprintf("Found Bus Switch at address %02x\n", I2C_SFT_STATUSWITCH_ADDRESS);
    for (int bus = 0; bus < kSwitchChannels; ++bus) {
        logprintf("Scanning Bus %d\n", bus);
        int selected;
        {
            std::lock_guard<std::mutex> held(mylock);
            selected = select_bus(static_cast<uint8_t>(bus));
        }
        if (selected != 0) {
            logprintferror("I2C: ERROR: scan_i2c_bus failed");
            return;
        }
        scan_addresses();
    }
}

// ---- raw steps ----

// Does not close the oldest descriptor: callers that may open past the limit do, under
// the device list's lock.
int i2c_handler::I2CSetup(int caller, uint8_t address, bool* reported) {
    const int fd = wiringPiI2CSetup(address);
    const uint64_t key = kOpenFailedKey | address;
    if (fd < 0) {
        KeepErrno keep;
        char name[kFaultNameSize];
        snprintf(name, sizeof name, "I2C: ERROR: I2CSetup for address %d", address);
        const bool full = faults.failed(key, name);
        if (full) {
            logprintferror("I2C: ERROR: I2CSetup caller=%d with errno=%d", caller, errno);
        }
        if (reported) {
            *reported = full;
        }
    } else {
        faults.cleared(key);
    }
    return fd;
}

int i2c_handler::I2CWriteReg8(int caller, int fd, uint8_t reg, uint8_t data, bool flagErrors) {
    const int result = wiringPiI2CWriteReg8(fd, reg, data);
    if (result < 0) {
        KeepErrno keep;
        if (report_failure(fd, caller)) {
            if (flagErrors) {
                logprintferror("I2C: ERROR: I2CWriteReg8 caller=%d with errno=%d for fd=%d reg %d on bus=%d",
                               caller, errno, fd, reg, lastbus);
            }
            dump_devicelist();
        }
    } else {
        transfer_worked(fd, caller);
    }
    return result;
}

int i2c_handler::I2CWriteReg16(int caller, int fd, uint8_t reg, uint16_t data) {
    const int result = wiringPiI2CWriteReg16(fd, reg, data);
    if (result < 0) {
        KeepErrno keep;
        if (report_failure(fd, caller)) {
            logprintferror(
                "I2C: ERROR: I2CWriteReg16 caller=%d with errno=%d for fd=%d reg %d, data %d on bus=%d",
                caller, errno, fd, reg, data, lastbus);
            dump_devicelist();
        }
    } else {
        transfer_worked(fd, caller);
    }
    return result;
}

int i2c_handler::I2CReadReg8(int caller, int fd, uint8_t reg) {
    const int result = wiringPiI2CReadReg8(fd, reg);
    if (result < 0) {
        KeepErrno keep;
        if (report_failure(fd, caller)) {
            logprintferror("I2C: ERROR: I2CReadReg8 caller=%d with errno=%d for fd=%d reg %d on bus=%d",
                           caller, errno, fd, reg, lastbus);
            dump_devicelist();
        }
    } else {
        transfer_worked(fd, caller);
    }
    return result;
}

int i2c_handler::I2CReadReg16(int caller, int fd, uint8_t reg) {
    const int result = wiringPiI2CReadReg16(fd, reg);
    if (result < 0) {
        KeepErrno keep;
        if (report_failure(fd, caller)) {
            logprintferror("I2C: ERROR: I2CReadReg16 caller=%d with errno=%d for fd=%d reg %d on bus=%d",
                           caller, errno, fd, reg, lastbus);
            dump_devicelist();
        }
    } else {
        transfer_worked(fd, caller);
    }
    return result;
}

int i2c_handler::I2CRead(int caller, int fd) {
    const int result = wiringPiI2CRead(fd);
    if (result < 0) {
        KeepErrno keep;
        if (report_failure(fd, caller)) {
            logprintferror("I2C: ERROR: I2CRead caller=%d with errno=%d", caller, errno);
        }
    } else {
        transfer_worked(fd, caller);
    }
    return result;
}

int i2c_handler::I2CWrite(int caller, int fd, uint8_t data) {
    const int result = wiringPiI2CWrite(fd, data);
    if (result < 0) {
        KeepErrno keep;
        if (report_failure(fd, caller)) {
            logprintferror("I2C: ERROR: I2CWrite caller=%d with errno=%d", caller, errno);
        }
    } else {
        transfer_worked(fd, caller);
    }
    return result;
}

void i2c_handler::close_file(int* fd) {
    if (platform::i2cClose(*fd) < 0) {
        KeepErrno keep;
        logprintferror("I2C: ERROR: closing file %d errno=%d", *fd, errno);
    }
    *fd = -1;
}
