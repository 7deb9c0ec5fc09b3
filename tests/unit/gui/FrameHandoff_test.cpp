// The frame file through which the simulated board receives the GUI's picture.
#include "gui/app/FrameHandoff.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "sim/board/GuiFrame.h"
#include "tests/support/TempRoot.h"

namespace {

using testing_support::readFile;
using testing_support::TempDir;

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(FrameHandoff, WritesTheBoardsFrameFormat) {
    TempDir dir;
    const std::string path = dir.path() + "/run/ostrix-sim/gui-frame.raw";
    Ostrix::FrameHandoff handoff(path);
    const std::vector<uint32_t> pixels = {0xFF008080u, 0x80FF0000u, 0x00000000u,
                                          0x12345678u, 0xFFFFFFFFu, 0xFF000001u};
    ASSERT_TRUE(handoff.write(reinterpret_cast<const uint8_t*>(pixels.data()), 3, 2, 3 * sizeof(uint32_t)));

    const std::string bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 16u + pixels.size() * 4);
    EXPECT_EQ(bytes.substr(0, 16), std::string("OSTRIXFB\x03\0\0\0\x02\0\0\0", 16));
    // Pixels little endian: 0x12345678 as 78 56 34 12.
    EXPECT_EQ(bytes.substr(16 + 3 * 4, 4), std::string("\x78\x56\x34\x12", 4));

    sim::GuiFrame frame;
    ASSERT_EQ(sim::readGuiFrame(path, frame), "");
    EXPECT_EQ(frame.width, 3u);
    EXPECT_EQ(frame.height, 2u);
    EXPECT_EQ(frame.argb, pixels);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST(FrameHandoff, PaddedRowsAreWrittenWithoutTheirPadding) {
    TempDir dir;
    const std::string path = dir.path() + "/frame.raw";
    Ostrix::FrameHandoff handoff(path);
    // Two pixels per row, rows of 12 bytes (one pixel of padding).
    const std::vector<uint32_t> rows = {1, 2, 0xDEADBEEFu, 3, 4, 0xDEADBEEFu};
    ASSERT_TRUE(handoff.write(reinterpret_cast<const uint8_t*>(rows.data()), 2, 2, 12));
    sim::GuiFrame frame;
    ASSERT_EQ(sim::readGuiFrame(path, frame), "");
    EXPECT_EQ(frame.argb, (std::vector<uint32_t>{1, 2, 3, 4}));
}

TEST(FrameHandoff, AnUnchangedFrameIsNotWrittenAgainAndAChangedOneReplacesTheFile) {
    TempDir dir;
    const std::string path = dir.path() + "/frame.raw";
    Ostrix::FrameHandoff handoff(path);
    std::vector<uint32_t> pixels(4, 0xFF008080u);
    ASSERT_TRUE(handoff.write(reinterpret_cast<const uint8_t*>(pixels.data()), 2, 2, 8));
    const ino_t first = inodeOf(path);
    ASSERT_TRUE(handoff.write(reinterpret_cast<const uint8_t*>(pixels.data()), 2, 2, 8));
    EXPECT_EQ(inodeOf(path), first);

    // A new frame arrives by rename: a reader holding the old file still sees it whole.
    const std::string before = readFile(path);
    pixels[3] = 0xFFFF0000u;
    ASSERT_TRUE(handoff.write(reinterpret_cast<const uint8_t*>(pixels.data()), 2, 2, 8));
    EXPECT_NE(inodeOf(path), first);
    sim::GuiFrame frame;
    ASSERT_EQ(sim::readGuiFrame(path, frame), "");
    EXPECT_EQ(frame.argb[3], 0xFFFF0000u);
    EXPECT_NE(readFile(path), before);
}

TEST(FrameHandoff, AnUnwritableFolderIsReportedAndTheNextFrameIsTriedAgain) {
    TempDir dir;
    const std::string blocker = dir.path() + "/run";
    testing_support::writeFile(blocker, "a file where the folder should be");
    Ostrix::FrameHandoff handoff(blocker + "/frame.raw");
    const std::vector<uint32_t> pixels(1, 0xFF000000u);
    EXPECT_FALSE(handoff.write(reinterpret_cast<const uint8_t*>(pixels.data()), 1, 1, 4));
    EXPECT_FALSE(handoff.write(reinterpret_cast<const uint8_t*>(pixels.data()), 1, 1, 4));
    EXPECT_EQ(handoff.failuresInARow(), 2);
    std::filesystem::remove(blocker);
    EXPECT_TRUE(handoff.write(reinterpret_cast<const uint8_t*>(pixels.data()), 1, 1, 4));
    EXPECT_EQ(handoff.failuresInARow(), 0);
    EXPECT_TRUE(std::filesystem::exists(blocker + "/frame.raw"));
}

} // namespace
