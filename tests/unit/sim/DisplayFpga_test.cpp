// The simulated display FPGA seen from the SPI bus and its configuration lines.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "TempRoot.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"
#include "sim/board/SimBackend.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FpgaTestPicture.h"

namespace {

constexpr int kConfDone = 39;
constexpr int kNConfig = 36;
constexpr int kReset = 4;
constexpr uint8_t kRight = 0x80;

class DisplayFpgaTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        ASSERT_GE(wiringPiSPISetup(0, 16000000), 0);
    }
    sim::DisplayFpga& fpga() { return *board().find<sim::DisplayFpga>(); }

    static std::vector<unsigned char> frame(uint8_t address, const std::vector<uint32_t>& words) {
        std::vector<unsigned char> b{address};
        for (uint32_t w : words) {
            for (int shift = 24; shift >= 0; shift -= 8) {
                b.push_back(static_cast<unsigned char>(w >> shift));
            }
        }
        return b;
    }
    static std::vector<uint32_t> words(const std::vector<unsigned char>& b) {
        std::vector<uint32_t> w;
        for (size_t i = 1; i + 4 <= b.size(); i += 4) {
            w.push_back(uint32_t(b[i]) << 24 | uint32_t(b[i + 1]) << 16 | uint32_t(b[i + 2]) << 8 | b[i + 3]);
        }
        return w;
    }
    std::vector<uint32_t> xfer(uint8_t address, const std::vector<uint32_t>& data) {
        auto b = frame(address, data);
        wiringPiSPIDataRW(0, b.data(), static_cast<int>(b.size()));
        return words(b);
    }
    uint32_t reg(uint8_t address, uint32_t value = 0) { return xfer(address, {value}).at(0); }
    // Polls a register until `done` (the simulated FPGA's delays are tens of ms).
    template <class F> uint32_t pollUntil(uint8_t address, F done) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        uint32_t v = reg(address);
        while (!done(v) && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            v = reg(address);
        }
        return v;
    }
};

TEST_F(DisplayFpgaTest, AnswerIsTheRegisterAsItWasWhenTheAddressArrived) {
    EXPECT_EQ(reg(0x08, 0x11223344), 0u);
    EXPECT_EQ(reg(0x08, 0x55667788), 0x11223344u);
    EXPECT_EQ(reg(0x08 | kRight), 0u); // the right channel has its own
    EXPECT_EQ(reg(0x7F), 31u);
    reg(0x00, 0x0000C016);
    EXPECT_EQ(reg(0x40), 0x0000C016u); // control read-back
    reg(0x40, 0xFFFFFFFF);             // read-only: ignored
    EXPECT_EQ(reg(0x40), 0x0000C016u);
}

TEST_F(DisplayFpgaTest, DataPortServesEveryBurstForm) {
    // Line burst of 240 words (961 bytes) at the write pointer...
    std::vector<uint32_t> line(240);
    for (size_t i = 0; i < line.size(); ++i) {
        line[i] = 0x01000000u * static_cast<uint32_t>(i) + 7;
    }
    reg(0x10, 0x2000100);
    xfer(0x14, line);
    // ...and 128-bit writes (17 bytes) following on.
    xfer(0x14, {1, 2, 3, 4});
    EXPECT_EQ(fpga().ddrWord(0, 0x2000100 + 60, 3), 4u);
    // Register by register: the word lands when its last lane is written.
    reg(0x10, 0x2000200);
    reg(0x14, 10);
    reg(0x15, 11);
    reg(0x16, 12);
    EXPECT_EQ(fpga().ddrWord(0, 0x2000200, 0), 0u);
    reg(0x17, 13);
    EXPECT_EQ(fpga().ddrWord(0, 0x2000200, 2), 12u);
    // Reads: 961 and 481 bytes and single 32-bit reads follow the read pointer.
    reg(0x11, 0x2000100);
    EXPECT_EQ(xfer(0x14, std::vector<uint32_t>(240)), line);
    EXPECT_EQ(xfer(0x14, {0}), std::vector<uint32_t>{1});
    reg(0x11, 0x2000100);
    std::vector<uint32_t> half = xfer(0x14, std::vector<uint32_t>(120));
    EXPECT_EQ(half[119], line[119]);
    reg(0x11, 0x2000200);
    EXPECT_EQ(xfer(0x14, std::vector<uint32_t>(4)), (std::vector<uint32_t>{10, 11, 12, 13}));
    // The right channel's memory is its own.
    reg(0x11 | kRight, 0x2000200);
    EXPECT_EQ(reg(0x14 | kRight), 0u);
}

TEST_F(DisplayFpgaTest, MemoryOutlivesProgramsUntilPowerCycle) {
    reg(0x10, 0x3000000);
    xfer(0x14, {0xCAFE, 0xF00D, 0xBEEF, 0xFACE});
    {
        // Another program's board over the same files.
        sim::Board other(root(), sim::BoardConfig::load(sim::Board::configPath(root())));
        EXPECT_EQ(other.find<sim::DisplayFpga>()->ddrWord(0, 0x3000000, 1), 0xF00Du);
    }
    board().powerCycle();
    EXPECT_EQ(fpga().ddrWord(0, 0x3000000, 1), 0u);
}

TEST_F(DisplayFpgaTest, StatusReportsDdrThenMemoryTestAfterReset) {
    pinMode(kReset, OUTPUT);
    digitalWrite(kReset, LOW);
    EXPECT_EQ(reg(0x30), 0xA000u); // in reset: only the magic nibble
    EXPECT_EQ(reg(0x00, 5), 0u);
    digitalWrite(kReset, HIGH);
    uint32_t s = pollUntil(0x30, [](uint32_t v) { return (v & 0x80) != 0; });
    EXPECT_EQ(s, 0xA000u | 0x02 | 0x04 | 0x08 | 0x40 | 0x80);
    EXPECT_EQ(reg(0x00), 5u) << "registers keep what is written after the reset";
}

