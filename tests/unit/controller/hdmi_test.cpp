// The HDMI receiver and transmitter drivers against the simulated chips: what the chips
// were loaded with, what they measure, and the traffic their interrupt lines cause.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "TempRoot.h"
#include "common/logfile.h"
#include "controller/core/devices.h"
#include "controller/devices/hdmi_rx.h"
#include "controller/devices/hdmi_tx.h"
#include "controller/devices/i2c.h"
#include "sim/buses/I2cBus.h"
#include "sim/chips/HdmiReceiver.h"
#include "sim/chips/HdmiTransmitter.h"

namespace {

using sim::HdmiReceiver;
using sim::HdmiSource;
using sim::HdmiTransmitter;

class HdmiTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        std::filesystem::create_directories("log");
        std::memcpy(EDID, EDID_DEFAULT, EDID_SIZE);
        i2c_bus = std::make_unique<i2c_handler>(true);
        rx_ = std::make_unique<hdmi_rx>(LEFT, 6);
        tx_ = std::make_unique<hdmi_tx>(LEFT);
    }
    void TearDown() override {
        tx_.reset();
        rx_.reset();
        i2c_bus.reset();
        std::memcpy(EDID, EDID_DEFAULT, EDID_SIZE);
        SimBoardTest::TearDown();
    }
    // The left receiver and transmitter are the first of their kind on the board.
    HdmiReceiver& chip() { return *board().find<HdmiReceiver>(); }
    HdmiTransmitter& monitorSide() { return *board().find<HdmiTransmitter>(); }
    static std::string log() { return testing_support::readFile("log/QLM_logfile_0001.log"); }
    static bool logged(const std::string& text) { return log().find(text) != std::string::npos; }
    int configureReceiver(const char* edidFile = "") {
        return rx_->configure_hdmi_rx(HDMI_RX_1080, HDMI_RX_1080_ROWS, edidFile);
    }
    std::array<uint8_t, EDID_SIZE> defaults() const {
        std::array<uint8_t, EDID_SIZE> bytes{};
        std::memcpy(bytes.data(), EDID_DEFAULT, EDID_SIZE);
        return bytes;
    }
    size_t i2cTransfers() { return board().trace().entries(sim::TraceKind::I2c).size(); }

    std::unique_ptr<hdmi_rx> rx_;
    std::unique_ptr<hdmi_tx> tx_;
};

// Every test leaves the working table as the built-in one, so this holds in any order; the
// base block's bytes sum to zero, as a source checks.
TEST(HdmiRxEdid, TheWorkingTableStartsAsTheBuiltInOne) {
    EXPECT_EQ(std::memcmp(EDID, EDID_DEFAULT, EDID_SIZE), 0);
    unsigned sum = 0;
    for (int i = 0; i < EDID_SIZE / 2; ++i) {
        sum += EDID_DEFAULT[i];
    }
    EXPECT_EQ(sum % 256, 0u);
}

TEST_F(HdmiTest, ConfigurationProgramsTheMapsAndLoadsTheDefaultEdid) {
    EXPECT_FALSE(chip().mapAnswers(HdmiReceiver::EDID));
    EXPECT_EQ(configureReceiver(), 1);
    for (int map = HdmiReceiver::IO; map < HdmiReceiver::MAPS; ++map) {
        EXPECT_TRUE(chip().mapAnswers(static_cast<HdmiReceiver::Map>(map))) << map;
    }
    EXPECT_EQ(chip().chipResets(), 1u);
    EXPECT_EQ(chip().edid(), defaults());
    EXPECT_EQ(chip().reg(HdmiReceiver::REPEATER, 0x74), 0x01);
    EXPECT_EQ(chip().reg(HdmiReceiver::HDMI, 0x9C), 0x00); // the table's last row
    EXPECT_EQ(chip().hotPlugPulses(), 1u);
    EXPECT_TRUE(logged("RX: Bus 2; ADV7619 Revision : 20c1; Expected : 20c1\n"));
    EXPECT_TRUE(logged("read_byte 0xff=00\n"));
}

TEST_F(HdmiTest, AnotherRevisionIsNotConfigured) {
    chip().setRevision(0x20C0);
    EXPECT_EQ(configureReceiver(), 0);
    EXPECT_FALSE(chip().mapAnswers(HdmiReceiver::HDMI));
    EXPECT_EQ(chip().hotPlugPulses(), 0u);
    EXPECT_TRUE(logged("ADV7619 Revision : 20c0; Expected : 20c1\n"));
}

