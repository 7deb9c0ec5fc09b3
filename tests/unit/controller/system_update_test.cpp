// The system update from a simulated stick: which archive is chosen, what is installed
// where, and that a broken archive, a pulled stick or a failed installation leaves the
// running files as they were.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/unit/controller/UsbFixture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;

class SystemUpdateTest : public usb_testing::UsbTest {
protected:
    void SetUp() override {
        UsbTest::SetUp();
        await_reboot = [this] { ++reboots_; };
    }
    void TearDown() override {
        await_reboot = [] {};
        UsbTest::TearDown();
    }

    // Packs files (name -> content) into an update archive on the stick.
    void pack(const std::string& stickFolder, const std::string& archive,
              const std::map<std::string, std::string>& files) {
        const std::string staging = root() + "/tmp/staging-" + archive;
        std::string names;
        for (const auto& [name, content] : files) {
            writeFile(staging + "/" + name, content);
            names += " " + platform::shellQuote(name);
        }
        ASSERT_EQ(platform::shell("/bin/tar -czf " + platform::shellQuote(stickFolder + "/" + archive) +
                                  " -C " + platform::shellQuote(staging) + names),
                  0);
    }
    bool rebootRequested() const { return shellLog().find("reboot") != std::string::npos; }
    std::string installed(const std::string& name) const { return readFile(home() + "/" + name); }

    int reboots_ = 0;
};

