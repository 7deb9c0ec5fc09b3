// The service tools as programs on the simulated board, together with the controller:
// a flash erased by qflashprog leaves the FPGA unconfigured after a power cycle until the
// controller has it programmed again, and warp tables loaded by spiload verify with a
// later "OstrixPi -vwl" run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "sim/chips/ConfigFlash.h"
#include "sim/chips/DisplayFpga.h"
#include "tests/support/LogStamps.h"
#include "tests/support/TempRoot.h"

namespace {

using testing_support::readFile;
using testing_support::writeFile;

class ServiceToolsTest : public testing_support::SimBoardTest {
protected:
    // Runs a command line in the home folder on this board; its exit status, with what
    // it printed in run.out.
    int runInHome(const std::string& commandLine) {
        const std::string command = "cd '" + home() + "' && OSTRIX_PLATFORM=sim OSTRIX_SYSROOT='" + root() +
                                    "' " + commandLine + " > run.out 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string bin(const std::string& program) {
        return "'" + std::string(OSTRIX_BIN_DIR) + "/" + program + "'";
    }
    // Installs a program beside the controller, as the demo and the package do.
    void install(const std::string& program) {
        std::filesystem::copy_file(std::string(OSTRIX_BIN_DIR) + "/" + program, home() + "/" + program,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    std::string log() {
        return testing_support::withoutLogStamps(readFile(home() + "/log/QLM_logfile_0001.log"));
    }
    sim::DisplayFpga& fpga() { return *board().find<sim::DisplayFpga>(); }
    sim::ConfigFlash& flash() { return *board().find<sim::ConfigFlash>(); }
};

TEST_F(ServiceToolsTest, ErasedFlashIsReprogrammedByTheControllerAndTheFpgaComesBack) {
    install("qflashprog");
    // The controller's FPGA image: a ".jic" header ending in its marker, then the data.
    std::string image(200, 'J');
    image += "\xAF\xA6\xA6\xA6";
    for (int i = 0; i < 3000; ++i) {
        image += static_cast<char>(i * 7);
    }
    writeFile(home() + "/vp-quickbuild.jic", image);
    writeFile(home() + "/qlm.cfg", "[FPGA]\nfpgafile = vp-quickbuild.jic\n");

    ASSERT_EQ(runInHome("./qflashprog -e"), 0) << readFile(home() + "/run.out");
    EXPECT_NE(readFile(home() + "/run.out").find("Erasing....done res=00\n"), std::string::npos);
    ASSERT_EQ(runInHome(bin("ostrix-sim") + " power-cycle"), 0) << readFile(home() + "/run.out");
    EXPECT_FALSE(fpga().configured());

    // The controller finds CONF_DONE low, reconfigures in vain and programs the flash.
    runInHome(bin("OstrixPi") + " -vwl");
    const std::string l = log();
    EXPECT_NE(
        l.find("F: fpga reconfiguration timeout\nF: Reprogram FPGA PROM\nF: Looking for vp-quickbuild.jic\n"),
        std::string::npos)
        << l;
    EXPECT_NE(readFile(home() + "/run.out").find(" EEPROM programming Completed Successfully\n"),
              std::string::npos);
    EXPECT_TRUE(fpga().configured());
    EXPECT_EQ(flash().usedBytes(), 3004u);

    // The flash now holds exactly the image after the marker.
    ASSERT_EQ(runInHome("./qflashprog -v vp-quickbuild.jic"), 0) << readFile(home() + "/run.out");
    EXPECT_NE(readFile(home() + "/run.out").find("Found JIC header at offset 200\n"), std::string::npos);
}

TEST_F(ServiceToolsTest, TablesLoadedBySpiloadVerifyWithTheController) {
    std::filesystem::create_directories(home() + "/warp");
    ASSERT_EQ(runInHome(bin("warpgen") + " --height 3 --step 2 warp"), 0) << readFile(home() + "/run.out");
    writeFile(home() + "/qlm.cfg",
              "[WARP]\nleftpixelfile = warppixel.txt\nrightpixelfile = warppixel.txt\n"
              "leftlinefile = warpline.txt\nrightlinefile = warpline.txt\nzipfile = warp.zip\n");
    ASSERT_EQ(runInHome(bin("spiload") + " -L warp/warpline.txt warp/warppixel.txt"), 0)
        << readFile(home() + "/run.out");
    ASSERT_EQ(runInHome(bin("OstrixPi") + " -vwl"), 0) << readFile(home() + "/run.out");
    const std::string l = log();
    EXPECT_NE(l.find("F: Verify LEFT Warp Pixel"), std::string::npos) << l;
    EXPECT_EQ(l.find("F: Verify FAILED"), std::string::npos) << l;
    size_t passes = 0;
    for (size_t at = l.find("F: Verify SUCCESS\n"); at != std::string::npos;
         at = l.find("F: Verify SUCCESS\n", at + 1)) {
        ++passes;
    }
    EXPECT_EQ(passes, 2u);

    ASSERT_EQ(runInHome(bin("spiload") + " -a 0x7F"), 0);
    EXPECT_EQ(readFile(home() + "/run.out"), "Address = 0x7f, Data = 0x00000000\n0x0000001f\n");
}

} // namespace
