// Power rail sequencing with the LTC2977 model: detection, rail switching, the main-rail
// sequence and its power-good wait.
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "I2cFixture.h"
#include "controller/devices/LTC2977.h"
#include "controller/devices/i2c.h"
#include "sim/buses/I2cBus.h"
#include "sim/chips/Ltc2977.h"

namespace {

constexpr uint8_t kPowerBus = 3;
constexpr uint8_t kLtc = 0x5C;

class Ltc2977Test : public I2cDeviceTest {
protected:
    sim::Ltc2977& ltc() { return *board().find<sim::Ltc2977>(); }
    std::unique_ptr<ltc2977_handler> create() {
        return std::make_unique<ltc2977_handler>(i2c_.get(), kPowerBus, kLtc);
    }

    // The pages selected for each bit-banged transfer that carries `command` after them.
    std::vector<int> pagesOf(uint8_t command) {
        std::vector<int> pages;
        int page = -1;
        for (const auto& e : board().trace().entries(sim::TraceKind::I2c)) {
            if (e.address != kLtc || e.out.empty()) {
                continue;
            }
            if (e.out[0] == sim::Ltc2977::PAGE && e.out.size() == 2) {
                page = e.out[1];
            } else if (e.out[0] == command) {
                pages.push_back(page);
            }
        }
        return pages;
    }
    // The OPERATION values written, in order, with the page they went to.
    std::vector<std::pair<int, int>> operations() {
        std::vector<std::pair<int, int>> ops;
        int page = -1;
        for (const auto& e : board().trace().entries(sim::TraceKind::I2c)) {
            if (e.address == kLtc && e.out.size() == 2 && e.out[0] == sim::Ltc2977::PAGE) {
                page = e.out[1];
            } else if (e.address == kLtc && e.out.size() == 2 && e.out[0] == sim::Ltc2977::OPERATION) {
                ops.emplace_back(page, e.out[1]);
            }
        }
        return ops;
    }
};

TEST_F(Ltc2977Test, DetectedChipPutsEveryRailUnderOperationAndOn) {
    auto psu = create();
    EXPECT_TRUE(psu->is_detected());
    for (int page = 0; page < sim::Ltc2977::kPages; ++page) {
        EXPECT_TRUE(ltc().railOn(page)) << page;
        EXPECT_EQ(ltc().onOffConfig(page), 0x19) << page;
    }
    EXPECT_EQ(operations(), (std::vector<std::pair<int, int>>{{0xFF, 0x80}}));
    const std::string text = log();
    EXPECT_NE(text.find("PSU: CAM OPERATION = 00\n"), std::string::npos); // read before switching
    EXPECT_NE(text.find("PSU: CAM ON_OFF_CONFIG = 1e\n"), std::string::npos);
    EXPECT_NE(text.find("Registering device 3::92 for ltc2977_handler as "), std::string::npos);
    EXPECT_NE(text.find("PSU: Constructor complete\n"), std::string::npos);
    EXPECT_EQ(text.find("Failed to detect"), std::string::npos);
}

TEST_F(Ltc2977Test, OtherIdentityLeavesTheRailsAloneAndEveryOperationReturns255) {
    ltc().setValue(sim::Ltc2977::kPages, sim::Ltc2977::MFR_SPECIAL_ID, 0x0130);
    auto psu = create();
    EXPECT_FALSE(psu->is_detected());
    const std::string text = log();
    EXPECT_NE(text.find("\033[38;5;196mPSU: ERROR: Failed to detect Power Control circuit\033[38;5;248m\n"),
              std::string::npos);
    EXPECT_NE(text.find("PMBus: res=1, reg=0130\n"), std::string::npos);
    board().trace().clear();
    EXPECT_EQ(psu->VCC1V5(true), 255);
    EXPECT_EQ(psu->VCC5V0CAM(true), 255);
    EXPECT_EQ(psu->VCC3V3PI(false), 255);
    EXPECT_EQ(psu->PSU_OnOff(psuALL, true), 255);
    EXPECT_EQ(psu->ReadStatus(0), 0xFFFF);
    EXPECT_EQ(psu->VCC(true, true), 255);
    EXPECT_NE(log().find("PSU: Not Detected\n"), std::string::npos);
    EXPECT_TRUE(board().trace().entries(sim::TraceKind::I2c).empty());
    for (int page = 0; page < sim::Ltc2977::kPages; ++page) {
        EXPECT_EQ(ltc().railOn(page), page == 5) << page;
    }
}

TEST_F(Ltc2977Test, SilentChipIsNotDetected) {
    board().find<sim::I2cBus>()->fail(
        {kPowerBus, kLtc, sim::I2cFaultKind::Nack, sim::I2cFault::kAllRegisters, sim::I2cFault::kAlways});
    auto psu = create();
    EXPECT_FALSE(psu->is_detected());
    EXPECT_NE(log().find("PMBus: res=0, reg=0000\n"), std::string::npos);
    EXPECT_NE(log().find("PSU: CAM OPERATION = ff\n"), std::string::npos);
}

TEST_F(Ltc2977Test, StandbyKeepsUsbPowered) {
    auto psu = create();
    board().trace().clear();
    EXPECT_EQ(psu->VCC(false, true), 255);
    EXPECT_EQ(operations(),
              (std::vector<std::pair<int, int>>{{6, 0x00}, {0, 0x00}, {3, 0x00}, {4, 0x00}, {2, 0x80}}));
    EXPECT_FALSE(ltc().railOn(psuVCC1V1));
    EXPECT_FALSE(ltc().railOn(psuVCC1V5));
    EXPECT_FALSE(ltc().railOn(psuVCC2V5));
    EXPECT_FALSE(ltc().railOn(psuVCC3V3));
    EXPECT_TRUE(ltc().railOn(psuVCC5V0));
    EXPECT_TRUE(ltc().railOn(psuVCC5V0CAM));
    EXPECT_TRUE(pagesOf(sim::Ltc2977::STATUS_WORD).empty()); // no wait when switching off
    const std::string text = log();
    EXPECT_NE(text.find("PSU: VCC 0\n"), std::string::npos);
    EXPECT_NE(text.find("PSU: VCC1V1 00\n"), std::string::npos);
    EXPECT_NE(text.find("PSU: VCC5V0 80\n"), std::string::npos);

    EXPECT_EQ(psu->VCC(false, false), 255);
    EXPECT_FALSE(ltc().railOn(psuVCC5V0));
}

TEST_F(Ltc2977Test, SwitchOnWaitsForPowerGoodOfTheSequencedRailsOnly) {
    auto psu = create();
    psu->VCC(false, false);
    board().trace().clear();
    EXPECT_EQ(psu->VCC(true, false), 255);
    for (int page : {0, 2, 3, 4, 6}) {
        EXPECT_TRUE(ltc().railPowerGood(page)) << page;
    }
    std::vector<int> polled = pagesOf(sim::Ltc2977::STATUS_WORD);
    ASSERT_FALSE(polled.empty());
    EXPECT_EQ(std::set<int>(polled.begin(), polled.end()), (std::set<int>{0, 2, 3, 4, 6, 7}));
    EXPECT_TRUE(std::is_sorted(polled.begin(), polled.end()));
    EXPECT_EQ(log().find("timeout turning on"), std::string::npos);
}

TEST_F(Ltc2977Test, RailThatNeverComesUpCostsOneSecondAndIsNamed) {
    auto psu = create();
    psu->VCC(false, false);
    ltc().setNeverGood(psuVCC2V5, true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(psu->VCC(true, true), 255);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    const std::string text = log();
    EXPECT_NE(text.find("\033[38;5;196mPSU: ERROR: timeout turning on PSU VCC2V5\n"), std::string::npos);
    EXPECT_EQ(text.find("timeout turning on PSU VCC3V3"), std::string::npos);
    EXPECT_TRUE(ltc().railPowerGood(psuVCC3V3)); // the sequence went on after the timeout
    // A second of polling logs its first read, not every one.
    constexpr size_t kReadsLoggedAtMost = 20;
    size_t reads = 0;
    for (size_t at = text.find("PMBus_readWord\n"); at != std::string::npos;
         at = text.find("PMBus_readWord\n", at + 1)) {
        ++reads;
    }
    EXPECT_LT(reads, kReadsLoggedAtMost);
}

TEST_F(Ltc2977Test, SingleRailsAndStatus) {
    auto psu = create();
    EXPECT_EQ(psu->VCC5V0CAM(false), 0);
    EXPECT_FALSE(ltc().railOn(sim::Ltc2977::kCameraPage));
    EXPECT_EQ(psu->ReadStatus(psuVCC5V0CAM) & STATUS_WORD_OFF, STATUS_WORD_OFF);
    EXPECT_EQ(psu->VCC3V3PI(false), 0);
    EXPECT_FALSE(ltc().railOn(psuVCC3V3PI));
    EXPECT_EQ(psu->PSU_OnOff(psuALL, true), 0);
    EXPECT_TRUE(ltc().railOn(sim::Ltc2977::kCameraPage));
    const std::string text = log();
    EXPECT_NE(text.find("PSU: VCC5V0CAM 00\n"), std::string::npos);
    EXPECT_EQ(text.find("PSU: VCC3V3PI"), std::string::npos);
    EXPECT_NE(text.find("PSU: ALL 80\n"), std::string::npos);
}

} // namespace
