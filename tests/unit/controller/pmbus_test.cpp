// PMBus transfers bit-banged on GPIO 2/3 against the simulated board's bit-level target.
#include <gtest/gtest.h>

#include <chrono>

#include "I2cFixture.h"
#include "controller/devices/PMBus.h"
#include "controller/devices/i2c.h"
#include "platform/wiringPi.h"
#include "sim/buses/BitBangI2cTarget.h"
#include "sim/buses/I2cBus.h"
#include "sim/chips/Ltc2977.h"

namespace {

constexpr uint8_t kPowerBus = 3;
constexpr uint8_t kLtc = 0x5C;
constexpr int kSda = 2;
constexpr int kScl = 3;

class PMBusTest : public I2cDeviceTest {
protected:
    void SetUp() override {
        I2cDeviceTest::SetUp();
        board().trace().clear();
    }
    i2c_handler& h() { return *i2c_; }
    sim::I2cBus& bus() { return *board().find<sim::I2cBus>(); }
    sim::Ltc2977& ltc() { return *board().find<sim::Ltc2977>(); }
    std::vector<sim::TraceEntry> bitBanged() {
        std::vector<sim::TraceEntry> found;
        for (const auto& e : board().trace().entries(sim::TraceKind::I2c)) {
            if (e.text.rfind("bit-banged", 0) == 0) {
                found.push_back(e);
            }
        }
        return found;
    }

    // Edges seen on SDA and SCL.
    size_t lineEdges(int pin) {
        size_t n = 0;
        for (const auto& e : board().trace().entries(sim::TraceKind::Gpio)) {
            n += e.channel == pin;
        }
        return n;
    }
};

TEST_F(PMBusTest, ReadWordAssemblesLowByteFirst) {
    ltc().setValue(0, sim::Ltc2977::VOUT_COMMAND, 0x1234);
    uint16_t value = 0;
    EXPECT_EQ(h().PMBUS_readWord(kPowerBus, kLtc, sim::Ltc2977::VOUT_COMMAND, &value), 1);
    EXPECT_EQ(value, 0x1234);
    auto transfers = bitBanged();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].address, kLtc);
    EXPECT_EQ(transfers[0].channel, kPowerBus);
    EXPECT_EQ(transfers[0].out, std::vector<uint8_t>{sim::Ltc2977::VOUT_COMMAND});
    EXPECT_EQ(transfers[0].in, (std::vector<uint8_t>{0x34, 0x12}));
    EXPECT_EQ(transfers[0].text, "bit-banged"); // acknowledged throughout, ended by a stop
    // The lines are back with the I2C controller; the edges are not in the trace, only the
    // START that began the transfer.
    EXPECT_EQ(board().pins().function(kSda), FSEL_ALT0);
    EXPECT_EQ(board().pins().function(kScl), FSEL_ALT0);
    EXPECT_LE(board().trace().count(sim::TraceKind::Gpio), 1u);
    const std::string text = log();
    EXPECT_NE(text.find("PMBus_readWord\n"), std::string::npos);
    EXPECT_NE(text.find("I2C: select_bus 3 using "), std::string::npos);
    EXPECT_NE(text.find("I2C: selected bus 3 using "), std::string::npos);
}

TEST_F(PMBusTest, ByteTransfersReachTheChip) {
    EXPECT_EQ(h().PMBUS_writeByte(kPowerBus, kLtc, sim::Ltc2977::PAGE, 3), 1);
    EXPECT_EQ(ltc().page(), 3);
    uint8_t page = 0;
    EXPECT_EQ(h().PMBUS_readByte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &page), 1);
    EXPECT_EQ(page, 3);
    EXPECT_EQ(h().PMBUS_sendByte(kPowerBus, kLtc, sim::Ltc2977::CLEAR_FAULTS), 1);
    auto transfers = bitBanged();
    ASSERT_EQ(transfers.size(), 3u);
    EXPECT_EQ(transfers[0].out, (std::vector<uint8_t>{0x00, 0x03}));
    EXPECT_EQ(transfers[1].in, std::vector<uint8_t>{0x03});
    EXPECT_EQ(transfers[2].out, std::vector<uint8_t>{sim::Ltc2977::CLEAR_FAULTS});
    // One selection of the power channel for all three.
    EXPECT_EQ(board().trace().entries(sim::TraceKind::I2c).size(), 4u);
}