TEST_F(DisplayFpgaTest, UnconfiguredFpgaLeavesMisoHighAndNConfigReconfigures) {
    pinMode(kNConfig, OUTPUT);
    digitalWrite(kNConfig, LOW);
    EXPECT_EQ(digitalRead(kConfDone), LOW);
    EXPECT_EQ(reg(0x7F), 0xFFFFFFFFu);
    digitalWrite(kNConfig, HIGH);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (digitalRead(kConfDone) == LOW && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(digitalRead(kConfDone), HIGH);
    EXPECT_EQ(reg(0x7F), 31u);
}

TEST_F(DisplayFpgaTest, ErasedFlashLeavesTheFpgaUnconfigured) {
    std::ofstream(fpga().flashPath(), std::ios::binary) << std::string(8192, '\xFF');
    pinMode(kNConfig, OUTPUT);
    digitalWrite(kNConfig, LOW);
    digitalWrite(kNConfig, HIGH);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(digitalRead(kConfDone), LOW);
    std::ofstream(fpga().flashPath(), std::ios::binary) << "an image";
    digitalWrite(kNConfig, LOW);
    digitalWrite(kNConfig, HIGH);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (digitalRead(kConfDone) == LOW && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(digitalRead(kConfDone), HIGH);
}

TEST_F(DisplayFpgaTest, LivePictureDiffersPerEyeAndFreezesWhenInputStops) {
    reg(0x0C, 0x000F000F);
    reg(0x0C | kRight, 0x000F000F);
    const int y = 430; // through the stereo target's top edge
    const int line = y * 512;
    auto readLine = [&](uint8_t ch) {
        reg(0x11 | ch, line);
        std::vector<uint32_t> out;
        for (int k = 0; k < 8; ++k) {
            auto part = xfer(0x14 | ch, std::vector<uint32_t>(240));
            out.insert(out.end(), part.begin(), part.end());
        }
        return out;
    };
    auto left = readLine(0), right = readLine(kRight);
    const uint32_t white = sim::frameStoreWord({255, 255, 255});
    int lx = sim::testPictureTargetX(0), rx = sim::testPictureTargetX(1);
    EXPECT_EQ(rx - lx, sim::kTestPictureEyeOffset);
    EXPECT_EQ(left[lx], white);
    EXPECT_NE(left[lx - 1], white);
    EXPECT_EQ(right[rx], white);
    EXPECT_NE(right[lx], white);
    EXPECT_NE(left[5], right[5]) << "the eyes are tinted differently";

    // Freeze buffer 0 of the left channel: its content no longer changes.
    reg(0x0C, 0x000E0001);
    auto frozen = readLine(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(readLine(0), frozen);
    EXPECT_EQ(fpga().ddrWord(0, line, 0), frozen[0]);
}

TEST_F(DisplayFpgaTest, TraceHasBytesAndBusTimeAtTheSpeedSet) {
    board().trace().clear();
    reg(0x7F);
    auto e = board().trace().entries(sim::TraceKind::Spi).back();
    EXPECT_EQ(e.out, (std::vector<uint8_t>{0x7F, 0, 0, 0, 0}));
    EXPECT_EQ(e.in, (std::vector<uint8_t>{0, 0, 0, 0, 31}));
    EXPECT_NEAR(e.busSeconds, 15e-6 + 5 * 9 / 16e6, 1e-12);
    unsigned char b[5] = {0x7F};
    EXPECT_EQ(wiringPiSPIDataRW(1, b, 5), -1) << "channel 1 was not set up";
    ASSERT_GE(wiringPiSPISetup(1, 1000000), 0);
    EXPECT_EQ(wiringPiSPIDataRW(1, b, 5), 5);
    EXPECT_EQ(b[4], 0xFF) << "nothing answers on channel 1";
}

TEST_F(DisplayFpgaTest, ControlCommandsInjectFaultsAndStatusShowsBothChannels) {
    EXPECT_TRUE(board().execute({"fpga", "version", "0xFF"}).ok);
    EXPECT_EQ(reg(0x7F), 0xFFu);
    EXPECT_TRUE(board().execute({"fpga", "status-stuck", "0x0A"}).ok);
    EXPECT_EQ(reg(0x30 | kRight), 0x0Au);
    EXPECT_TRUE(board().execute({"fpga", "status-stuck", "off"}).ok);
    EXPECT_TRUE(board().execute({"fpga", "ddr-ready", "no"}).ok);
    EXPECT_EQ(reg(0x30), 0xA000u);
    EXPECT_FALSE(board().execute({"fpga", "version"}).ok);
    EXPECT_FALSE(board().execute({"fpga", "warp-status", "0", "1"}).ok);
    reg(0x08 | kRight, static_cast<uint32_t>(-12));
    reg(0x0C, 0x000F000F);
    std::string status = board().statusJson();
    EXPECT_NE(status.find("\"right\":{\"control\":\"0x00000000\""), std::string::npos);
    EXPECT_NE(status.find("\"warp_pixel_offset\":-12"), std::string::npos);
    EXPECT_NE(status.find("\"frame_store_enable\":\"0x000f000f\""), std::string::npos);
    EXPECT_NE(status.find("\"ddr_never_ready\":true"), std::string::npos);
    EXPECT_EQ(board().execute({"fpga", "reg", "1", "8"}).text, "0xfffffff4\n");
}

} // namespace