TEST_F(SystemUpdateTest, InstallsEveryFileKeepsTheOldOnesAndReboots) {
    writeFile("ConfigIssue3.sh", "old script");
    writeFile("Si5351A-Registers.txt", "old clocks");
    pack(insert(), "QLM-5.16.tar.gz",
         {{"ConfigIssue3.sh", "new script"},
          {"Si5351A-Registers.txt", "new clocks"},
          {"OstrixCamera.binary", "firmware"},
          {"vp-quickbuild.jic", "fpga image"}});
    EXPECT_EQ(system_update(), 0);
    EXPECT_EQ(reboots_, 1);
    EXPECT_TRUE(rebootRequested());
    EXPECT_EQ(installed("ConfigIssue3.sh"), "new script");
    EXPECT_EQ(installed("Si5351A-Registers.txt"), "new clocks");
    EXPECT_EQ(installed("OstrixCamera.binary"), "firmware");
    EXPECT_EQ(installed("vp-quickbuild.jic"), "fpga image");
    EXPECT_EQ(installed("previous/ConfigIssue3.sh"), "old script");
    EXPECT_EQ(installed("previous/Si5351A-Registers.txt"), "old clocks");
    EXPECT_FALSE(fs::exists(home() + "/update/ConfigIssue3.sh"));
    struct stat st {};
    ASSERT_EQ(stat((home() + "/ConfigIssue3.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777u);
    // The requested firmware update runs at once; without a camera board it is reported
    // and the request cleared.
    EXPECT_EQ(camera_uC_update, 0);
    EXPECT_EQ(camera_fpga_update, 0);
    EXPECT_TRUE(logged("No Camera Board connected: camera uC not updated"));
    EXPECT_TRUE(mountPointEmpty());
    for (const char* line :
         {"MAIN: Found update to 5.16 in file ", "MAIN: Sysretval = 0\n", "MAIN: New Clock Config Script\n",
          "M: Camera FPGA file isp.jic doesn't exist\n"}) {
        EXPECT_TRUE(logged(line)) << line;
    }
}

TEST_F(SystemUpdateTest, NewestTarGzIsPreferredToAnyTgz) {
    const std::string folder = insert();
    pack(folder, "QLM-5.9.tar.gz", {{"ConfigIssue3.sh", "5.9"}});
    pack(folder, "QLM-5.10.tar.gz", {{"ConfigIssue3.sh", "5.10"}});
    pack(folder, "QLM-9.tgz", {{"ConfigIssue3.sh", "9"}});
    EXPECT_EQ(system_update(), 0);
    EXPECT_EQ(installed("ConfigIssue3.sh"), "5.10");
    fs::remove(folder + "/QLM-5.9.tar.gz");
    fs::remove(folder + "/QLM-5.10.tar.gz");
    pack(folder, "QLM-6.tgz", {{"ConfigIssue3.sh", "6"}});
    EXPECT_EQ(system_update(), 0);
    EXPECT_EQ(installed("ConfigIssue3.sh"), "9");
    EXPECT_TRUE(logged("MAIN: Found update to 9.0 in file "));
}

// Part of an archive is never installed: a stick pulled during the extraction, or an
// archive that is not one, leaves the running files alone and asks for no reboot.
TEST_F(SystemUpdateTest, FailedExtractionInstallsNothing) {
    for (const bool pulled : {true, false}) {
        writeFile("ConfigIssue3.sh", "running");
        const std::string folder = insert(pulled ? "pulled" : "garbage");
        if (pulled) {
            std::map<std::string, std::string> files{{"ConfigIssue3.sh", "new"}};
            for (int i = 0; i < 20; ++i) {
                files["filler" + std::to_string(i)] = std::string(50000, static_cast<char>('a' + i));
            }
            pack(folder, "QLM-5.16.tar.gz", files);
            sticks().setFault(sim::UsbFault::PullAfter, 2000);
        } else {
            writeFile(folder + "/QLM-5.16.tar.gz", "not an archive");
        }
        EXPECT_EQ(system_update(), -1) << pulled;
        EXPECT_EQ(installed("ConfigIssue3.sh"), "running") << pulled;
        EXPECT_TRUE(fs::is_empty(home() + "/update")) << pulled;
        EXPECT_FALSE(rebootRequested()) << pulled;
        EXPECT_TRUE(mountPointEmpty()) << pulled;
        sticks().remove(1);
    }
    EXPECT_EQ(reboots_, 0);
    EXPECT_TRUE(logged("MAIN: ERROR: System update archive could not be extracted"));
}

TEST_F(SystemUpdateTest, FailedInstallationPutsThePreviousFilesBack) {
    writeFile("Si5351A-Registers.txt", "old clocks");
    // Something in the way of the script's temporary copy makes its installation fail.
    writeFile("ConfigIssue3.sh.part/ConfigIssue3.sh/blocker", "x");
    pack(insert(), "QLM-5.16.tar.gz",
         {{"Si5351A-Registers.txt", "new clocks"},
          {"OstrixCamera.binary", "firmware"},
          {"ConfigIssue3.sh", "s"}});
    EXPECT_EQ(system_update(), -1);
    EXPECT_EQ(installed("Si5351A-Registers.txt"), "old clocks");
    EXPECT_FALSE(fs::exists(home() + "/OstrixCamera.binary"));
    EXPECT_FALSE(rebootRequested());
    EXPECT_TRUE(logged("MAIN: ERROR: Failed to install 'ConfigIssue3.sh'"));
    EXPECT_TRUE(logged("MAIN: ERROR: System update not installed"));
}

TEST_F(SystemUpdateTest, NamesWithShellSyntaxRunNothing) {
    const std::string folder = insert();
    for (const char* name :
         {"QLM-7;touch x.tgz", "$(reboot).tgz", "QLM-$(touch pwned).tar.gz", "QLM-`reboot`.tgz"}) {
        pack(folder, name, {{"ConfigIssue3.sh", "evil"}});
    }
    EXPECT_EQ(system_update(), 0);
    EXPECT_TRUE(logged("MAIN: No system update found\n"));
    EXPECT_FALSE(rebootRequested());
    EXPECT_FALSE(fs::exists("x"));
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists(home() + "/ConfigIssue3.sh"));
}

TEST_F(SystemUpdateTest, WithoutAStickNothingHappens) {
    EXPECT_EQ(system_update(), 0);
    EXPECT_TRUE(logged("MAIN: USB drive not detected\nMAIN: System Update completed\n"));
    sticks().setFault(sim::UsbFault::Mount);
    insert();
    EXPECT_EQ(system_update(), 0);
    EXPECT_FALSE(rebootRequested());
}

} // namespace