TEST_F(HdmiTest, EdidFilesOfTheWrongSizeAreRefusedAndTheTableKept) {
    std::string custom(EDID_SIZE, '\0');
    for (int i = 0; i < EDID_SIZE; ++i) {
        custom[i] = static_cast<char>(i);
    }
    testing_support::writeFile("custom.edid", custom);
    ASSERT_EQ(configureReceiver("custom.edid"), 1);
    EXPECT_EQ(chip().edid()[0x7F], 0x7F);

    for (const std::string& bad : {custom.substr(0, 255), custom + "x", std::string()}) {
        testing_support::writeFile("bad.edid", bad);
        EXPECT_EQ(configureReceiver("bad.edid"), 1) << bad.size();
        EXPECT_EQ(chip().edid()[0x7F], 0x7F) << "the last good table stays";
    }
    EXPECT_TRUE(logged("EDID Config file size incorrect\n"));

    // A missing file loads the built-in EDID, not the file loaded before.
    EXPECT_EQ(configureReceiver("missing.edid"), 1);
    EXPECT_EQ(chip().edid(), defaults());
    EXPECT_TRUE(logged("EDID Config file 'missing.edid' not found - using defaults.\n"));
}

TEST_F(HdmiTest, TmdsFrequencyIsNineDotSevenFixedPoint) {
    ASSERT_EQ(configureReceiver(), 1);
    float mhz = 0;
    ASSERT_EQ(rx_->get_hdmi_rx_tmds_frequency(mhz, true), 1);
    EXPECT_FLOAT_EQ(mhz, 148.5f);
    EXPECT_TRUE(logged("RX: TMDSFREQ = 4a 40 (148.500000 MHz)\n"));

    chip().setPllLocks(false);
    mhz = 0;
    EXPECT_EQ(rx_->get_hdmi_rx_tmds_frequency(mhz, true), 0);
    EXPECT_EQ(mhz, 0);
    EXPECT_TRUE(logged("RX: TMDS frequency invalid\n"));
}

TEST_F(HdmiTest, ResolutionIsMeasuredOnlyWhileLocked) {
    ASSERT_EQ(configureReceiver(), 1);
    chip().setSource(HdmiSource{true, 1920, 2205, 148.5, true});
    std::pair<unsigned, unsigned> active{}, total{};
    ASSERT_EQ(rx_->get_hdmi_resolution(active, total, false), 1);
    EXPECT_EQ(active, (std::pair<unsigned, unsigned>{1920, 2205}));
    EXPECT_EQ(total, (std::pair<unsigned, unsigned>{2200, 2250}));
    chip().setSource(HdmiSource{false});
    EXPECT_EQ(rx_->get_hdmi_resolution(active, total, false), 0);
    EXPECT_EQ(rx_->inputDetected(), 0);
}

TEST_F(HdmiTest, InterruptsAreClearedAndReported) {
    ASSERT_EQ(configureReceiver(), 1); // the hot-plug pulse restarts the source
    uint32_t video3D = 7;
    bool newTmds = false, vlockChanged = false, vlocked = false;
    EXPECT_TRUE(chip().interruptAsserted());
    EXPECT_EQ(rx_->check_interrupts(&video3D, newTmds, vlockChanged, vlocked), 0);
    EXPECT_FALSE(chip().interruptAsserted());
    EXPECT_TRUE(newTmds && vlockChanged && vlocked);
    EXPECT_EQ(video3D, 0u);

    // Only the clock changes: the TMDS edge alone, the 3D flag stays as it was.
    chip().setSource(HdmiSource{true, 1920, 1080, 100, false});
    newTmds = vlockChanged = false;
    EXPECT_EQ(rx_->check_interrupts(&video3D, newTmds, vlockChanged, vlocked), 0);
    EXPECT_TRUE(newTmds);
    EXPECT_FALSE(vlockChanged);

    chip().setSource(HdmiSource{true, 1920, 2205, 148.5, true});
    EXPECT_EQ(rx_->check_interrupts(&video3D, newTmds, vlockChanged, vlocked), 1);
    EXPECT_EQ(video3D, 1u);
    EXPECT_TRUE(logged("RX: check_interrupts  LEFT: 3D Status Change (1)\n"));
}

