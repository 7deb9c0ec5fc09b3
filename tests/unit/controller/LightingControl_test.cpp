// The lighting control on the simulated board: DAC codes and enables as the DAC and the
// expander on bus 5 see them, the supply pin, open-LED sensing and failures.
#include <gtest/gtest.h>

#include <memory>

#include "I2cFixture.h"
#include "controller/devices/LightingControl.h"
#include "controller/devices/i2c.h"
#include "platform/wiringPi.h"
#include "sim/buses/I2cBus.h"
#include "sim/chips/LightingModels.h"

namespace {

constexpr uint8_t kLightingBus = 5;

class LightingTest : public I2cDeviceTest {
protected:
    void TearDown() override {
        lights_.reset();
        I2cDeviceTest::TearDown();
    }
    LightingControl& make(uint16_t minlevel = 440) {
        lights_ = std::make_unique<LightingControl>(i2c_.get(), minlevel);
        return *lights_;
    }
    sim::Ltc2625& dac() { return *board().find<sim::Ltc2625>(); }
    sim::LightingExpander& expander() { return *board().find<sim::LightingExpander>(); }
    sim::I2cBus& bus() { return *board().find<sim::I2cBus>(); }
    // The bytes of every transfer to the DAC after the register pointer.
    std::vector<std::vector<uint8_t>> dacWrites() {
        std::vector<std::vector<uint8_t>> writes;
        for (const auto& e : board().trace().entries(sim::TraceKind::I2c)) {
            if (e.address == sim::Ltc2625::kAddress && e.channel == kLightingBus) {
                writes.push_back(e.out);
            }
        }
        return writes;
    }

    std::unique_ptr<LightingControl> lights_;
};

TEST_F(LightingTest, ConstructionPowersUpWithEveryChannelDark) {
    LightingControl& lc = make();
    EXPECT_EQ(digitalRead(sim::LightingExpander::kSupplyPin), HIGH);
    EXPECT_EQ(expander().value(0, sim::LightingExpander::kConfig), 0xC0);
    EXPECT_EQ(expander().enables(), 0);
    ASSERT_FALSE(dacWrites().empty());
    // One write and update of all channels with code 0: command 0x3F, then 0x0000.
    EXPECT_EQ(dacWrites().back(), (std::vector<uint8_t>{0x3F, 0x00, 0x00}));
    EXPECT_EQ(lc.status(), 0);
    std::string text = log();
    EXPECT_NE(text.find("LC: Constructing Lighting Control\n"), std::string::npos);
    EXPECT_NE(text.find("Registering device 5::32 for LightingControl"), std::string::npos);
    EXPECT_NE(text.find("Registering device 5::16 for LightingControl"), std::string::npos);
}

TEST_F(LightingTest, LevelsMapToDacCodesBetweenMinimumAndChannelMaximum) {
    LightingControl& lc = make();
    struct Case {
        uint8_t channel;
        uint16_t level;
        uint16_t code;
    } cases[] = {{RING_TOP, 1, 440},   {RING_RIGHT, 13, 2035}, {RING_BOTTOM, 25, 3630},
                 {SUBSTAGE, 25, 2020}, {AUXILIARY, 30, 3630},  {RING_LEFT, 2, 572},
                 {SUBSTAGE, 1, 440},   {SUBSTAGE, 13, 1230}};
    for (const Case& c : cases) {
        ASSERT_EQ(lc.channel_level(c.channel, c.level), 0);
        EXPECT_EQ(dac().code(c.channel), c.code) << int(c.channel) << " level " << c.level;
        // The code travels left-justified, most significant byte first.
        const uint16_t word = static_cast<uint16_t>(c.code << 4);
        EXPECT_EQ(dacWrites().back(),
                  (std::vector<uint8_t>{static_cast<uint8_t>(0x30 | c.channel),
                                        static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)}));
    }
    EXPECT_EQ(expander().enables(), 0x3F);
    for (int c = 0; c < NUM_CHANNELS; ++c) {
        EXPECT_TRUE(expander().lit(c)) << c;
    }
}

TEST_F(LightingTest, EnableBitsFollowTheCodes) {
    LightingControl& lc = make();
    lc.RingLight(RING_BOTTOM, 10);
    lc.SubstageLight(3);
    EXPECT_EQ(expander().enables(), 0x24);
    lc.RingLight(RING_BOTTOM + 4, 0); // quadrants count modulo 4
    EXPECT_EQ(dac().code(RING_BOTTOM), 0);
    EXPECT_EQ(expander().enables(), 0x20);
    EXPECT_EQ(lc.enables(), 0x20);
    EXPECT_NE(log().find("LC: Light Enable 20\n"), std::string::npos);
    lc.Auxiliary(25);
    EXPECT_EQ(expander().enables(), 0x30);
}

