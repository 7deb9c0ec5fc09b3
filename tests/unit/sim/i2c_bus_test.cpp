// The simulated I2C bus as the Pi's I2C controller sees it: switch routing and reset,
// descriptors, faults, the register-file chip framework and the LTC2977 model.
#include <gtest/gtest.h>

#include <cerrno>

#include "TempRoot.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"
#include "sim/buses/I2cBus.h"
#include "sim/buses/I2cSwitch.h"
#include "sim/buses/RegisterFileDevice.h"
#include "sim/chips/Ltc2977.h"

namespace {

constexpr int kSda = 2;
constexpr int kScl = 3;
constexpr int kSwitchReset = 17;
constexpr uint8_t kSwitch = 0x70;
constexpr uint8_t kLtc = 0x5C;
constexpr int kPowerChannelBit = 0x08;

class I2cBusTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        pinModeAlt(kSda, FSEL_ALT0);
        pinModeAlt(kScl, FSEL_ALT0);
        switchFd_ = wiringPiI2CSetup(kSwitch);
        ASSERT_GE(switchFd_, 0);
    }
    void TearDown() override {
        platform::i2cClose(switchFd_);
        SimBoardTest::TearDown();
    }
    sim::I2cBus& bus() { return *board().find<sim::I2cBus>(); }
    sim::Ltc2977& ltc() { return *board().find<sim::Ltc2977>(); }
    void selectChannel(int bits) { ASSERT_EQ(wiringPiI2CWrite(switchFd_, bits), 0); }

    int switchFd_ = -1;
};

TEST_F(I2cBusTest, OnlyTheChannelsTheSwitchConnectsAnswer) {
    int fd = wiringPiI2CSetup(kLtc);
    ASSERT_GE(fd, 0);
    errno = 0;
    EXPECT_EQ(wiringPiI2CReadReg16(fd, sim::Ltc2977::MFR_SPECIAL_ID), -1);
    EXPECT_EQ(errno, EREMOTEIO);
    selectChannel(kPowerChannelBit);
    EXPECT_EQ(wiringPiI2CReadReg16(fd, sim::Ltc2977::MFR_SPECIAL_ID), 0x0131);
    EXPECT_EQ(wiringPiI2CRead(switchFd_), kPowerChannelBit);
    selectChannel(0x20); // another channel: the chip is gone again
    EXPECT_EQ(wiringPiI2CReadReg8(fd, sim::Ltc2977::PAGE), -1);

    auto entries = board().trace().entries(sim::TraceKind::I2c);
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[1].address, kSwitch);
    EXPECT_EQ(entries[1].out, std::vector<uint8_t>{kPowerChannelBit});
    EXPECT_EQ(entries[2].channel, 3);
    EXPECT_EQ(entries[2].out, std::vector<uint8_t>{0xE7});
    EXPECT_EQ(entries[2].in, (std::vector<uint8_t>{0x31, 0x01}));
    platform::i2cClose(fd);
}

TEST_F(I2cBusTest, ResetLineClearsAndSilencesTheSwitch) {
    selectChannel(kPowerChannelBit);
    pinMode(kSwitchReset, OUTPUT);
    digitalWrite(kSwitchReset, LOW);
    EXPECT_TRUE(bus().busSwitch().inReset());
    EXPECT_EQ(wiringPiI2CWrite(switchFd_, kPowerChannelBit), -1);
    digitalWrite(kSwitchReset, HIGH);
    EXPECT_EQ(bus().busSwitch().control(), 0);
    EXPECT_EQ(bus().busSwitch().resets(), 1u);
    // Released by the Pi, the line's pull-up keeps the switch running.
    pinMode(kSwitchReset, INPUT);
    EXPECT_FALSE(bus().busSwitch().inReset());
}

