// USB memory on the simulated board: presence, mounting, the file operations, the update
// name search and the log export, with what ended up on the stick.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "controller/core/MainLoop.h"
#include "tests/unit/controller/UsbFixture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;
using usb_testing::UsbTest;

struct VersionCase {
    const char* rest;
    bool valid;
    int major, minor;
};

TEST(UpdateVersion, OnlyDigitsAndOnePointAreAVersion) {
    const VersionCase cases[] = {
        {"5.10", true, 5, 10},      {"6", true, 6, 0},          {"0.0", true, 0, 0},
        {"007.01", true, 7, 1},     {"", false, 0, 0},          {"5.", false, 0, 0},
        {".5", false, 0, 0},        {"5.9.1", false, 0, 0},     {"5-1", false, 0, 0},
        {"7;touch x", false, 0, 0}, {"$(reboot)", false, 0, 0}, {"1234567890", false, 0, 0},
        {" 5", false, 0, 0},        {"5.1O", false, 0, 0},
    };
    for (const VersionCase& c : cases) {
        int major = -1, minor = -1;
        EXPECT_EQ(parse_update_version(c.rest, &major, &minor), c.valid) << c.rest;
        if (c.valid) {
            EXPECT_EQ(major, c.major) << c.rest;
            EXPECT_EQ(minor, c.minor) << c.rest;
        }
    }
}

struct NewestCase {
    std::vector<std::string> names;
    const char* ext;
    const char* found; // "" when none
};

TEST(UpdateVersion, NewestIsChosenNumericallyAboveZero) {
    const NewestCase cases[] = {
        {{"QLM-5.10.tar.gz", "QLM-5.9.tar.gz"}, ".tar.gz", "QLM-5.10.tar.gz"},
        {{"QLM-6.tgz"}, ".tgz", "QLM-6.tgz"},
        {{"QLM-6.tgz"}, ".tar.gz", ""},
        {{"QLM-0.0.tgz", "QLM-.tgz", "QLM-x.tgz"}, ".tgz", ""},
        {{"QLM-4.1.tgz", "QLM-7;touch x.tgz", "$(reboot).tgz", "QLM-$(reboot).tgz"}, ".tgz", "QLM-4.1.tgz"},
        {{"QLM-2.0.tgz", "QLM-10.tgz", "QLM-9.99.tgz"}, ".tgz", "QLM-10.tgz"},
        {{"qlm-9.tgz", "QLM-1.tgz.bak", "QLM-1.tgz"}, ".tgz", "QLM-1.tgz"},
    };
    for (const NewestCase& c : cases) {
        UpdateFile found;
        const bool any = newest_update(c.names, "QLM-", c.ext, &found);
        EXPECT_EQ(any, *c.found != '\0') << c.names.front();
        EXPECT_EQ(any ? found.name : "", c.found);
    }
    UpdateFile found;
    ASSERT_TRUE(newest_update({"QLM-5.9.tar.gz", "QLM-5.10.tar.gz"}, "QLM-", ".tar.gz", &found));
    EXPECT_EQ(found.major, 5);
    EXPECT_EQ(found.minor, 10);
}

TEST_F(UsbTest, PresenceFollowsTheDeviceNodes) {
    EXPECT_EQ(usb_memory_inserted(), 0);
    insert("two", 2);
    EXPECT_EQ(usb_memory_inserted(), 2);
    insert("one", 1);
    EXPECT_EQ(usb_memory_inserted(), 1);
    sticks().remove(1);
    sticks().remove(2);
    EXPECT_EQ(usb_memory_inserted(), 0);
    // A plain file in place of the node is no stick.
    writeFile(platform::sysPath("/dev/sda1"), stick());
    EXPECT_EQ(usb_memory_inserted(), 0);
}

// The main loop polls for sticks only outside standby: a change in standby is noticed
// after the wake-up.
TEST_F(UsbTest, MainLoopPollsForSticksOnlyOutsideStandby) {
    reset_main_loop_state();
    insert();
    execute_mode.standby = 1;
    main_loop_pass();
    EXPECT_EQ(usb_memory, 0);
    execute_mode.standby = 0;
    main_loop_pass();
    EXPECT_EQ(usb_memory, 1);
    reset_main_loop_state();
}

TEST_F(UsbTest, MountAndUnmountAttachTheStickForOneOperation) {
    writeFile(insert() + "/hello.txt", "hi");
    ASSERT_EQ(detect_usb_memory(), 0);
    EXPECT_EQ(usb_memory_detected, 1);
    EXPECT_EQ(readFile(mountPoint() + "/hello.txt"), "hi");
    unmount_usb();
    EXPECT_EQ(usb_memory_detected, 0);
    EXPECT_TRUE(mountPointEmpty());
    EXPECT_EQ(mount_usb(3), -1);
    EXPECT_TRUE(logged("MAIN: UMOUNT sda1 0\n"));
}

TEST_F(UsbTest, MountFailureIsReportedAndLeavesNothingMounted) {
    insert();
    sticks().setFault(sim::UsbFault::Mount);
    EXPECT_EQ(mount_usb(1), -1);
    EXPECT_EQ(detect_usb_memory(), -1);
    EXPECT_EQ(usb_memory_detected, 0);
    EXPECT_TRUE(mountPointEmpty());
    EXPECT_TRUE(logged("MAIN: MOUNT result=32\n"));
    EXPECT_TRUE(logged("MAIN: No USB Drive Found\n"));
}

