// The I2C bus handler on the simulated board: switch selection and its retry, the
// descriptor registry and its eviction, block reads, register tables, raw buffer writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "TempRoot.h"
#include "controller/devices/i2c.h"
#include "platform/wiringPi.h"
#include "sim/buses/I2cBus.h"
#include "sim/buses/I2cSwitch.h"
#include "sim/chips/Ltc2977.h"

namespace fs = std::filesystem;

namespace {

constexpr uint8_t kPowerBus = 3;
constexpr uint8_t kLtc = 0x5C;
constexpr uint8_t kSwitch = 0x70;
constexpr int kEremoteio = EREMOTEIO;

class I2cHandlerTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        fs::create_directories("log");
    }
    static std::string log() { return testing_support::readFile("log/QLM_logfile_0001.log"); }
    sim::I2cBus& bus() { return *board().find<sim::I2cBus>(); }
    sim::Ltc2977& ltc() { return *board().find<sim::Ltc2977>(); }
    // The control bytes written to the bus switch, in order.
    std::vector<uint8_t> switchWrites() {
        std::vector<uint8_t> writes;
        for (const auto& e : board().trace().entries(sim::TraceKind::I2c)) {
            if (e.address == kSwitch && e.out.size() == 1) {
                writes.push_back(e.out[0]);
            }
        }
        return writes;
    }
    std::vector<sim::TraceEntry> transfersTo(uint8_t address) {
        std::vector<sim::TraceEntry> found;
        for (const auto& e : board().trace().entries(sim::TraceKind::I2c)) {
            if (e.address == address) {
                found.push_back(e);
            }
        }
        return found;
    }
    static size_t openDescriptors() {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
    }
};

TEST_F(I2cHandlerTest, SwitchIsWrittenOnlyWhenTheChannelMayHaveChanged) {
    i2c_handler h(true);
    ASSERT_GE(i2c_handler::switch_fd, 0);
    EXPECT_EQ(i2c_handler::lastbus, 255);
    ASSERT_GE(h.register_device(kPowerBus, kLtc, "LTC2977", "test"), 0);
    uint8_t page = 0xAA;
    EXPECT_EQ(h.read_byte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &page), 0);
    EXPECT_EQ(page, 0);
    EXPECT_EQ(h.write_byte(kPowerBus, kLtc, sim::Ltc2977::PAGE, 2, true), 0);
    EXPECT_EQ(switchWrites(), std::vector<uint8_t>{0x08});
    EXPECT_EQ(h.check_selected_bus(), 0x08);

    h.select_no_bus();
    EXPECT_EQ(h.read_byte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &page), 0);
    EXPECT_EQ(switchWrites().size(), 2u);

    // A failed byte read, word write or block read leaves the channel unknown.
    bus().fail({kPowerBus, kLtc, sim::I2cFaultKind::Read});
    EXPECT_EQ(h.read_byte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &page), kEremoteio);
    EXPECT_EQ(page, 0xFF);
    EXPECT_EQ(i2c_handler::lastbus, -1);
    EXPECT_EQ(h.read_byte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &page), 0);
    bus().fail({kPowerBus, kLtc, sim::I2cFaultKind::Write});
    EXPECT_EQ(h.write_word(kPowerBus, kLtc, sim::Ltc2977::VOUT_COMMAND, 0x1234), kEremoteio);
    EXPECT_EQ(h.write_word(kPowerBus, kLtc, sim::Ltc2977::VOUT_COMMAND, 0x1234), 0);
    bus().fail({kPowerBus, kLtc, sim::I2cFaultKind::Nack});
    uint8_t block[4];
    EXPECT_EQ(h.read_buffer(kPowerBus, kLtc, 0, sizeof block, block), 1);
    EXPECT_EQ(h.read_buffer(kPowerBus, kLtc, 0, sizeof block, block), 0);
    EXPECT_EQ(switchWrites(), (std::vector<uint8_t>{0x08, 0x08, 0x08, 0x08, 0x08}));
    EXPECT_EQ(ltc().value(2, sim::Ltc2977::VOUT_COMMAND), 0x1234); // page 2, written above
    EXPECT_NE(log().find("I2C: select_bus 3 using "), std::string::npos);
}