TEST_F(I2cBusTest, ControllerNeedsItsPinsAndFreeLines) {
    int fd = wiringPiI2CSetup(kLtc);
    selectChannel(kPowerChannelBit);
    bus().holdLine(kSda, true);
    errno = 0;
    EXPECT_EQ(wiringPiI2CReadReg8(fd, sim::Ltc2977::PAGE), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(digitalRead(kSda), LOW);
    bus().holdLine(kSda, false);
    EXPECT_EQ(digitalRead(kSda), HIGH);

    pinModeAlt(kScl, FSEL_INPT); // left in GPIO mode: the controller reaches nothing
    errno = 0;
    EXPECT_EQ(wiringPiI2CReadReg8(fd, sim::Ltc2977::PAGE), -1);
    EXPECT_EQ(errno, EREMOTEIO);
    pinModeAlt(kScl, FSEL_ALT0);
    EXPECT_EQ(wiringPiI2CReadReg8(fd, sim::Ltc2977::PAGE), 0);
    platform::i2cClose(fd);
}

TEST_F(I2cBusTest, DescriptorsAreRealAndAddressedToOneSlave) {
    errno = 0;
    EXPECT_EQ(wiringPiI2CSetup(0x80), -1);
    EXPECT_EQ(errno, EINVAL);
    int fd = wiringPiI2CSetup(kLtc);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::i2cClose(fd), 0);
    errno = 0;
    EXPECT_EQ(wiringPiI2CRead(fd), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(platform::i2cClose(fd), -1);

    bus().fail({sim::kI2cRootChannel, kLtc, sim::I2cFaultKind::Open});
    errno = 0;
    EXPECT_EQ(wiringPiI2CSetup(kLtc), -1);
    EXPECT_NE(errno, 0);
    fd = wiringPiI2CSetup(kLtc); // the fault was one-shot
    EXPECT_GE(fd, 0);
    platform::i2cClose(fd);
}

TEST_F(I2cBusTest, FaultsStrikeTheirRegisterAsOftenAsToldThenWearOff) {
    int fd = wiringPiI2CSetup(kLtc);
    selectChannel(kPowerChannelBit);
    bus().fail({3, kLtc, sim::I2cFaultKind::Nack, sim::I2cFault::kAllRegisters, 1});
    EXPECT_EQ(wiringPiI2CReadReg8(fd, sim::Ltc2977::PAGE), -1);
    EXPECT_EQ(wiringPiI2CReadReg8(fd, sim::Ltc2977::PAGE), 0);

    bus().fail({3, kLtc, sim::I2cFaultKind::Read, sim::Ltc2977::MFR_SPECIAL_ID, sim::I2cFault::kAlways});
    EXPECT_GE(wiringPiI2CReadReg16(fd, sim::Ltc2977::STATUS_WORD), 0);
    EXPECT_EQ(wiringPiI2CReadReg16(fd, sim::Ltc2977::MFR_SPECIAL_ID), -1);
    EXPECT_EQ(wiringPiI2CReadReg16(fd, sim::Ltc2977::MFR_SPECIAL_ID), -1);
    bus().clearFaults(3, kLtc);
    EXPECT_EQ(wiringPiI2CReadReg16(fd, sim::Ltc2977::MFR_SPECIAL_ID), 0x0131);

    bus().fail({3, kLtc, sim::I2cFaultKind::Write, sim::I2cFault::kAllRegisters, 2});
    EXPECT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::PAGE, 2), -1);
    EXPECT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::PAGE, 2), -1);
    EXPECT_EQ(ltc().page(), 0); // refused writes leave the register alone
    EXPECT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::PAGE, 2), 0);
    EXPECT_EQ(ltc().page(), 2);

    // The switch fails like any chip: its control byte is the written data.
    bus().fail({sim::kI2cRootChannel, kSwitch, sim::I2cFaultKind::Write});
    EXPECT_EQ(wiringPiI2CWrite(switchFd_, 0x01), -1);
    EXPECT_EQ(bus().busSwitch().control(), kPowerChannelBit);
    platform::i2cClose(fd);
}