TEST_F(UsbTest, FileSizeSumsEveryByteAsUnsigned) {
    writeFile("bytes.bin", std::string("\xFF\x01\x80", 3));
    uint32_t sum = 0;
    EXPECT_EQ(fileSize("bytes.bin", &sum), 3);
    EXPECT_EQ(sum, 0x180u);
    EXPECT_TRUE(logged("File Size = 3  Checksum = 00000180 last byte 80\n"));
    sum = 7;
    EXPECT_EQ(fileSize("missing.bin", &sum), 0);
    EXPECT_EQ(sum, 7u);
    EXPECT_EQ(fileSize("bytes.bin", nullptr), 3);
}

TEST_F(UsbTest, CopyKeepsThePreviousFileAndReplacesWhole) {
    writeFile("update/a.cfg", "new");
    writeFile("a.cfg", "old");
    fs::create_directories("previous");
    ASSERT_EQ(copy_file("update/a.cfg", "a.cfg", "previous/a.cfg"), 0);
    EXPECT_EQ(readFile("a.cfg"), "new");
    EXPECT_EQ(readFile("previous/a.cfg"), "old");
    EXPECT_FALSE(fs::exists("a.cfg.part"));
}

TEST_F(UsbTest, FailedCopyNeverLosesTheSourceOrTheDestination) {
    writeFile("update/a.cfg", "new");
    writeFile("a.cfg", "old");
    EXPECT_NE(move_file("update/missing.cfg", "a.cfg", ""), 0);
    EXPECT_EQ(readFile("a.cfg"), "old");
    EXPECT_NE(move_file("update/a.cfg", "no/such/folder/a.cfg", ""), 0);
    EXPECT_EQ(readFile("update/a.cfg"), "new");
    ASSERT_EQ(move_file("update/a.cfg", "a.cfg", ""), 0);
    EXPECT_FALSE(fs::exists("update/a.cfg"));
    EXPECT_EQ(readFile("a.cfg"), "new");
}

TEST_F(UsbTest, NamesWithShellSyntaxAreOnlyNames) {
    const std::string odd = "$(touch pwned);touch pwned2 'x'.cfg";
    writeFile(odd, "data");
    ASSERT_EQ(copy_file(odd, "copy of " + odd, ""), 0);
    EXPECT_EQ(change_permissions("666", "copy of " + odd), 0);
    EXPECT_EQ(delete_file(odd), 0);
    EXPECT_EQ(readFile("copy of " + odd), "data");
    EXPECT_FALSE(fs::exists(odd));
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists("pwned2"));
}

TEST_F(UsbTest, UpdateSearchMountsListsAndUnmounts) {
    const std::string folder = insert();
    for (const char* name : {"QLM-5.9.tar.gz", "QLM-5.10.tar.gz", "QLM-7.tgz", "QLM-7;touch x.tgz"}) {
        writeFile(folder + "/" + name, "archive");
    }
    UpdateFile found;
    ASSERT_EQ(find_update_files_using_glob("QLM-", ".tar.gz", &found), 1);
    EXPECT_EQ(found.name, "QLM-5.10.tar.gz");
    ASSERT_EQ(find_update_files_using_glob("QLM-", ".tgz", &found), 1);
    EXPECT_EQ(found.name, "QLM-7.tgz");
    EXPECT_TRUE(mountPointEmpty());
    sticks().remove(1);
    EXPECT_EQ(find_update_files_using_glob("QLM-", ".tgz", &found), 0);
    EXPECT_TRUE(logged("MAIN: USB Drive not found in find_update_files_using_glob()\n"));
}

// The archive on the stick holds the log folder: every file in it has the size and byte
// sum of the log file it was made from.
TEST_F(UsbTest, LogExportLeavesTheLogFolderOnTheStick) {
    writeFile("log/kept-by-service.txt", "an older note\nwith two lines\n");
    logprintf("MAIN: something worth keeping\n");
    const std::string folder = insert();
    ASSERT_EQ(copy_log_to_usb(), 0);
    EXPECT_TRUE(mountPointEmpty());

    std::vector<std::string> archives;
    for (const auto& e : fs::directory_iterator(folder)) {
        archives.push_back(e.path().filename().string());
    }
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_TRUE(std::regex_match(archives[0], std::regex(R"(Log\d{8}_\d{6}\.tar\.gz)"))) << archives[0];
    fs::create_directories("unpacked");
    ASSERT_EQ(
        platform::shell("tar -xzf " + platform::shellQuote(folder + "/" + archives[0]) + " -C unpacked"), 0);

    uint32_t local = 0, exported = 0;
    const long size = fileSize("log/kept-by-service.txt", &local);
    EXPECT_EQ(fileSize("unpacked/log/kept-by-service.txt", &exported), size);
    EXPECT_EQ(exported, local);
    const std::string current = readFile("unpacked/log/QLM_logfile_0001.log");
    EXPECT_NE(current.find("MAIN: something worth keeping"), std::string::npos);
    EXPECT_EQ(readFile("log/QLM_logfile_0001.log").compare(0, current.size(), current), 0);
    EXPECT_TRUE(logged("MAIN: LOG->USB result=0\n"));
}

// tar's "file changed as we read it" leaves a whole archive: the export worked.
TEST_F(UsbTest, ALogThatGrewWhileArchivedIsStillAGoodExport) {
    const std::string folder = insert();
    sticks().setFault(sim::UsbFault::Changing);
    EXPECT_EQ(copy_log_to_usb(), 0);
    EXPECT_TRUE(logged("MAIN: LOG->USB result=1\n"));
    EXPECT_FALSE(logged("Copy of the log to Memory Stick failed"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(UsbTest, LogExportToAFullStickFails) {
    const std::string folder = insert();
    sticks().setFault(sim::UsbFault::Full);
    EXPECT_EQ(copy_log_to_usb(), -1);
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_TRUE(logged("MAIN: ERROR: Copy of the log to Memory Stick failed"));
    EXPECT_TRUE(mountPointEmpty());
}

} // namespace