TEST_F(PMBusTest, HeldLineMakesStartFailAndNothingIsSent) {
    bus().bitBang().setEdgeTracing(true);
    bus().holdLine(kSda, true);
    board().trace().clear();
    EXPECT_EQ(h().PMBUS_writeByte(kPowerBus, kLtc, sim::Ltc2977::PAGE, 3), 0);
    EXPECT_EQ(lineEdges(kSda) + lineEdges(kScl), 0u);
    // The held line also kept the I2C controller from selecting the channel.
    EXPECT_NE(log().find("I2C: ERROR: PMBusModeOn failed"), std::string::npos);
    bus().holdLine(kSda, false);

    bus().holdLine(kScl, true);
    board().trace().clear();
    EXPECT_EQ(h().PMBUS_sendByte(kPowerBus, kLtc, sim::Ltc2977::CLEAR_FAULTS), 0);
    EXPECT_EQ(lineEdges(kScl), 0u) << "no clock may be sent";
    uint16_t word = 0xBEEF;
    EXPECT_EQ(h().PMBUS_readWord(kPowerBus, kLtc, sim::Ltc2977::STATUS_WORD, &word), 0);
    EXPECT_EQ(word, 0xBEEF);
    EXPECT_NE(log().find("PMB: PMBus Start failed\n"), std::string::npos);
    bus().holdLine(kScl, false);
    EXPECT_TRUE(bitBanged().empty());
    EXPECT_EQ(ltc().page(), 0);
}

TEST_F(PMBusTest, ContentionIsDetectedOnTheFirstDifferingBit) {
    // Another master pulls SDA low while our first address bit (a 1) is clocked.
    bool armed = true;
    const int hook = board().pins().addEdgeHook(kScl, [&](int, int level) {
        if (level == HIGH && armed) {
            armed = false;
            bus().holdLine(kSda, true);
        }
    });
    EXPECT_EQ(h().PMBUS_writeByte(kPowerBus, kLtc, sim::Ltc2977::PAGE, 3), 0);
    board().pins().removeEdgeHook(hook);
    bus().holdLine(kSda, false);
    EXPECT_NE(log().find("PMB: PMBus contention\n"), std::string::npos);
    EXPECT_EQ(ltc().page(), 0);
    // The bus recovers for the next transfer.
    EXPECT_EQ(h().PMBUS_writeByte(kPowerBus, kLtc, sim::Ltc2977::PAGE, 3), 1);
    EXPECT_EQ(ltc().page(), 3);
}

TEST_F(PMBusTest, SlaveWithoutAcknowledgeFailsEveryTransferAfterStop) {
    bus().fail(
        {kPowerBus, kLtc, sim::I2cFaultKind::Nack, sim::I2cFault::kAllRegisters, sim::I2cFault::kAlways});
    uint8_t byte = 0x55;
    uint16_t word = 0x5555;
    EXPECT_EQ(h().PMBUS_sendByte(kPowerBus, kLtc, sim::Ltc2977::CLEAR_FAULTS), 0);
    EXPECT_EQ(h().PMBUS_writeByte(kPowerBus, kLtc, sim::Ltc2977::PAGE, 3), 0);
    EXPECT_EQ(h().PMBUS_readByte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &byte), 0);
    EXPECT_EQ(h().PMBUS_readWord(kPowerBus, kLtc, sim::Ltc2977::STATUS_WORD, &word), 0);
    EXPECT_EQ(byte, 0x55);
    EXPECT_EQ(word, 0x5555);
    auto transfers = bitBanged();
    ASSERT_EQ(transfers.size(), 4u);
    for (const auto& t : transfers) {
        EXPECT_EQ(t.text, "bit-banged, address NACK"); // each ended by a stop
        EXPECT_TRUE(t.out.empty());
    }
    EXPECT_NE(log().find("PMB: PMBus Send Slave Address + Write failed\n"), std::string::npos);
}

