// ostrix-check on the simulated board after the controller brought it up: one full table
// and status 0 on a healthy board; each injected fault (a missing chip, a chip that NACKs
// its reads, a NACKing bus switch, no FPGA, no camera board) is named and makes it fail.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/EndToEnd.h"
#include "tests/support/OstrixPiProcess.h"
#include "tests/support/TempRoot.h"

namespace {

using testing_support::contains;
using testing_support::OstrixPiProcess;
using testing_support::readFile;
using testing_support::writeFile;

constexpr size_t kRows = 22; // five nodes, GPIO, switch, twelve chips, FPGA, flash, camera
constexpr const char* kSummaryMissing = "ostrix-check: MISSING: ";

class BoardCheckTest : public testing_support::EndToEndTest {
protected:
    std::string configuration() const override { return readFile(OSTRIX_SOURCE_DIR "/resources/ostrix.cfg"); }

    void SetUp() override {
        EndToEndTest::SetUp();
        writeFile(home() + "/Si5351A-Registers.txt",
                  readFile(OSTRIX_SOURCE_DIR "/resources/Si5351A-Registers.txt"));
        installColourCorrection();
    }

    // The check's exit status; its table in `table`.
    int check(std::string& table) const {
        OstrixPiProcess tool(OSTRIX_BIN_DIR "/ostrix-check", root(), home());
        const int status = tool.wait();
        table = tool.console();
        return status;
    }

    static size_t rows(const std::string& table) {
        std::istringstream lines(table);
        size_t count = 0;
        for (std::string line; std::getline(lines, line);) {
            if (contains(line, "  ok  ") || contains(line, "  MISSING  ")) {
                ++count;
            }
        }
        return count;
    }
};

struct Case {
    const char* what;
    std::vector<std::string> fault;
    std::vector<std::string> repair;
    const char* missing; // the summary's list of missing parts; nullptr: none
};

TEST_F(BoardCheckTest, HealthyBoardPassesAndEveryFaultIsNamed) {
    {
        auto controller = startController();
        ASSERT_TRUE(controller->waitForConsole("Entering endless loop")) << controller->log();
    } // killed: the board stays powered, as it would when the service is stopped for work

    std::string before;
    ASSERT_EQ(sim({"i2c", "get", "switch"}, &before), 0);
    const Case cases[] = {
        {"healthy board", {}, {}, nullptr},
        {"missing chip",
         {"i2c", "fail", "5", "0x10", "nack"},
         {"i2c", "clear", "5", "0x10"},
         "lighting level DAC"},
        {"chip fails its reads",
         {"i2c", "fail", "2", "0x4C", "read", "all"},
         {"i2c", "clear", "2", "0x4C"},
         "left HDMI receiver ADV7619 (IO map)"},
        {"NACKing bus switch",
         {"i2c", "fail", "switch", "nack"},
         {"i2c", "clear", "switch"},
         "I2C bus switch"},
        {"no FPGA", {"fpga", "version", "0xFF"}, {"fpga", "version", "31"}, "display FPGA version"},
        {"no camera board", {"camera", "unplug"}, {}, "camera board serial link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.fault.empty()) {
            ASSERT_EQ(sim(c.fault), 0);
        }
        std::string table;
        const int status = check(table);
        EXPECT_EQ(rows(table), kRows) << table;
        if (!c.missing) {
            EXPECT_EQ(status, 0) << table;
            EXPECT_TRUE(contains(table, "ostrix-check: all 22 checks passed")) << table;
        } else {
            EXPECT_EQ(status, 1) << table;
            const size_t at = table.find(kSummaryMissing);
            ASSERT_NE(at, std::string::npos) << table;
            const std::string summary = table.substr(at + std::string(kSummaryMissing).size());
            if (std::string(c.missing) == "I2C bus switch") {
                // Nothing behind the switch is reached: every chip is listed as missing.
                EXPECT_EQ(summary.rfind(c.missing, 0), 0u) << table;
                EXPECT_TRUE(contains(table, "not reached: no bus switch")) << table;
            } else {
                EXPECT_EQ(summary, std::string(c.missing) + "\n") << table;
            }
        }
        if (!c.repair.empty()) {
            ASSERT_EQ(sim(c.repair), 0);
        }
    }
    // The switch's channel select, its one write, is put back as the check found it.
    std::string after;
    ASSERT_EQ(sim({"i2c", "get", "switch"}, &after), 0);
    EXPECT_EQ(after, before);
}

} // namespace
