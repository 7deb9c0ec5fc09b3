#include "tools/check/BoardCheck.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "controller/core/pin_nums.h"
#include "controller/devices/PMBus.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"
#include "tools/qflashprog/FlashSpi.h"

namespace boardcheck {

namespace {

constexpr int kSwitchAddress = 0x70;
constexpr int kChannelCount = 8;

constexpr int kFpgaSpiChannel = 0;
constexpr int kFpgaSpiHz = 16000000;
constexpr uint8_t kFpgaVersionRegister = 0x7F; // a read: bit 7 clear
constexpr int kFpgaTransferBytes = 5;
constexpr uint32_t kIdleByte = 0xFF;
constexpr uint32_t kIdleWord = 0xFFFFFFFF;

constexpr uint8_t kFlashReadId = 0x9F;
constexpr int kFlashIdBytes = 3;
constexpr auto kFpgaBootLimit = std::chrono::seconds(5);
constexpr auto kPollInterval = std::chrono::milliseconds(10);

constexpr uint8_t kPmbusSpecialId = 0xE7;
constexpr uint16_t kLtc2977SpecialId = 0x0131;
constexpr uint8_t kAdv7619RevisionHigh = 0xEA;
constexpr uint8_t kAdv7619RevisionLow = 0xEB;
constexpr uint8_t kSi5351RevisionMask = 0x03;
constexpr uint8_t kCrosslinkRevisionMask = 0x7F;

// How a chip is read: a register that holds its revision or an identification, or a
// harmless register that only shows the chip answers.
enum class Probe { Register, Adv7619Revision, Si5351Revision, CrosslinkRevision, Ltc2977Id, ReceiveByte };

struct Chip {
    int channel;
    int address;
    const char* name;
    Probe probe;
    int reg;
};

// The board's parts list on the bus switch's channels. The HDMI receivers' other maps and
// the transmitters' second address answer only once the controller has set them up.
const Chip kParts[] = {
    {0, 0x60, "Si5351A clock generator", Probe::Si5351Revision, 0x00},
    {1, 0x4C, "right HDMI receiver ADV7619 (IO map)", Probe::Adv7619Revision, 0},
    {1, 0x39, "right HDMI transmitter", Probe::Register, 0x00},
    {1, 0x28, "right CrossLink video bridge", Probe::CrosslinkRevision, 0x00},
    {2, 0x4C, "left HDMI receiver ADV7619 (IO map)", Probe::Adv7619Revision, 0},
    {2, 0x39, "left HDMI transmitter", Probe::Register, 0x00},
    {2, 0x28, "left CrossLink video bridge", Probe::CrosslinkRevision, 0x00},
    {3, 0x5C, "LTC2977 power manager (PMBus)", Probe::Ltc2977Id, kPmbusSpecialId},
    {5, 0x20, "lighting I/O expander", Probe::Register, 0x00},
    {5, 0x10, "lighting level DAC", Probe::ReceiveByte, 0},
    {6, 0x18, "TLV320AIC31xx audio codec", Probe::Register, 0x00},
    {7, 0x20, "front-panel I/O expander", Probe::Register, 0x00},
};

struct Node {
    const char* path;
    const char* users;
};

const Node kNodes[] = {
    {"/dev/gpiomem", "all programs: GPIO 0..45"},
    {"/dev/spidev0.0", "OstrixPi, spiload: display FPGA"},
    {"/dev/i2c-1", "OstrixPi: bus switch and chips"},
    {"/dev/fb0", "Ostrix_Gui: frame buffer"},
    {"/dev/input", "OstrixPi: keypad, keyboards, mouse"},
};

std::string hex(unsigned value, int digits) {
    char text[16];
    snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string where(int channel, int address) {
    return "ch " + std::to_string(channel) + " " + hex(static_cast<unsigned>(address), 2);
}

std::string errorText(int error) {
    return std::string(strerror(error)) + " (errno " + std::to_string(error) + ")";
}

std::string ownerAndMode(const struct stat& info) {
    const passwd* user = getpwuid(info.st_uid);
    const group* grp = getgrgid(info.st_gid);
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return std::string(user ? user->pw_name : std::to_string(info.st_uid)) + ":" +
           (grp ? grp->gr_name : std::to_string(info.st_gid)) + " " + mode;
}

Row checkNode(const Node& node) {
    Row row{"node", node.users, node.path, false, {}};
    if (platform::simulated()) {
        row.ok = true;
        row.detail = "simulated board: reached through the simulator";
        return row;
    }
    struct stat info {};
    if (::stat(node.path, &info) != 0) {
        row.detail = "missing: " + errorText(errno);
        return row;
    }
    const bool folder = S_ISDIR(info.st_mode);
    row.ok = ::access(node.path, folder ? (R_OK | X_OK) : (R_OK | W_OK)) == 0;
    const passwd* me = getpwuid(geteuid());
    row.detail = ownerAndMode(info) + "; " + (me ? me->pw_name : "this user") +
                 (row.ok ? " can open it" : " cannot open it");
    return row;
}

// One i2c-dev handle, closed when it goes.
class I2cHandle {
public:
    explicit I2cHandle(int address) : fd_(wiringPiI2CSetup(address)), error_(fd_ < 0 ? errno : 0) {}
    ~I2cHandle() {
        if (fd_ >= 0) {
            platform::backend().i2cClose(fd_);
        }
    }
    I2cHandle(const I2cHandle&) = delete;
    I2cHandle& operator=(const I2cHandle&) = delete;
    int fd() const { return fd_; }
    int error() const { return error_; }

private:
    int fd_;
    int error_;
};

// The PMBus read of one word, bit-banged on GPIO 2/3 as the controller reaches the power
// manager; the pins go back to the I2C controller afterwards.
bool pmbusReadWord(int address, uint8_t command, uint16_t* word) {
    pinModeAlt(VB_SDA_Pin, FSEL_INPT);
    pinModeAlt(VB_SCL_Pin, FSEL_INPT);
    digitalWrite(VB_SDA_Pin, LOW);
    digitalWrite(VB_SCL_Pin, LOW);
    constexpr uint8_t kAck = 1;
    constexpr uint8_t kNack = 0;
    const auto writeAddress = static_cast<uint8_t>(address << 1);
    const auto readAddress = static_cast<uint8_t>(address << 1 | 1);
    uint8_t low = 0;
    uint8_t high = 0;
    bool ok = false;
    if (PMBus::PMBUS_start() && PMBus::PMBUS_txbyte(writeAddress)) {
        PMBus::PMBUS_Delay();
        ok = PMBus::PMBUS_txbyte(command) && PMBus::PMBUS_restart() && PMBus::PMBUS_txbyte(readAddress) &&
             PMBus::PMBUS_rxbyte(&low, kAck) && PMBus::PMBUS_rxbyte(&high, kNack);
    }
    PMBus::PMBUS_stop();
    pinModeAlt(VB_SDA_Pin, FSEL_ALT0);
    pinModeAlt(VB_SCL_Pin, FSEL_ALT0);
    *word = static_cast<uint16_t>(low | high << 8);
    return ok;
}

int readReg(const I2cHandle& chip, int reg) {
    return wiringPiI2CReadReg8(chip.fd(), reg);
}

void probeChip(const Chip& chip, Row& row) {
    if (chip.probe == Probe::Ltc2977Id) {
        uint16_t id = 0;
        const bool answered = pmbusReadWord(chip.address, static_cast<uint8_t>(chip.reg), &id);
        row.ok = answered && id == kLtc2977SpecialId;
        row.detail =
            answered ? "special id " + hex(id, 4) + (row.ok ? "" : ", expected " + hex(kLtc2977SpecialId, 4))
                     : "no acknowledge";
        return;
    }
    const I2cHandle handle(chip.address);
    if (handle.fd() < 0) {
        row.detail = "cannot open the bus: " + errorText(handle.error());
        return;
    }
    int value = -1;
    switch (chip.probe) {
    case Probe::Adv7619Revision: {
        const int high = readReg(handle, kAdv7619RevisionHigh);
        const int low = high < 0 ? -1 : readReg(handle, kAdv7619RevisionLow);
        if (low >= 0) {
            value = high << 8 | low;
            row.detail = "revision " + hex(static_cast<unsigned>(value), 4);
        }
        break;
    }
    case Probe::ReceiveByte:
        value = wiringPiI2CRead(handle.fd());
        row.detail = value < 0 ? "" : "reads " + hex(static_cast<unsigned>(value), 2);
        break;
    default:
        value = readReg(handle, chip.reg);
        if (value < 0) {
            break;
        }
        if (chip.probe == Probe::Si5351Revision) {
            row.detail = "revision " + std::to_string(value & kSi5351RevisionMask);
        } else if (chip.probe == Probe::CrosslinkRevision) {
            row.detail = "revision " + std::to_string(value & kCrosslinkRevisionMask);
        } else {
            row.detail = "register " + hex(static_cast<unsigned>(chip.reg), 2) + " = " +
                         hex(static_cast<unsigned>(value), 2);
        }
        break;
    }
    row.ok = value >= 0;
    if (!row.ok) {
        row.detail = "no acknowledge";
    }
}

void checkI2c(std::vector<Row>& rows) {
    // The pins belong to the Pi's I2C controller (the device tree's setting; a bit-banged
    // transfer of an earlier program may have left them as inputs).
    pinModeAlt(VB_SDA_Pin, FSEL_ALT0);
    pinModeAlt(VB_SCL_Pin, FSEL_ALT0);
    Row switchRow{"switch", "I2C bus switch", "i2c-1 " + hex(kSwitchAddress, 2), false, {}};
    const I2cHandle bus(kSwitchAddress);
    const int previous = bus.fd() < 0 ? -1 : wiringPiI2CRead(bus.fd());
    if (bus.fd() < 0) {
        switchRow.detail = "cannot open the bus: " + errorText(bus.error());
    } else if (previous < 0) {
        switchRow.detail = "no acknowledge";
    } else {
        switchRow.ok = true;
        switchRow.detail = "control byte " + hex(static_cast<unsigned>(previous), 2);
    }
    rows.push_back(switchRow);

    for (int channel = 0; channel < kChannelCount; ++channel) {
        bool selected = false;
        for (const Chip& chip : kParts) {
            if (chip.channel != channel) {
                continue;
            }
            Row row{"chip", chip.name, where(chip.channel, chip.address), false, {}};
            if (!switchRow.ok) {
                row.detail = "not reached: no bus switch";
            } else if (!selected && wiringPiI2CWrite(bus.fd(), 1 << channel) < 0) {
                row.detail = "channel select failed";
            } else {
                selected = true;
                probeChip(chip, row);
            }
            rows.push_back(row);
        }
    }
    if (switchRow.ok) {
        wiringPiI2CWrite(bus.fd(), previous);
    }
}

Row checkFpga() {
    Row row{"fpga", "display FPGA version", "SPI0 CE0", false, {}};
    if (digitalRead(CFG_CONF_DONE_Pin) != HIGH) {
        row.detail = "not configured (CONF_DONE low)";
        return row;
    }
    const int fd = wiringPiSPISetup(kFpgaSpiChannel, kFpgaSpiHz);
    if (fd < 0) {
        row.detail = "cannot open SPI channel 0: " + errorText(errno);
        return row;
    }
    unsigned char buffer[kFpgaTransferBytes] = {kFpgaVersionRegister};
    const int transferred = wiringPiSPIDataRW(kFpgaSpiChannel, buffer, kFpgaTransferBytes);
    platform::backend().spiClose(fd);
    const uint32_t version =
        uint32_t{buffer[1]} << 24 | uint32_t{buffer[2]} << 16 | uint32_t{buffer[3]} << 8 | buffer[4];
    if (transferred < 0) {
        row.detail = "SPI transfer failed: " + errorText(errno);
    } else if (version == kIdleByte || version == kIdleWord) {
        row.detail = "no answer (reads " + hex(version, 8) + ")";
    } else {
        row.ok = true;
        row.detail = "version " + std::to_string(version) + " (" + hex(version, 8) + ")";
    }
    return row;
}

bool waitForConfDone() {
    const auto end = std::chrono::steady_clock::now() + kFpgaBootLimit;
    while (digitalRead(CFG_CONF_DONE_Pin) != HIGH) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

// The flash hangs on the FPGA's configuration lines: the FPGA is held in configuration
// reset while the identification is read, then let go to load itself from the flash again.
Row checkFlash() {
    Row row{"flash", "FPGA configuration flash", "GPIO 36..45", false, {}};
    digitalWrite(CFG_nCONFIG_Pin, LOW);
    pinMode(CFG_nCONFIG_Pin, OUTPUT);
    digitalWrite(CFG_nCE_Pin, HIGH);
    pinMode(CFG_nCE_Pin, OUTPUT);
    digitalWrite(CFG_nCSO_Pin, HIGH);
    pinMode(CFG_nCSO_Pin, OUTPUT);
    pinMode(CFG_ASD0_Pin, OUTPUT);
    pinMode(CFG_ASD1_Pin, INPUT);
    pinMode(CFG_ASD2_Pin, OUTPUT);
    pinMode(CFG_ASD3_Pin, OUTPUT);
    pinMode(CFG_DCLK_Pin, OUTPUT);
    digitalWrite(CFG_ASD2_Pin, LOW);
    digitalWrite(CFG_ASD3_Pin, HIGH);
    digitalWrite(CFG_DCLK_Pin, LOW);
    delay(1);

    uint8_t id[kFlashIdBytes] = {};
    FlashSpi().commandRead(kFlashReadId, id, kFlashIdBytes);

    for (int pin : {CFG_nCSO_Pin, CFG_ASD0_Pin, CFG_ASD1_Pin, CFG_ASD2_Pin, CFG_ASD3_Pin, CFG_DCLK_Pin}) {
        pinMode(pin, INPUT);
    }
    digitalWrite(CFG_nCONFIG_Pin, HIGH);
    digitalWrite(CFG_nCE_Pin, LOW);
    const bool booted = waitForConfDone();

    char text[40];
    snprintf(text, sizeof text, "id %02X %02X %02X", id[0], id[1], id[2]);
    row.ok = id[0] != 0x00 && id[0] != 0xFF;
    row.detail = std::string(text) + (row.ok ? "" : ": no flash answers") +
                 (booted ? "" : "; the FPGA did not configure from it again");
    return row;
}

Row checkCamera() {
    const std::string folder = platform::sysPath("/dev/serial/by-id");
    Row row{"camera", "camera board serial link", "/dev/serial/by-id", false, {}};
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    std::string link;
    while (dir) {
        const dirent* entry = readdir(dir.get());
        if (!entry) {
            break;
        }
        if (entry->d_name[0] != '.') {
            link = entry->d_name;
            break;
        }
    }
    if (link.empty()) {
        row.detail = "no link: camera board unplugged, unpowered or not booted";
        return row;
    }
    const int fd = ::open((folder + "/" + link).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        row.detail = link + ": " + errorText(errno);
        return row;
    }
    ::close(fd);
    row.ok = true;
    row.detail = link;
    return row;
}

} // namespace

std::vector<Row> checkBoard() {
    std::vector<Row> rows;
    for (const Node& node : kNodes) {
        rows.push_back(checkNode(node));
    }
    Row gpio{"gpio", "GPIO block", platform::simulated() ? "simulated" : "/dev/gpiomem", false, {}};
    if (wiringPiSetupGpio() != 0) {
        gpio.detail = "set-up failed: " + errorText(errno) + "; bus, FPGA and flash not checked";
        rows.push_back(gpio);
        rows.push_back(checkCamera());
        return rows;
    }
    gpio.ok = true;
    gpio.detail = "mapped";
    rows.push_back(gpio);
    checkI2c(rows);
    // The version first: reading the flash makes the FPGA configure itself again.
    rows.push_back(checkFpga());
    rows.push_back(checkFlash());
    rows.push_back(checkCamera());
    return rows;
}

int printTable(const std::vector<Row>& rows, FILE* out) {
    size_t kindWidth = 4;
    size_t partWidth = 4;
    size_t whereWidth = 5;
    for (const Row& row : rows) {
        kindWidth = std::max(kindWidth, row.kind.size());
        partWidth = std::max(partWidth, row.part.size());
        whereWidth = std::max(whereWidth, row.where.size());
    }
    const auto width = [](size_t w) { return static_cast<int>(w); };
    fprintf(out, "%-*s  %-*s  %-*s  %-7s  %s\n", width(kindWidth), "KIND", width(partWidth), "PART",
            width(whereWidth), "WHERE", "STATUS", "DETAIL");
    std::string missing;
    for (const Row& row : rows) {
        fprintf(out, "%-*s  %-*s  %-*s  %-7s  %s\n", width(kindWidth), row.kind.c_str(), width(partWidth),
                row.part.c_str(), width(whereWidth), row.where.c_str(), row.ok ? "ok" : "MISSING",
                row.detail.c_str());
        if (!row.ok) {
            missing += (missing.empty() ? "" : ", ") + row.part;
        }
    }
    if (missing.empty()) {
        fprintf(out, "ostrix-check: all %zu checks passed\n", rows.size());
        return 0;
    }
    fprintf(out, "ostrix-check: MISSING: %s\n", missing.c_str());
    return 1;
}

int run(FILE* out) {
    return printTable(checkBoard(), out);
}

} // namespace boardcheck