TEST_F(I2cHandlerTest, FailedSwitchWriteIsRetriedOnceAfterAResetPulse) {
    i2c_handler h(true);
    h.register_device(kPowerBus, kLtc, "LTC2977", "test");
    const uint32_t resetsBefore = bus().busSwitch().resets();
    bus().fail({sim::kI2cRootChannel, kSwitch, sim::I2cFaultKind::Write, sim::I2cFault::kAllRegisters, 1});
    uint8_t page = 0;
    EXPECT_EQ(h.read_byte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &page), 0);
    EXPECT_EQ(bus().busSwitch().resets(), resetsBefore + 1);
    EXPECT_NE(log().find("I2C: ERROR: I2CWrite caller=7 with errno=121"), std::string::npos);
    EXPECT_NE(log().find("I2C: ERROR: 121 writing to bus switch to select bus 3!"), std::string::npos);
    EXPECT_NE(log().find("I2C: Retry successful\n"), std::string::npos);

    h.select_no_bus();
    bus().fail({sim::kI2cRootChannel, kSwitch, sim::I2cFaultKind::Write, sim::I2cFault::kAllRegisters, 2});
    EXPECT_EQ(h.read_byte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &page), -9);
    EXPECT_EQ(i2c_handler::lastbus, -1);
    EXPECT_NE(log().find("I2C: ERROR: I2CWrite caller=8 with errno=121"), std::string::npos);
    EXPECT_NE(log().find("I2C: ERROR: read_byte failed on bus 3"), std::string::npos);
    EXPECT_EQ(transfersTo(kLtc).size(), 1u); // the failed selection reached no chip
    EXPECT_EQ(h.read_byte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &page), 0);
}

TEST_F(I2cHandlerTest, WithoutTheSwitchNothingIsSelected) {
    i2c_handler h(false);
    h.register_device(kPowerBus, kLtc, "LTC2977", "test");
    uint8_t page = 0;
    EXPECT_EQ(h.read_byte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &page), kEremoteio);
    EXPECT_TRUE(switchWrites().empty());
    EXPECT_EQ(h.check_selected_bus(), 0);
}

TEST_F(I2cHandlerTest, UnknownDevicesFailWithoutTraffic) {
    i2c_handler h(true);
    h.register_device(kPowerBus, kLtc, "LTC2977", "test");
    uint8_t byte = 0;
    uint16_t word = 0;
    EXPECT_EQ(h.write_byte(5, 0x33, 0, 0, true), -9);
    EXPECT_EQ(h.read_byte(5, 0x33, 0, &byte), -9);
    EXPECT_EQ(h.read_word(5, 0x33, 0, &word), -9);
    EXPECT_EQ(h.write_buffer(5, 0x33, 1, &byte), -9);
    EXPECT_TRUE(board().trace().entries(sim::TraceKind::I2c).empty());
    const std::string text = log();
    EXPECT_NE(text.find("I2C: ERROR: write_byte - no device found for bus 5 addr 51"), std::string::npos);
    EXPECT_NE(text.find("I2C: ERROR: no device found for bus 5 addr 51"), std::string::npos);
    EXPECT_NE(text.find("    00: bus 3 slave 92 fd "), std::string::npos);
    EXPECT_EQ(h.registered_device_fileid(1), -1);
}

