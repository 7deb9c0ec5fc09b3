// Warp tables loaded by one controller run are verified by a later "OstrixPi -vwl" run on
// the same simulated board, which stops after the FPGA without touching HDMI or the camera.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/LogStamps.h"
#include "tests/support/TempRoot.h"

namespace {

using testing_support::readFile;
using testing_support::writeFile;

class WarpVerifyTest : public testing_support::SimBoardTest {
protected:
    // Runs OstrixPi on this board in its home folder; returns its exit status.
    int runController(const std::string& args) {
        std::string command = "cd '" + home() + "' && OSTRIX_PLATFORM=sim OSTRIX_SYSROOT='" + root() + "' '" +
                              OSTRIX_BIN_DIR + "/OstrixPi' " + args + " > run.out 2>&1";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string log() {
        return testing_support::withoutLogStamps(readFile(home() + "/log/QLM_logfile_0001.log"));
    }
    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
            ++n;
        }
        return n;
    }
};

TEST_F(WarpVerifyTest, TablesLoadedAtStartUpVerifyInALaterRun) {
    std::filesystem::create_directories(home() + "/warp");
    ASSERT_EQ(std::system(("'" + std::string(OSTRIX_BIN_DIR) + "/warpgen' --height 3 --step 2 '" + home() +
                           "/warp' > /dev/null")
                              .c_str()),
              0);
    writeFile(home() + "/qlm.cfg",
              "[WARP]\nleftpixelfile = warppixel.txt\nrightpixelfile = warppixel.txt\n"
              "leftlinefile = warpline.txt\nrightlinefile = warpline.txt\nzipfile = warp.zip\n");
    writeFile(home() + "/qlm-align.cfg",
              "[WARP]\nWarpPixelSourceOffsetLeft = 3\nWarpPixelSourceOffsetRight = 0\n"
              "WarpLineSourceOffsetLeft = -2\nWarpLineSourceOffsetRight = 0\n"
              "WarpRotationLeft = 0\nWarpRotationRight = 0.4\nseparation = 1\n");

    ASSERT_EQ(runController("-R"), 0) << readFile(home() + "/run.out");
    std::string first = log();
    EXPECT_NE(first.find("F: Constructor complete\n"), std::string::npos);
    EXPECT_NE(first.find("MAIN: Copy Warp Settings to FPGA\n"), std::string::npos);
    EXPECT_NE(first.find("F: new rotation files 'warpline0.4.txt' and  'warppixel0.4.txt'\n"),
              std::string::npos);
    EXPECT_EQ(count(first, "F: lines "), 4u);
    EXPECT_NE(board().statusJson().find("\"warp_pixel_offset\":2,\"warp_line_offset\":-2"),
              std::string::npos);

    ASSERT_EQ(runController("-vwl"), 0) << readFile(home() + "/run.out");
    std::string second = log().substr(first.size());
    EXPECT_EQ(count(second, "F: Verify SUCCESS\n"), 2u) << second;
    EXPECT_EQ(second.find("F: Apply Reset"), std::string::npos);
    EXPECT_EQ(second.find("MAIN: Configure HDMI Receivers"), std::string::npos);
    EXPECT_EQ(second.find("MAIN: Init Camera Board"), std::string::npos);

    // The right channel holds the 0.4 degree tables: verifying it against the base tables fails.
    ASSERT_EQ(runController("-vwr"), 0);
    EXPECT_NE(log().find("F: Verify FAILED with "), std::string::npos);
}

} // namespace
