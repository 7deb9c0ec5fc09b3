// The simulated USB sticks: the device nodes they make, the mount stand-ins that attach
// them, and the faults the copy and archive stand-ins play out.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "TempRoot.h"
#include "platform/platform.h"
#include "sim/chips/UsbSticks.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;

class UsbSticksTest : public testing_support::SimBoardTest {
protected:
    sim::UsbSticks& sticks() { return *board().find<sim::UsbSticks>(); }
    std::string stick(const std::string& name) {
        const std::string folder = root() + "/sim/usb/" + name;
        fs::create_directories(folder);
        return folder;
    }
    static std::string q(const std::string& s) { return platform::shellQuote(s); }
    static std::string media(const std::string& rest = "") { return platform::sysPath("/media/usb" + rest); }
    static int mount(const char* dev = "/dev/sda1") {
        return platform::shell("sudo mount " + q(platform::sysPath(dev)) + " " + q(media()) + " 2>/dev/null");
    }
    static int umount(const char* target = "/dev/sda1") {
        return platform::shell("sudo umount " + q(platform::sysPath(target)) + " 2>/dev/null");
    }
    static int run(const std::string& command) { return platform::shell(command + " 2>/dev/null"); }
};

TEST_F(UsbSticksTest, InsertedStickIsADirectoryLikeNodeUntilRemoved) {
    const std::string one = stick("one");
    EXPECT_TRUE(sticks().insert(2, one));
    struct stat st {};
    ASSERT_EQ(stat(platform::sysPath("/dev/sdb1").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0x4000, 0u);
    EXPECT_FALSE(fs::exists(platform::sysPath("/dev/sda1")));
    EXPECT_EQ(sticks().stickFolder(2), one);
    EXPECT_TRUE(sticks().remove(2));
    EXPECT_FALSE(fs::exists(platform::sysPath("/dev/sdb1")));
    EXPECT_FALSE(sticks().insert(1, root() + "/no/such/folder"));
}

TEST_F(UsbSticksTest, MountAttachesTheStickAndUnmountByDeviceDetachesIt) {
    writeFile(stick("one") + "/a.txt", "on the stick");
    sticks().insert(1, stick("one"));
    ASSERT_EQ(mount(), 0);
    EXPECT_TRUE(sticks().mounted());
    EXPECT_EQ(readFile(media("/a.txt")), "on the stick");
    EXPECT_NE(mount(), 0); // already mounted
    EXPECT_EQ(umount("/dev/sdb1"), 32);
    EXPECT_EQ(umount(), 0);
    EXPECT_FALSE(sticks().mounted());
    EXPECT_TRUE(fs::is_directory(media()));
    EXPECT_EQ(umount(), 32); // nothing mounted any more
}

TEST_F(UsbSticksTest, StickPulledWhileMountedLeavesADeadMountPointThatUnmounts) {
    sticks().insert(1, stick("one"));
    ASSERT_EQ(mount(), 0);
    sticks().remove(1);
    EXPECT_NE(run("cp /etc/hostname " + q(media("/x"))), 0);
    EXPECT_NE(mount(), 0);
    EXPECT_EQ(umount(), 0);
    EXPECT_TRUE(fs::is_directory(media()));
    EXPECT_FALSE(fs::exists(stick("one") + "/x"));
}

TEST_F(UsbSticksTest, MountFaultRefusesEveryMount) {
    sticks().insert(1, stick("one"));
    sticks().setFault(sim::UsbFault::Mount);
    EXPECT_EQ(mount(), 32);
    EXPECT_FALSE(sticks().mounted());
    sticks().setFault(sim::UsbFault::None);
    EXPECT_EQ(mount(), 0);
}

TEST_F(UsbSticksTest, FullStickTakesNothingButStillGivesItsFiles) {
    writeFile(stick("one") + "/there.txt", "readable");
    writeFile(home() + "/local.txt", "local");
    sticks().insert(1, stick("one"));
    ASSERT_EQ(mount(), 0);
    sticks().setFault(sim::UsbFault::Full);
    EXPECT_NE(run("sudo cp -f local.txt " + q(media("/local.txt"))), 0);
    EXPECT_FALSE(fs::exists(stick("one") + "/local.txt"));
    EXPECT_NE(run("sudo tar -czf " + q(media("/log.tar.gz")) + " local.txt"), 0);
    EXPECT_EQ(run("cp " + q(media("/there.txt")) + " back.txt"), 0);
    EXPECT_EQ(readFile("back.txt"), "readable");
    EXPECT_EQ(run("cp local.txt copy.txt"), 0); // copies off the stick are not affected
}

TEST_F(UsbSticksTest, PullDuringCopyLeavesTheFirstBytesAndNoStick) {
    writeFile(home() + "/big.bin", std::string(1000, 'b'));
    sticks().insert(1, stick("one"));
    ASSERT_EQ(mount(), 0);
    sticks().setFault(sim::UsbFault::PullAfter, 300);
    EXPECT_NE(run("sudo cp -f big.bin " + q(media("/big.bin"))), 0);
    EXPECT_EQ(fs::file_size(stick("one") + "/big.bin"), 300u);
    EXPECT_TRUE(sticks().stickFolder(1).empty());
    EXPECT_EQ(sticks().fault(), sim::UsbFault::None); // one-shot
    EXPECT_EQ(readFile("big.bin").size(), 1000u);     // the source is whole
}

TEST_F(UsbSticksTest, PullDuringExtractionGivesTarATruncatedArchive) {
    writeFile(home() + "/pack/file.bin", std::string(200000, 'x'));
    const std::string one = stick("one");
    ASSERT_EQ(run("tar -czf " + q(one + "/pack.tar.gz") + " -C pack file.bin"), 0);
    sticks().insert(1, one);
    ASSERT_EQ(mount(), 0);
    sticks().setFault(sim::UsbFault::PullAfter, 100);
    fs::create_directories("out");
    EXPECT_NE(run("tar -xzf " + q(media("/pack.tar.gz")) + " -C out"), 0);
    EXPECT_TRUE(sticks().stickFolder(1).empty());
}

TEST_F(UsbSticksTest, CommandsAndStatus) {
    const std::string one = stick("one");
    EXPECT_TRUE(board().execute({"usb", "insert", one, "--slot", "2"}).ok);
    EXPECT_FALSE(board().execute({"usb", "insert", one, "--slot", "3"}).ok);
    EXPECT_TRUE(board().execute({"usb", "fault", "pull-after", "4096"}).ok);
    EXPECT_FALSE(board().execute({"usb", "fault", "pull-after", "-1"}).ok);
    const std::string status = board().statusJson();
    EXPECT_NE(status.find("\"slot2\":\"" + one + "\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"pull_after_bytes\":4096"), std::string::npos) << status;
    EXPECT_TRUE(board().execute({"usb", "remove"}).ok);
    EXPECT_NE(board().statusJson().find("\"slot2\":null"), std::string::npos);
    EXPECT_TRUE(board().execute({"usb", "fault", "none"}).ok);
    EXPECT_EQ(sticks().fault(), sim::UsbFault::None);
}

} // namespace