// A receiver that stops answering with its interrupt latched: the main loop services the
// line on every pass, but the log gets the first failure, not one report per pass.
TEST_F(HdmiTest, ADeadReceiverWithItsLineStuckLowIsReportedOnce) {
    constexpr int kThreeSecondsOfPasses = 300;
    constexpr size_t kMaxNewLines = 100;
    ASSERT_EQ(configureReceiver(), 1); // the hot-plug pulse latches the interrupt
    ASSERT_TRUE(chip().interruptAsserted());
    auto& bus = *board().find<sim::I2cBus>();
    ASSERT_TRUE(bus.fail(sim::I2cFault{I2C_BUS_HDMI_LEFT, ADV7619_IO, sim::I2cFaultKind::Nack,
                                       sim::I2cFault::kAllRegisters, sim::I2cFault::kAlways}));
    const std::string before = log();
    uint32_t video3D = 0;
    bool newTmds = false, vlockChanged = false, vlocked = false;
    for (int pass = 0; pass < kThreeSecondsOfPasses; ++pass) {
        rx_->check_interrupts(&video3D, newTmds, vlockChanged, vlocked);
    }
    const std::string added = log().substr(before.size());
    EXPECT_LT(static_cast<size_t>(std::count(added.begin(), added.end(), '\n')), kMaxNewLines) << added;
    EXPECT_NE(added.find("I2C: ERROR: I2CReadReg8 caller=4"), std::string::npos) << added;
    EXPECT_NE(added.find("Interrupt is still asserted after clearing"), std::string::npos) << added;
}

TEST_F(HdmiTest, OutputWidthAndSyncInversionReachTheChip) {
    ASSERT_EQ(configureReceiver(), 1);
    EXPECT_EQ(rx_->set_output_mode(true), 0);
    EXPECT_EQ(chip().reg(HdmiReceiver::IO, 0x03), 0x54);
    EXPECT_EQ(chip().reg(HdmiReceiver::DPLL, 0xCF), 0x03);
    EXPECT_EQ(rx_->set_output_mode(false), 0);
    EXPECT_EQ(chip().reg(HdmiReceiver::IO, 0x03), 0x40);
    const uint8_t before = chip().reg(HdmiReceiver::IO, 0x06);
    EXPECT_EQ(rx_->set_sync_output_inversion(true, false), 0);
    EXPECT_EQ(chip().reg(HdmiReceiver::IO, 0x06), (before | 0x04) & ~0x02);
    bool vsyncHigh = false, hsyncHigh = false;
    EXPECT_EQ(rx_->get_sync_input_polarity(vsyncHigh, hsyncHigh), 0);
    EXPECT_TRUE(vsyncHigh && hsyncHigh);
}

TEST_F(HdmiTest, TransmitterWithItsLineHighCausesNoTraffic) {
    ASSERT_EQ(tx_->configure_hdmi_tx(), 0);
    board().trace().clear();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tx_->check_connected(), 0u);
    }
    EXPECT_EQ(i2cTransfers(), 0u);
}

TEST_F(HdmiTest, HotPlugPowersUpAndReadsTheMonitorsEdid) {
    ASSERT_EQ(tx_->configure_hdmi_tx(), 0);
    monitorSide().plug(true);
    EXPECT_EQ(tx_->check_connected(), 1u);
    EXPECT_EQ(monitorSide().reg(HdmiTransmitter::MAIN, 0x41), 0x10);
    EXPECT_EQ(tx_->check_connected(), 3u);
    const auto expected = HdmiTransmitter::defaultMonitorEdid();
    EXPECT_EQ(std::memcmp(tx_->edid(), expected.data(), EDID_SIZE), 0);
    EXPECT_EQ(monitorSide().reg(HdmiTransmitter::MAIN, 0x44) & 1, 1);
    EXPECT_FALSE(monitorSide().interruptPending());
    monitorSide().plug(false);
    EXPECT_EQ(tx_->check_connected(), 0u);
    EXPECT_TRUE(logged("HDMI Tx LEFT Disconnected\n"));
}

// The EDID port restarts whenever its register is named: a block read in 32-byte chunks
// that names it for every chunk gets the first 32 bytes eight times over.
TEST_F(HdmiTest, ChunkedBlockReadsRepeatTheFirstChunk) {
    ASSERT_EQ(tx_->configure_hdmi_tx(), 0);
    uint8_t chunked[EDID_SIZE] = {};
    ASSERT_EQ(i2c_bus->read_buffer(I2C_BUS_HDMI_LEFT, HDMI_TX_MAIN, 0x7E, EDID_SIZE, chunked), 0);
    const auto edid = HdmiTransmitter::defaultMonitorEdid();
    EXPECT_EQ(std::memcmp(chunked + 32, edid.data(), 32), 0);
    EXPECT_NE(std::memcmp(chunked + 32, edid.data() + 32, 32), 0);
    EXPECT_EQ(tx_->read_EDID(), 0);
    EXPECT_EQ(std::memcmp(tx_->edid(), edid.data(), EDID_SIZE), 0);
}

} // namespace