TEST_F(I2cHandlerTest, RegistryKeepsOneDescriptorPerDeviceAndEvictsTheLeastRecentlyUsed) {
    i2c_handler h(true);
    const size_t before = openDescriptors();
    const int id = h.register_device(4, 0x10, "a", "test");
    EXPECT_EQ(h.register_device(4, 0x10, "a", "test"), id);
    EXPECT_EQ(openDescriptors(), before + 1);
    EXPECT_NE(log().find("Registering device 4::16 for test as "), std::string::npos);

    for (int addr = 0x11; addr < 0x11 + 100; ++addr) {
        h.register_device(4, static_cast<uint8_t>(addr), "filler", "test");
    }
    EXPECT_EQ(h.close_oldest(), 0); // 101 devices: the oldest open one goes
    EXPECT_EQ(h.registered_device_fileid(0), -1);
    h.device_registered(4, 0x11);               // used again: no longer the oldest
    h.register_device(4, 0x7F, "late", "test"); // opening evicts the next oldest
    EXPECT_GE(h.registered_device_fileid(1), 0);
    EXPECT_EQ(h.registered_device_fileid(2), -1);
    EXPECT_EQ(openDescriptors(), before + 100);

    // An evicted device is reopened on its next use.
    uint8_t byte = 0;
    EXPECT_EQ(h.read_byte(4, 0x10, 0, &byte), kEremoteio); // nothing answers on bus 4
    EXPECT_GE(h.registered_device_fileid(0), 0);
    EXPECT_EQ(openDescriptors(), before + 100);
}

TEST_F(I2cHandlerTest, OpenFailureRegistersNothing) {
    i2c_handler h(true);
    bus().fail({sim::kI2cRootChannel, 0x20, sim::I2cFaultKind::Open});
    EXPECT_EQ(h.register_device(5, 0x20, "expander", "test"), -1);
    EXPECT_EQ(h.registered_device_fileid(0), -1);
    EXPECT_NE(log().find("I2C: ERROR: I2CSetup caller=255 with errno="), std::string::npos);
    EXPECT_NE(log().find("Registering device 5::32 for test as -1:expander"), std::string::npos);
    EXPECT_EQ(h.register_device(5, 0x20, "expander", "test"), 0);
}

TEST_F(I2cHandlerTest, BlockReadsGoIn32ByteChunksOfTheSameRegister) {
    i2c_handler h(true);
    h.register_device(kPowerBus, kLtc, "LTC2977", "test");
    std::vector<uint8_t> data(70, 0xEE);
    EXPECT_EQ(h.read_buffer(kPowerBus, kLtc, sim::Ltc2977::MFR_SPECIAL_ID, 70, data.data()), 0);
    auto reads = transfersTo(kLtc);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].in.size(), 32u);
    EXPECT_EQ(reads[1].in.size(), 32u);
    EXPECT_EQ(reads[2].in.size(), 6u);
    for (const auto& r : reads) {
        EXPECT_EQ(r.out, std::vector<uint8_t>{sim::Ltc2977::MFR_SPECIAL_ID});
    }
    EXPECT_EQ(data[64], 0x31);
    EXPECT_EQ(data[69], 0x01);
}

TEST_F(I2cHandlerTest, RegisterTableGoesOnAfterAFailedRowAndReportsTheFirstFailure) {
    i2c_handler h(true);
    const i2c_register_entry table[] = {
        {kLtc, sim::Ltc2977::PAGE, 0x02},
        {kLtc, sim::Ltc2977::ON_OFF_CONFIG, 0x19}, // refused once
        {0x44, 0x01, 0x02},                        // cannot be opened
        {kLtc, sim::Ltc2977::OPERATION, 0x80},
    };
    bus().fail({kPowerBus, kLtc, sim::I2cFaultKind::Write, sim::Ltc2977::ON_OFF_CONFIG});
    bus().fail({sim::kI2cRootChannel, 0x44, sim::I2cFaultKind::Open});
    EXPECT_EQ(h.configure_i2c_device(kPowerBus, table, 4), kEremoteio); // the last row succeeded
    EXPECT_TRUE(ltc().railOn(2));
    EXPECT_EQ(ltc().onOffConfig(2), 0x1E);
    const std::string text = log();
    EXPECT_NE(text.find("I2C: configure_i2c_device on bus 3; num_vals=4\n"), std::string::npos);
    EXPECT_NE(text.find("I2C: Select Bus 3 OK\n"), std::string::npos);
    EXPECT_NE(text.find("Registering device 3::92 for configure_i2c_device as "), std::string::npos);
    EXPECT_NE(text.find("I2C: ERROR: I2C write errno=121 bus=3 s_addr=5c reg_no=02 reg_val=19"),
              std::string::npos);
    EXPECT_NE(text.find("I2C: ERROR: I2C write errno=-9 bus=3 s_addr=44 reg_no=01 reg_val=02"),
              std::string::npos);
    EXPECT_NE(text.find("I2C: configure_i2c_device complete with res = 121\n"), std::string::npos);

    bus().fail({kPowerBus, kLtc, sim::I2cFaultKind::Write, sim::Ltc2977::OPERATION});
    EXPECT_EQ(h.configure_i2c_device(kPowerBus, &table[3], 1), kEremoteio);
}

