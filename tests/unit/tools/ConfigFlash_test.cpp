// The simulated configuration flash, driven at pin level by the programmer's SPI code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolsFixture.h"
#include "tools/qflashprog/FlashSpi.h"
#include "tools/qflashprog/qflashprog.h"

namespace {

using namespace sim::flash_cmd;

class ConfigFlashTest : public ToolsTest {
protected:
    void SetUp() override {
        ToolsTest::SetUp();
        QFlashProg(FlashWaits{}).initialise();
        flash().eraseAll();
        ASSERT_TRUE(board().execute({"flash", "program-us", "0"}).ok);
    }
    uint8_t status() {
        uint8_t s = 0;
        spi.commandRead(kReadStatus, &s, 1);
        return s;
    }
    void program(uint32_t address, std::vector<uint8_t> data) {
        spi.command(kWriteEnable);
        spi.commandAddress(kPageProgram, address, data.data(), data.size(), nullptr, 0);
    }
    std::vector<uint8_t> read(uint32_t address, size_t n) {
        std::vector<uint8_t> out(n);
        spi.commandAddress(kRead, address, nullptr, 0, out.data(), n);
        return out;
    }
    FlashSpi spi;
};

TEST_F(ConfigFlashTest, IdentifiesItself) {
    uint8_t id[3] = {};
    spi.commandRead(kReadId, id, 3);
    EXPECT_EQ(id[0], sim::ConfigFlash::kManufacturer);
    EXPECT_EQ(id[1], sim::ConfigFlash::kMemoryType);
    EXPECT_EQ(id[2], sim::ConfigFlash::kCapacity);
}

TEST_F(ConfigFlashTest, ProgramNeedsWriteEnableOnlyClearsBitsAndWrapsInItsPage) {
    spi.commandAddress(kPageProgram, 0x10, std::vector<uint8_t>{0x00}.data(), 1, nullptr, 0);
    EXPECT_EQ(read(0x10, 1), std::vector<uint8_t>{0xFF});
    program(0x10, {0xF0});
    program(0x10, {0x0F});
    EXPECT_EQ(read(0x10, 1), std::vector<uint8_t>{0x00});
    // Two bytes from the page's last byte: the second lands at the page's start.
    program(0x1FF, {0x12, 0x34});
    EXPECT_EQ(read(0x1FF, 2), (std::vector<uint8_t>{0x12, 0xFF}));
    EXPECT_EQ(read(0x100, 1), std::vector<uint8_t>{0x34});
    EXPECT_EQ(status() & sim::flash_status::kWriteEnabled, 0);
    // A read runs on across page boundaries.
    EXPECT_EQ(read(0xFF, 2), (std::vector<uint8_t>{0xFF, 0x34}));
}

TEST_F(ConfigFlashTest, BusyEraseAnswersOnlyItsStatus) {
    program(0x20, {0x5A});
    ASSERT_TRUE(board().execute({"flash", "erase-ms", "60000"}).ok);
    spi.command(kWriteEnable);
    spi.command(kBulkErase);
    EXPECT_EQ(status() & sim::flash_status::kBusy, sim::flash_status::kBusy);
    EXPECT_TRUE(flash().busy());
    // Nothing drives the data line: the read sees the line low.
    EXPECT_EQ(read(0x20, 1), std::vector<uint8_t>{0x00});
    program(0x40, {0x00});
    EXPECT_EQ(flash().bytes(0x20, 0x21), std::vector<uint8_t>(0x21, 0xFF));
    EXPECT_EQ(flash().pagesProgrammed(), 1u);
}

TEST_F(ConfigFlashTest, ControlCommandsSetFaultsAndShowInTheStatus) {
    const std::vector<std::vector<std::string>> good = {
        {"flash", "erase-error", "yes"}, {"flash", "program-error", "yes"}, {"flash", "busy-stuck", "yes"},
        {"flash", "absent", "yes"},      {"flash", "erase-ms", "5"},        {"flash", "program-us", "0x10"}};
    for (const auto& c : good) {
        EXPECT_TRUE(board().execute(c).ok) << c[1];
    }
    const std::string s = board().statusJson();
    EXPECT_NE(
        s.find(
            "\"faults\":{\"absent\":true,\"erase_error\":true,\"program_error\":true,\"busy_stuck\":true}"),
        std::string::npos)
        << s;
    EXPECT_NE(s.find("\"erase_ms\":5,\"program_us\":16"), std::string::npos);
    const std::vector<std::vector<std::string>> bad = {
        {"flash"}, {"flash", "absent", "maybe"}, {"flash", "erase-ms", "-3"}, {"flash", "colour", "1"}};
    for (const auto& c : bad) {
        const auto r = board().execute(c);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.text.find("flash busy-stuck yes|no"), std::string::npos);
    }
    board().powerCycle();
    EXPECT_NE(board().statusJson().find("\"busy_stuck\":false"), std::string::npos);
}

} // namespace