// A chip of the kind later models build on: two maps at two addresses, byte registers.
class TestChip : public sim::RegisterFileDevice {
public:
    TestChip(sim::Board& board, sim::I2cBus& bus)
        : RegisterFileDevice(board, bus, {"test_chip", 4, {0x20, 0x21}, 2, 0, {{1, 0x10, 0xA5}}}) {}
    int writes = 0;

protected:
    void written(int, uint8_t, uint16_t) override { ++writes; }
    bool acceptWrite(int bank, uint8_t reg, uint16_t) override { return !(bank == 0 && reg == 0xFF); }
};

TEST_F(I2cBusTest, RegisterFilesStoreFromThePointerOnPerMap) {
    auto* chip = static_cast<TestChip*>(board().add(std::make_unique<TestChip>(board(), bus())));
    selectChannel(1 << 4); // the unused channel: the lighting controls sit at 0x20 on channel 5
    const uint8_t block[] = {0x04, 0x11, 0x22, 0x33};
    ASSERT_EQ(bus().writeBytes(0x20, block, 4, "test"), 0);
    EXPECT_EQ(chip->writes, 3);
    EXPECT_EQ(chip->value(0, 0x05), 0x22);
    EXPECT_EQ(chip->value(1, 0x05), 0); // the second map is another bank

    int fd = wiringPiI2CSetup(0x20);
    uint8_t data[4] = {};
    EXPECT_EQ(platform::i2cReadBlock(fd, 0x04, 3, data), 3);
    EXPECT_EQ(data[0], 0x11);
    EXPECT_EQ(data[2], 0x33);
    EXPECT_EQ(platform::i2cReadBlock(fd, 0x04, 33, data), -1); // over the SMBus block size
    EXPECT_EQ(wiringPiI2CWriteReg16(fd, 0x08, 0xBEEF), 0);     // byte registers: low byte first
    EXPECT_EQ(chip->value(0, 0x08), 0xEF);
    EXPECT_EQ(chip->value(0, 0x09), 0xBE);
    EXPECT_EQ(wiringPiI2CWriteReg8(fd, 0xFF, 1), -1); // a refused write is not acknowledged

    int fd2 = wiringPiI2CSetup(0x21);
    EXPECT_EQ(wiringPiI2CReadReg8(fd2, 0x10), 0xA5);
    // A second program on the board sees the same registers; a power cycle restores them.
    sim::Board other(root(), sim::BoardConfig::load(sim::Board::configPath(root())));
    auto& otherBus = *other.find<sim::I2cBus>();
    TestChip otherChip(other, otherBus);
    EXPECT_EQ(otherChip.value(0, 0x05), 0x22);
    board().powerCycle();
    EXPECT_EQ(chip->value(0, 0x05), 0);
    EXPECT_EQ(chip->value(1, 0x10), 0xA5);
    platform::i2cClose(fd);
    platform::i2cClose(fd2);
}