TEST_F(I2cHandlerTest, RawBufferWriteIsBitBangedWithoutStop) {
    i2c_handler h(true);
    h.register_device(kPowerBus, kLtc, "LTC2977", "test");
    uint8_t pageTwo[] = {sim::Ltc2977::PAGE, 0x02};
    EXPECT_EQ(h.write_buffer(kPowerBus, kLtc, sizeof pageTwo, pageTwo), 0);
    EXPECT_EQ(ltc().page(), 2);
    auto writes = transfersTo(kLtc);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].out, (std::vector<uint8_t>{0x00, 0x02}));
    EXPECT_EQ(writes[0].text, "bit-banged, no stop");
    EXPECT_EQ(board().pins().function(2), FSEL_ALT0);
    EXPECT_EQ(board().pins().function(3), FSEL_ALT0);

    // A refused data byte stops the rest, but the write still counts as done.
    uint8_t three[] = {sim::Ltc2977::PAGE, 0x05, 0x07};
    bus().fail({kPowerBus, kLtc, sim::I2cFaultKind::Write, sim::Ltc2977::PAGE});
    EXPECT_EQ(h.write_buffer(kPowerBus, kLtc, sizeof three, three), 0);
    EXPECT_EQ(transfersTo(kLtc).back().out, (std::vector<uint8_t>{0x00, 0x05}));
    EXPECT_EQ(ltc().page(), 2);

    // An address without acknowledge sends no data at all.
    bus().fail({kPowerBus, kLtc, sim::I2cFaultKind::Nack});
    EXPECT_EQ(h.write_buffer(kPowerBus, kLtc, sizeof three, three), -1);
    EXPECT_TRUE(transfersTo(kLtc).back().out.empty());
    EXPECT_NE(log().find("I2C: ERROR: -1 writing buffer to I2C on bus 3"), std::string::npos);

    // The I2C controller has its lines back.
    uint8_t page = 0;
    EXPECT_EQ(h.read_byte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &page), 0);
    EXPECT_EQ(page, 2);
}

TEST_F(I2cHandlerTest, ScanMapsEveryChannel) {
    i2c_handler h(true);
    h.scan_i2c_bus();
    const std::string text = log();
    EXPECT_NE(text.find("Found Bus Switch at address 70\n"), std::string::npos);
    EXPECT_NE(text.find("Scanning Bus 7\n"), std::string::npos);
    // Channel 3: the LTC2977 at 0x5C, the switch itself at 0x70 (each entry is one line
    // of the log file, behind its time stamp).
    const size_t bus3 = text.find("Scanning Bus 3\n");
    const size_t bus4 = text.find("Scanning Bus 4\n");
    ASSERT_NE(bus3, std::string::npos);
    const std::string map3 = text.substr(bus3, bus4 - bus3);
    EXPECT_NE(map3.find("> 5c "), std::string::npos);
    EXPECT_NE(map3.find("> 70 "), std::string::npos);
    EXPECT_EQ(map3.find("> 5b "), std::string::npos);
    EXPECT_EQ(text.substr(bus4).find("> 5c "), std::string::npos);

    bus().fail({sim::kI2cRootChannel, kSwitch, sim::I2cFaultKind::Nack});
    h.scan_i2c_bus();
    EXPECT_NE(log().find("I2C: ERROR: Unable to detect I2C Switch. Status = 0079\033[38;5;248m\n"),
              std::string::npos);
}

} // namespace
