// The FPGA streaming tool against the simulated display FPGA on SPI channel 0.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ToolsFixture.h"
#include "tools/spiload/spiload.h"

namespace {

using testing_support::writeFile;

constexpr int kFailed = 255; // exit status -1

std::vector<uint8_t> frame(uint8_t reg, uint32_t value) {
    return {reg, uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

class SpiloadTest : public ToolsTest {
protected:
    int spiload(std::vector<std::string> args) {
        args.insert(args.begin(), "spiload");
        return run(spiload_main, args);
    }
    bool anySpiTraffic() { return !board().trace().entries(sim::TraceKind::Spi).empty(); }
};

TEST_F(SpiloadTest, RegisterAddressAlonePrintsTheVersion) {
    EXPECT_EQ(spiload({"-a", "0x7F"}), 0);
    EXPECT_EQ(output_, "Address = 0x7f, Data = 0x00000000\n0x0000001f\n");
}

TEST_F(SpiloadTest, RegisterWriteSetsTheRegisterAndPrintsWhatWasShiftedOut) {
    fpga().setRegister(0, sim::fpga_regs::kBacklight, 0x55);
    EXPECT_EQ(spiload({"-a", "0x01", "200"}), 0);
    EXPECT_EQ(output_, "Address = 0x01, Data = 0x000000c8\n0x00000055\n");
    EXPECT_EQ(fpga().registerValue(0, sim::fpga_regs::kBacklight), 200u);
    // Octal and an address wider than 8 bits reduced to its register.
    EXPECT_EQ(spiload({"-a", "0x181", "010"}), 0);
    EXPECT_EQ(fpga().registerValue(1, sim::fpga_regs::kBacklight), 8u);
}

TEST_F(SpiloadTest, ThreeLineRecordsMakeFiveWritesEachPlusTheRepeatedLast) {
    writeFile(home() + "/line.txt", " 1,2,3,4\n 5,6,7,8\n 9,10,11,12\n");
    writeFile(home() + "/pixel.txt", " 1,2,3,4,5,6,7,8, 9,10,11,12,13,14,15,0\n");
    board().trace().clear();
    ASSERT_EQ(spiload({"-R", "line.txt", "pixel.txt"}), 0) << output_;
    const auto t = fpgaTransfers();
    const uint32_t records[4][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {9, 10, 11, 12}};
    ASSERT_GE(t.size(), 20u);
    for (uint32_t r = 0; r < 4; ++r) {
        EXPECT_EQ(t[r * 5].out, frame(0x90, LINE_FILE_START_ADDRESS + r)) << r;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(t[r * 5 + 1 + i].out, frame(uint8_t(0x94 + i), records[r][i])) << r << " " << i;
        }
    }
    EXPECT_EQ(t[20].out, frame(0x90, PIXEL_FILE_START_ADDRESS));
    EXPECT_EQ(fpga().ddrWord(1, LINE_FILE_START_ADDRESS + 2, 3), 12u);
    EXPECT_EQ(fpga().ddrWord(1, PIXEL_FILE_START_ADDRESS, 0), 0x87654321u);
    EXPECT_NE(output_.find("copyFileToSPI(line.txt) valuebits=32\r\n"), std::string::npos);
    EXPECT_NE(output_.find("commas=15, pixels_per_line=8\r\n"), std::string::npos);
    // The count includes the repeated last record.
    EXPECT_NE(output_.find("0004: 9,10,11,12\n"), std::string::npos) << output_;
}

struct RefusedCase {
    const char* name;
    std::vector<std::string> args;
    int exitStatus;
    const char* message;
};
// CTest lists the case by its name.
void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class SpiloadRefusedTest : public SpiloadTest, public testing::WithParamInterface<RefusedCase> {};

// Nothing reaches the bus for a command line or a table that cannot be used.
TEST_P(SpiloadRefusedTest, StopsBeforeAnySpiTraffic) {
    writeFile(home() + "/line.txt", " 1,2,3,4\n");
    writeFile(home() + "/pixel.txt", " 1,2,3,4,5,6,7,8\n");
    writeFile(home() + "/bad.txt", " 1,2,x,4,5,6,7,8\n");
    board().trace().clear();
    EXPECT_EQ(spiload(GetParam().args), GetParam().exitStatus);
    EXPECT_NE(output_.find(GetParam().message), std::string::npos) << output_;
    EXPECT_FALSE(fpgaTransfers().size());
}

INSTANTIATE_TEST_SUITE_P(
    Refused, SpiloadRefusedTest,
    testing::Values(
        RefusedCase{
            "MissingPixelFile", {"-L", "line.txt", "nopixel.txt"}, ENOENT, " ERROR: pixel_file not found\n"},
        RefusedCase{
            "MissingLineFile", {"-L", "noline.txt", "pixel.txt"}, ENOENT, " ERROR: line_file not found\n"},
        RefusedCase{"MalformedPixelTable", {"-L", "line.txt", "bad.txt"}, 1, "malformed"},
        RefusedCase{"NoArguments", {}, kFailed, "        spiload -a <reg_address_8bit>"},
        RefusedCase{"UnknownOption", {"-X", "a", "b"}, kFailed, "     Spiload v1.7\n"},
        RefusedCase{"TableWithoutPixelFile", {"-L", "line.txt"}, kFailed, "Useage: spiload -L"},
        RefusedCase{"DataTooWide", {"-a", "1", "0x100000000"}, kFailed, "Useage: spiload -L"},
        RefusedCase{"AddressNotANumber", {"-a", "one"}, kFailed, "Useage: spiload -L"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