TEST_F(LightingTest, TheMinimumLevelIsTakenOnlyStrictlyInsideItsRange) {
    EXPECT_EQ(make(440).minimum_dac_level(), 440);
    EXPECT_EQ(make(2020).minimum_dac_level(), 440);
    EXPECT_EQ(make(0).minimum_dac_level(), 440);
    EXPECT_EQ(make(441).minimum_dac_level(), 441);
    LightingControl& lc = make(2019);
    EXPECT_EQ(lc.minimum_dac_level(), 2019);
    lc.SubstageLight(1);
    EXPECT_EQ(dac().code(SUBSTAGE), 2019);
    lc.SubstageLight(25);
    EXPECT_EQ(dac().code(SUBSTAGE), 2020);
}

TEST_F(LightingTest, OpenLedInputsReachTheStatus) {
    LightingControl& lc = make();
    expander().setOpenLed(true, true); // the expander's inputs read 0xC0
    lc.RingLight(RING_TOP, 5);
    EXPECT_EQ(lc.status(), LC_STATUS_SUBSTAGE_OPEN | LC_STATUS_RING_OPEN);
    lc.power(true); // clears the status
    EXPECT_EQ(lc.status(), 0);
    expander().setOpenLed(true, false);
    lc.SubstageLight(5);
    EXPECT_EQ(lc.status(), LC_STATUS_SUBSTAGE_OPEN);
    EXPECT_TRUE(board().execute({"lighting", "open-led", "substage", "off"}).ok);
    EXPECT_FALSE(board().execute({"lighting", "open-led", "both", "on"}).ok);
}

TEST_F(LightingTest, AnUndefinedChannelWritesNothing) {
    LightingControl& lc = make();
    board().trace().clear();
    EXPECT_EQ(lc.channel_level(6, 10), 0);
    EXPECT_TRUE(dacWrites().empty());
    EXPECT_NE(log().find("\033[38;5;196mLC: ERROR: undefined lighting channel 6\033[38;5;248m\n"),
              std::string::npos);
    EXPECT_EQ(lc.write_dac(LTC2625_CMD_WRANDUPDATEN, 9, 10), -1);
    EXPECT_TRUE(dacWrites().empty());
}

TEST_F(LightingTest, FailuresAreReportedAndAccumulateUntilThePowerCall) {
    LightingControl& lc = make();
    bus().fail({kLightingBus, sim::Ltc2625::kAddress, sim::I2cFaultKind::Nack});
    EXPECT_EQ(lc.channel_level(RING_TOP, 10), -1);
    EXPECT_EQ(lc.status(), LC_STATUS_DAC_FAILED);
    EXPECT_EQ(expander().enables(), 0); // no code, so no enable

    bus().fail({kLightingBus, sim::LightingExpander::kAddress, sim::I2cFaultKind::Write});
    EXPECT_EQ(lc.write_dac(LTC2625_CMD_WRANDUPDATEN, RING_TOP, 10), 254);
    EXPECT_NE(log().find("\033[38;5;196mLC: ERROR configuring Lighting Control Board\033[38;5;248m\n"),
              std::string::npos);
    bus().fail({kLightingBus, sim::LightingExpander::kAddress, sim::I2cFaultKind::Read});
    EXPECT_EQ(lc.write_dac(LTC2625_CMD_WRANDUPDATEN, RING_TOP, 10), 253);
    EXPECT_EQ(lc.status(), LC_STATUS_DAC_FAILED | LC_STATUS_EXPANDER_FAILED);

    bus().fail({kLightingBus, sim::LightingExpander::kAddress, sim::I2cFaultKind::Write, 3, 1});
    lc.power(true);
    EXPECT_EQ(lc.status(), LC_STATUS_CONFIG_FAILED);
    EXPECT_NE(log().find("LC: ERROR 121 configuring Lighting Control Board - Config"), std::string::npos);
}

TEST_F(LightingTest, ShutDownDarkensEveryChannelAndCutsTheSupply) {
    LightingControl& lc = make();
    for (uint8_t q = 0; q < 4; ++q) {
        lc.RingLight(q, 7);
    }
    lc.SubstageLight(9);
    lc.Auxiliary(11);
    lc.shut_down();
    EXPECT_EQ(expander().enables(), 0);
    for (int c = 0; c < NUM_CHANNELS; ++c) {
        EXPECT_EQ(dac().code(c), 0) << c;
    }
    EXPECT_EQ(digitalRead(sim::LightingExpander::kSupplyPin), LOW);
    lc.wake_up();
    EXPECT_EQ(digitalRead(sim::LightingExpander::kSupplyPin), HIGH);
    lights_.reset(); // the destructor switches the supply off
    EXPECT_EQ(digitalRead(sim::LightingExpander::kSupplyPin), LOW);
}

TEST_F(LightingTest, TheBoardShowsWhichLightsAreLit) {
    LightingControl& lc = make();
    lc.Auxiliary(20);
    std::string status = board().statusJson();
    EXPECT_NE(status.find("\"lighting\":{\"supply\":true,\"enables\":16"), std::string::npos) << status;
    EXPECT_NE(status.find("{\"name\":\"auxiliary\",\"code\":2965,\"lit\":true}"), std::string::npos)
        << status;
    lc.power(false);
    EXPECT_FALSE(expander().lit(AUXILIARY));
}

} // namespace
