// The clock generator's table and scripts against the simulated board: what the chip
// was loaded with, and what a bad script leaves behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>

#include "I2cFixture.h"
#include "controller/devices/clocks.h"
#include "controller/devices/i2c.h"
#include "sim/buses/I2cBus.h"
#include "sim/chips/ClockGenerator.h"

namespace {

std::string header() {
    std::string text;
    for (int i = 1; i <= CLOCK_SCRIPT_HEADER_LINES; ++i) {
        text += "header line " + std::to_string(i) + "\n";
    }
    return text;
}

std::string entries(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        char line[32];
        snprintf(line, sizeof line, "0x%04X,0x%02X\n", i, i + 1);
        text += line;
    }
    return text;
}

class ClocksTest : public I2cDeviceTest {
protected:
    void SetUp() override {
        I2cDeviceTest::SetUp();
        clocks_ = std::make_unique<clocks>(i2c_.get(), I2C_BUS_CLK_CONTROLLER);
    }
    void TearDown() override {
        clocks_.reset();
        I2cDeviceTest::TearDown();
    }
    sim::ClockGenerator& chip() { return *board().find<sim::ClockGenerator>(); }

    std::unique_ptr<clocks> clocks_;
};

TEST_F(ClocksTest, BuiltInTableIsWrittenTenMillisecondsApart) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(clocks_->configure_clocks(), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(500));
    const auto table = chip().loadedTable();
    ASSERT_EQ(table.size(), 49u);
    EXPECT_EQ(chip().writes(), 49u);
    EXPECT_EQ(table.at(0x02), 0x53);
    EXPECT_EQ(table.at(0x10), 0x8C);
    EXPECT_EQ(table.at(0xB7), 0x92);
    EXPECT_TRUE(logged("CK: Config Clocks\n"));
    EXPECT_NE(board().statusJson().find("\"0xB7\":\"0x92\""), std::string::npos);
}

TEST_F(ClocksTest, ScriptEntriesFollowTheHeader) {
    testing_support::writeFile("clk.txt", header() + "0x0010,0x8C\r\n0x10,0x8d\n0x00B7,0x1\n");
    EXPECT_EQ(clocks_->parse_clock_script("clk.txt"), 0);
    EXPECT_EQ(chip().writes(), 3u);
    EXPECT_EQ(chip().loadedTable(), (std::map<uint8_t, uint8_t>{{0x10, 0x8D}, {0xB7, 0x01}}));
    EXPECT_EQ(clocks_->entries(), 3);
    EXPECT_TRUE(logged("CK: Parsing Clock Script 'clk.txt'\n"));
    EXPECT_TRUE(logged("CK: 3 config entries\n"));
    EXPECT_TRUE(logged("CK: Parsing Clock Script completed.\n"));
}

TEST_F(ClocksTest, AFullTableIsTaken) {
    testing_support::writeFile("clk.txt", header() + entries(MAX_ENTRIES));
    EXPECT_EQ(clocks_->parse_clock_script("clk.txt"), 0);
    EXPECT_EQ(chip().writes(), 100u);
}

TEST_F(ClocksTest, ABadScriptIsRefusedAndThePreviousTableStaysUnwritten) {
    struct Case {
        std::string text;
        const char* error;
    } cases[] = {
        {header() + entries(2) + "\n" + entries(1), "at line 2"},
        {header() + entries(1) + "0x0110,0x00\n", "at line 1"}, // register beyond 0xFF
        {header() + "0x0010;0x8C\n", "at line 0"},
        {header() + "0x0010,0x8C trailing\n", "at line 0"},
        {header() + "0x00010,0x8C\n", "at line 0"},
        {header() + "0x,0x8C\n", "at line 0"},
        {header() + entries(MAX_ENTRIES + 1), "at line 100"},
        {header(), "at line 0"}, // no entry at all
        {"a\nb\n", "at line 0"},
    };
    testing_support::writeFile("good.txt", header() + entries(5));
    ASSERT_EQ(clocks_->parse_clock_script("good.txt"), 0);
    for (const Case& c : cases) {
        testing_support::writeFile("clk.txt", c.text);
        board().trace().clear();
        const uint32_t before = chip().writes();
        EXPECT_EQ(clocks_->parse_clock_script("clk.txt"), -1) << c.error;
        EXPECT_TRUE(logged(std::string("ERROR: Failed to read Clock Script clk.txt ") + c.error)) << c.error;
        EXPECT_EQ(chip().writes(), before) << c.error;
        EXPECT_EQ(clocks_->entries(), 5) << c.error;
    }
    // The table that stayed is what a power-on sends again.
    EXPECT_EQ(clocks_->configure_clocks(), 0);
    EXPECT_EQ(chip().loadedTable().size(), 5u);
}

TEST_F(ClocksTest, AMissingScriptReturnsErrnoAndKeepsTheBuiltInTable) {
    EXPECT_EQ(clocks_->parse_clock_script("absent.txt"), ENOENT);
    EXPECT_EQ(clocks_->parse_clock_script(""), ENOENT);
    EXPECT_TRUE(logged("ERROR: file not found"));
    EXPECT_EQ(chip().writes(), 0u);
    EXPECT_EQ(clocks_->entries(), 49);
}

TEST_F(ClocksTest, AGeneratorThatCannotBeOpenedIsAFailure) {
    board().find<sim::I2cBus>()->fail({sim::ClockGenerator::kChannel, sim::ClockGenerator::kAddress,
                                       sim::I2cFaultKind::Open, sim::I2cFault::kAllRegisters,
                                       sim::I2cFault::kAlways});
    EXPECT_NE(clocks_->configure_clocks(), 0);
    EXPECT_TRUE(logged("CLK: ERROR failed to register I2C device"));
}

} // namespace