TEST_F(PMBusTest, ReadFailureAfterTheCommandIsReported) {
    bus().fail({kPowerBus, kLtc, sim::I2cFaultKind::Read, sim::Ltc2977::STATUS_WORD});
    uint16_t word = 0;
    EXPECT_EQ(h().PMBUS_readWord(kPowerBus, kLtc, sim::Ltc2977::STATUS_WORD, &word), 0);
    EXPECT_NE(log().find("PMB: PMBus Send Slave Address + Read failed\n"), std::string::npos);
    bus().fail({kPowerBus, kLtc, sim::I2cFaultKind::Write, sim::I2cFault::kAllRegisters});
    EXPECT_EQ(h().PMBUS_writeByte(kPowerBus, kLtc, sim::Ltc2977::PAGE, 3), 0);
    EXPECT_EQ(bitBanged().back().text, "bit-banged, data NACK");
}

// The bit-banged clock is timed, not counted in loop iterations: every kind of transfer
// keeps to the standard-mode SCL high and low times the chips accept, however fast the
// processor.
TEST_F(PMBusTest, EveryBitBangedTransferKeepsToTheClockLimits) {
    ASSERT_EQ(bus().bitBang().minHigh(), sim::BitBangI2cTarget::kMinHigh);
    h().register_device(kPowerBus, kLtc, "LTC2977", "test");
    uint16_t word = 0;
    uint8_t byte = 0;
    uint8_t pageTwo[] = {sim::Ltc2977::PAGE, 0x02};
    EXPECT_EQ(h().PMBUS_writeByte(kPowerBus, kLtc, sim::Ltc2977::PAGE, 3), 1);
    EXPECT_EQ(h().PMBUS_readByte(kPowerBus, kLtc, sim::Ltc2977::PAGE, &byte), 1);
    EXPECT_EQ(h().PMBUS_readWord(kPowerBus, kLtc, sim::Ltc2977::VOUT_COMMAND, &word), 1);
    EXPECT_EQ(h().write_buffer(kPowerBus, kLtc, sizeof pageTwo, pageTwo), 0);
    EXPECT_EQ(bus().bitBang().refusedTransfers(), 0) << bus().bitBang().lastRefusal();
    EXPECT_EQ(ltc().page(), 2);
}

// A clock faster than the chips accept is refused: with the limits raised above the
// controller's half period (1 ms) every transfer fails and the board says why.
TEST_F(PMBusTest, AClockFasterThanTheLimitsIsRefused) {
    using std::chrono::nanoseconds;
    struct Case {
        nanoseconds minHigh;
        nanoseconds minLow;
        const char* why;
    };
    const Case cases[] = {
        {nanoseconds(1000000), sim::BitBangI2cTarget::kMinLow, "clock too fast: SCL high "},
        {sim::BitBangI2cTarget::kMinHigh, nanoseconds(1000000), "clock too fast: SCL low "},
    };
    h().register_device(kPowerBus, kLtc, "LTC2977", "test");
    int refused = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        bus().bitBang().setClockLimits(c.minHigh, c.minLow);
        uint16_t word = 0;
        EXPECT_EQ(h().PMBUS_readWord(kPowerBus, kLtc, sim::Ltc2977::VOUT_COMMAND, &word), 0);
        uint8_t pageFive[] = {sim::Ltc2977::PAGE, 0x05};
        EXPECT_EQ(h().write_buffer(kPowerBus, kLtc, sizeof pageFive, pageFive), -1);
        EXPECT_NE(ltc().page(), 5);
        refused += 2;
        EXPECT_EQ(bus().bitBang().refusedTransfers(), refused);
        EXPECT_EQ(bus().bitBang().lastRefusal().rfind(c.why, 0), 0u) << bus().bitBang().lastRefusal();
        const std::vector<sim::TraceEntry> transfers = bitBanged();
        ASSERT_FALSE(transfers.empty());
        EXPECT_NE(transfers.back().text.find(c.why), std::string::npos) << transfers.back().text;
    }
    EXPECT_NE(board().statusJson().find("\"refused\":4"), std::string::npos) << board().statusJson();
    // Back at the standard limits the same transfers go through.
    bus().bitBang().setClockLimits(sim::BitBangI2cTarget::kMinHigh, sim::BitBangI2cTarget::kMinLow);
    uint16_t word = 0;
    EXPECT_EQ(h().PMBUS_readWord(kPowerBus, kLtc, sim::Ltc2977::VOUT_COMMAND, &word), 1);
}

} // namespace