TEST_F(I2cBusTest, Ltc2977PagesBroadcastAndRamps) {
    int fd = wiringPiI2CSetup(kLtc);
    selectChannel(kPowerChannelBit);
    // Power-on: only the controller's own supply runs.
    for (int page = 0; page < sim::Ltc2977::kPages; ++page) {
        EXPECT_EQ(ltc().railOn(page), page == 5) << page;
    }
    EXPECT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::PAGE, 9), -1); // no such page
    ASSERT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::PAGE, 0xFF), 0);
    ASSERT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::ON_OFF_CONFIG, 0x19), 0);
    ltc().setRamp(0, std::chrono::hours(1));
    ltc().setRamp(2, std::chrono::microseconds(0));
    ASSERT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::OPERATION, 0x80), 0);
    for (int page = 0; page < sim::Ltc2977::kPages; ++page) {
        EXPECT_TRUE(ltc().railOn(page)) << page;
    }
    ASSERT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::PAGE, 1), 0);
    ASSERT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::OPERATION, 0x00), 0);
    EXPECT_FALSE(ltc().railOn(sim::Ltc2977::kCameraPage));
    EXPECT_EQ(wiringPiI2CReadReg16(fd, sim::Ltc2977::STATUS_WORD), 0x0841); // off, not good

    ASSERT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::PAGE, 0), 0);
    EXPECT_EQ(wiringPiI2CReadReg16(fd, sim::Ltc2977::STATUS_WORD), 0x0801); // still ramping
    ASSERT_EQ(wiringPiI2CWriteReg8(fd, sim::Ltc2977::PAGE, 2), 0);
    EXPECT_EQ(wiringPiI2CReadReg16(fd, sim::Ltc2977::STATUS_WORD), 0);
    ltc().setNeverGood(2, true);
    EXPECT_EQ(wiringPiI2CReadReg16(fd, sim::Ltc2977::STATUS_WORD), 0x0801);
    EXPECT_EQ(wiringPiI2CWriteReg16(fd, sim::Ltc2977::MFR_SPECIAL_ID, 0), -1); // read-only
    platform::i2cClose(fd);
}

TEST_F(I2cBusTest, OstrixSimCommandsSetFaultsRampsAndShowRails) {
    EXPECT_TRUE(board().execute({"i2c", "fail", "3", "0x5c", "read", "0xe7", "2"}).ok);
    EXPECT_TRUE(board().execute({"i2c", "fail", "switch", "write", "once"}).ok);
    EXPECT_FALSE(board().execute({"i2c", "fail", "8", "0x5c", "nack"}).ok);
    EXPECT_FALSE(board().execute({"i2c", "fail", "3", "0x5c", "stuck"}).ok);
    EXPECT_FALSE(board().execute({"i2c", "fail", "3", "0x5c", "nack", "all", "sometimes"}).ok);
    std::string status = board().statusJson();
    EXPECT_NE(status.find(R"({"bus":"3","address":"0x5c","kind":"read","register":"0xe7","remaining":"2"})"),
              std::string::npos)
        << status;
    EXPECT_NE(status.find(R"("kind":"write","register":"all","remaining":"1")"), std::string::npos);
    EXPECT_TRUE(board().execute({"i2c", "clear"}).ok);
    EXPECT_EQ(board().statusJson().find("\"kind\":"), std::string::npos);

    EXPECT_EQ(board().execute({"i2c", "get", "3", "0x5c", "0xe7"}).text, "0x131\n");
    EXPECT_TRUE(board().execute({"i2c", "set", "3", "0x5c", "0xe7", "0x42"}).ok);
    EXPECT_EQ(ltc().value(sim::Ltc2977::kPages, sim::Ltc2977::MFR_SPECIAL_ID), 0x42);
    EXPECT_FALSE(board().execute({"i2c", "get", "4", "0x5c", "0"}).ok);

    EXPECT_TRUE(board().execute({"i2c", "hold", "scl"}).ok);
    EXPECT_EQ(digitalRead(kScl), LOW);
    EXPECT_TRUE(board().execute({"i2c", "release"}).ok);
    EXPECT_EQ(digitalRead(kScl), HIGH);

    EXPECT_TRUE(board().execute({"rail", "vcc5v0", "never-good"}).ok);
    EXPECT_TRUE(board().execute({"rail", "5", "ramp", "0"}).ok);
    EXPECT_FALSE(board().execute({"rail", "8", "ramp", "5"}).ok);
    EXPECT_FALSE(board().execute({"rail", "VCC1V5", "ramp", "-1"}).ok);
    status = board().statusJson();
    EXPECT_NE(status.find(R"({"page":1,"name":"VCC5V0CAM","on":false,"power_good":false,"operation":"0x00",)"
                          R"("on_off_config":"0x1e"})"),
              std::string::npos)
        << status;
    EXPECT_NE(status.find(R"("name":"VCC3V3PI","on":true,"power_good":true)"), std::string::npos);
}

} // namespace
