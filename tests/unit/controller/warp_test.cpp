// Warp table upload, comparison, rotation and status read-out on the simulated FPGA.
#include <gtest/gtest.h>

#include <cstdlib>

#include "FpgaFixture.h"
#include "controller/fpga/WarpTable.h"
#include "platform/platform.h"
#include "sim/board/SimBackend.h"
#include "tools/warpgen/WarpGenerator.h"

namespace {

using testing_support::readFile;
using testing_support::writeFile;

// One pixel-table line of 1920 pixels whose values count 0..15 over and over.
std::string countingPixelLine() {
    std::string line;
    for (int i = 0; i < 2 * FRAME_STORE_LINE_LEN; ++i) {
        line += std::to_string(i % 16);
        line += i + 1 < 2 * FRAME_STORE_LINE_LEN ? "," : "\n";
    }
    return line;
}

class WarpTest : public FpgaTest {
protected:
    void SetUp() override {
        FpgaTest::SetUp();
        fpga = makeFpga(false);
    }
    size_t dataWrites() {
        size_t n = 0;
        for (auto& e : transfers()) {
            n += e.out.size() == 17 && (e.out[0] & 0x7F) == 0x14;
        }
        return n;
    }
    std::array<uint32_t, 4> ddr(int channel, uint32_t address) {
        std::array<uint32_t, 4> w{};
        for (int lane = 0; lane < 4; ++lane) {
            w[lane] = model().ddrWord(channel, address, lane);
        }
        return w;
    }
    // Writes tables for -2.0..2.0 degrees in steps of 0.1, two lines each, into ./warp/.
    void generateTables(bool plain) {
        warpgen::Options o;
        o.folder = home() + "/warp";
        o.height = 2;
        o.stepTenths = 1;
        o.plainRotations = plain;
        ASSERT_EQ(warpgen::generate(o), "");
        fpga->setWarpFileNames("warpline.txt", "warppixel.txt", "warpline.txt", "warppixel.txt", "./warp/");
        fpga->setWarpZipFileName("warp.zip");
    }
    std::unique_ptr<ostrixFpga> fpga;
};

TEST_F(WarpTest, PixelTablePacksEightNibblesPerWordFirstValueLowest) {
    put("pix.txt", countingPixelLine());
    ASSERT_EQ(fpga->copyFileToSPI("pix.txt", PIXEL_FILE_START_ADDRESS, 4, RIGHT), 0);
    auto t = transfers();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[0].out, bytes({0x90, 0x02, 0, 0, 0})); // write address first
    EXPECT_EQ(t[1].out.size(), 17u);
    EXPECT_EQ(t[1].out[0], 0x94);
    auto first = ddr(1, PIXEL_FILE_START_ADDRESS);
    EXPECT_EQ(first, (std::array<uint32_t, 4>{0x76543210, 0xFEDCBA98, 0x76543210, 0xFEDCBA98}));
    // 1920 pixels = 120 words, then the end of file repeats the last one.
    EXPECT_EQ(dataWrites(), 121u);
    EXPECT_EQ(ddr(0, PIXEL_FILE_START_ADDRESS), (std::array<uint32_t, 4>{}));
    EXPECT_NE(log().find("F: lines 0001\n"), std::string::npos);
}

TEST_F(WarpTest, LineTableRepeatsItsLastRecordOnlyWhenTheFileEndsWithALineEnd) {
    put("line.txt", " 1,2,3,4\n5,-6,7,8\n");
    ASSERT_EQ(fpga->copyFileToSPI("line.txt", LINE_FILE_START_ADDRESS, 32, LEFT), 0);
    EXPECT_EQ(dataWrites(), 3u);
    EXPECT_EQ(ddr(0, LINE_FILE_START_ADDRESS + 1), (std::array<uint32_t, 4>{5, 0xFFFFFFFA, 7, 8}));
    EXPECT_EQ(ddr(0, LINE_FILE_START_ADDRESS + 2), ddr(0, LINE_FILE_START_ADDRESS + 1));
    EXPECT_EQ(transfers()[1].out, bytes({0x14, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4}));

    board().trace().clear();
    put("line2.txt", "1,2,3,4\n5,6,7,8");
    ASSERT_EQ(fpga->copyFileToSPI("line2.txt", LINE_FILE_START_ADDRESS, 32, LEFT), 0);
    EXPECT_EQ(dataWrites(), 2u);
}

TEST_F(WarpTest, UploadedTableComparesEqualAndADifferenceIsCounted) {
    std::string table = countingPixelLine() + countingPixelLine();
    put("pix.txt", table);
    ASSERT_EQ(fpga->copyFileToSPI("pix.txt", PIXEL_FILE_START_ADDRESS, 4, LEFT), 0);
    board().trace().clear();
    EXPECT_EQ(fpga->compareFileToSPI("pix.txt", PIXEL_FILE_START_ADDRESS, 4, LEFT), 0);
    EXPECT_NE(log().find("F: Verify SUCCESS\n"), std::string::npos);
    // Read back with the read address and four 5-byte reads per word.
    auto t = transfers();
    EXPECT_EQ(t[0].out, bytes({0x11, 0x02, 0, 0, 0}));
    EXPECT_EQ(t.size(), 1 + 4 * 241u);

    model().setDdrWord(0, PIXEL_FILE_START_ADDRESS + 130, 2, 0xDEADBEEF);
    EXPECT_EQ(fpga->compareFileToSPI("pix.txt", PIXEL_FILE_START_ADDRESS, 4, LEFT), 1);
    EXPECT_NE(log().find("Line 0001 Pixel 0160 i=2 Expected 76543210 Found deadbeef\n"), std::string::npos);
    EXPECT_NE(log().find("F: Verify FAILED with 1 differences\n"), std::string::npos);
}

TEST_F(WarpTest, MalformedTablesAreRefusedBeforeAnyWordMoves) {
    std::string line = countingPixelLine();
    put("bad.txt", line + line.substr(0, 100) + "x" + line.substr(101));
    EXPECT_EQ(fpga->copyFileToSPI("bad.txt", PIXEL_FILE_START_ADDRESS, 4, LEFT), EINVAL);
    put("badline.txt", "1,2,3,4\n1,2,x,4\n");
    EXPECT_EQ(fpga->copyFileToSPI("badline.txt", LINE_FILE_START_ADDRESS, 32, LEFT), EINVAL);
    EXPECT_TRUE(transfers().empty());
    EXPECT_NE(log().find("F: ERROR: warp table 'bad.txt' is malformed at line 2"), std::string::npos);
}

TEST_F(WarpTest, MissingFileAndBadChannelAreReportedWithoutTraffic) {
    EXPECT_EQ(fpga->copyFileToSPI("nothere.txt", LINE_FILE_START_ADDRESS, 32, LEFT), ENOENT);
    EXPECT_EQ(fpga->compareFileToSPI("nothere.txt", LINE_FILE_START_ADDRESS, 32, LEFT), ENOENT);
    EXPECT_NE(log().find("ERROR: file 'nothere.txt' not found"), std::string::npos);
    put("line.txt", "1,2,3,4\n");
    EXPECT_EQ(fpga->copyFileToSPI("line.txt", LINE_FILE_START_ADDRESS, 32, LEFTandRIGHT), -1);
    EXPECT_EQ(fpga->compareFileToSPI("line.txt", LINE_FILE_START_ADDRESS, 32, LEFTandRIGHT), -1);
    EXPECT_TRUE(transfers().empty());
}

TEST_F(WarpTest, RotationInsertsTheAngleBeforeTheFirstDot) {
    generateTables(true);
    ASSERT_EQ(fpga->setDisplayRotation(LEFT, -1.5f), 0);
    EXPECT_NE(log().find("F: new rotation files 'warpline-1.5.txt' and  'warppixel-1.5.txt'\n"),
              std::string::npos);
    EXPECT_FLOAT_EQ(fpga->warpRotation(LEFT), -1.5f);
    std::string text = readFile(home() + "/warp/warpline-1.5.txt");
    WarpTable expected = parseWarpTable(text.data(), text.size(), 32);
    EXPECT_EQ(ddr(0, LINE_FILE_START_ADDRESS + 1), expected.words[1].lanes);
    EXPECT_EQ(fpga->compareFileToSPI("warp/warppixel-1.5.txt", PIXEL_FILE_START_ADDRESS, 4, LEFT), 0);

    // Within a thousandth of a degree of zero the base tables load.
    ASSERT_EQ(fpga->setDisplayRotation(RIGHT, 0.0005f), 0);
    EXPECT_NE(log().find("F: new rotation files 'warpline.txt' and  'warppixel.txt'\n"), std::string::npos);
    EXPECT_EQ(fpga->verifyWarp(RIGHT), 0);
}

TEST_F(WarpTest, NameWithoutDotLeavesTheLoadedTablesUntouched) {
    generateTables(true);
    ASSERT_EQ(fpga->setDisplayRotation(LEFT, 0), 0);
    fpga->setWarpFileNames("warpline", "warppixel.txt", "", "", "./warp/");
    board().trace().clear();
    EXPECT_EQ(fpga->setDisplayRotation(LEFT, 1.0f), -1);
    EXPECT_NE(log().find("F: failed to find '.' in 'warpline'\n"), std::string::npos);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(fpga->setDisplayRotation(RIGHT, 0), -1);
    EXPECT_NE(log().find("F: zero length filename(s)\n"), std::string::npos);
    EXPECT_TRUE(transfers().empty());
}

TEST_F(WarpTest, PairWithAMalformedPixelTableLoadsNeitherTable) {
    generateTables(true);
    ASSERT_EQ(fpga->setDisplayRotation(LEFT, 0), 0);
    writeFile(home() + "/warp/warppixel0.3.txt", "1,2,3\n");
    board().trace().clear();
    EXPECT_EQ(fpga->setDisplayRotation(LEFT, 0.3f), -1);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(fpga->verifyWarp(LEFT), 0);
}

TEST_F(WarpTest, MissingRotationFilesComeFromTheZip) {
    generateTables(false);
    ASSERT_EQ(fpga->setDisplayRotation(RIGHT, 1.2f), 0);
    std::string l = log();
    EXPECT_NE(l.find("F: rotation files 'warpline1.2.txt' 'warppixel1.2.txt' do not exist\n"),
              std::string::npos);
    EXPECT_NE(l.find("F: try unzipping line file 'warpline1.2.txt'\nF: unzip result = 0\n"),
              std::string::npos);
    EXPECT_NE(l.find("F: copy pixel file to SPI\n"), std::string::npos);
    EXPECT_NE(l.find("F: warp complete\n"), std::string::npos);
    EXPECT_NE(shellLog().find("sudo unzip -p ./warp/warp.zip warpline1.2.txt\n"), std::string::npos);
    std::string member = readFile(home() + "/warp/temppixel.txt");
    WarpTable expected = parseWarpTable(member.data(), member.size(), 4);
    EXPECT_EQ(ddr(1, PIXEL_FILE_START_ADDRESS + 200), expected.words[200].lanes);
    EXPECT_EQ(fpga->compareFileToSPI("warp/temppixel.txt", PIXEL_FILE_START_ADDRESS, 4, RIGHT), 0);
}

// A configured name with wildcard characters still extracts its own member, not another
// one that the name read as a pattern would match ("w[1]" matches "w1").
TEST_F(WarpTest, ZipMemberNamesAreTakenLiterally) {
    generateTables(true);
    const std::string warp = home() + "/warp/";
    for (const std::string kind : {"line", "pixel"}) {
        writeFile(warp + "w[1]" + kind + "1.2.txt", readFile(warp + "warp" + kind + "1.2.txt"));
        writeFile(warp + "w1" + kind + "1.2.txt", readFile(warp + "warp" + kind + "-1.2.txt"));
    }
    const std::string members = "'w[1]line1.2.txt' 'w[1]pixel1.2.txt' w1line1.2.txt w1pixel1.2.txt";
    ASSERT_EQ(
        std::system(("cd '" + warp + "' && zip -q -nw odd.zip " + members + " && rm " + members).c_str()), 0);
    fpga->setWarpFileNames("w[1]line.txt", "w[1]pixel.txt", "w[1]line.txt", "w[1]pixel.txt", "./warp/");
    fpga->setWarpZipFileName("odd.zip");
    ASSERT_EQ(fpga->setDisplayRotation(RIGHT, 1.2f), 0);
    EXPECT_EQ(
        fpga->compareFileToSPI("warp/warpline1.2.txt", LINE_FILE_START_ADDRESS, WARP_LINE_VALUEBITS, RIGHT),
        0);
    EXPECT_EQ(fpga->compareFileToSPI("warp/warppixel1.2.txt", PIXEL_FILE_START_ADDRESS, WARP_PIXEL_VALUEBITS,
                                     RIGHT),
              0);
}

TEST_F(WarpTest, AngleMissingFromTheZipLoadsNothing) {
    generateTables(false);
    board().trace().clear();
    EXPECT_EQ(fpga->setDisplayRotation(LEFT, 2.5f), -1);
    EXPECT_NE(
        log().find("F: rotation files 'warpline2.5.txt' 'warppixel2.5.txt' do not exist in zip 'warp.zip'\n"),
        std::string::npos);
    EXPECT_TRUE(transfers().empty());
    // Without an archive nothing is tried.
    fpga->setWarpZipFileName("none.zip");
    EXPECT_EQ(fpga->setDisplayRotation(LEFT, 2.5f), -1);
    EXPECT_EQ(log().find("try unzipping line file 'warpline2.5.txt'", log().find("none")), std::string::npos);
}

TEST_F(WarpTest, TablesLoadedByOneProgramVerifyInTheNext) {
    generateTables(true);
    ASSERT_EQ(fpga->setDisplayRotation(LEFT, 0), 0);
    fpga.reset();
    // A later program on the same board: its own board object over the shared state.
    auto laterProgram = [&] {
        platform::setBackend(std::make_unique<sim::SimBackend>(
            std::make_unique<sim::Board>(root(), sim::BoardConfig::load(sim::Board::configPath(root())))));
        ostrixFpga later("vp.jic", false);
        later.setWarpFileNames("warpline.txt", "warppixel.txt", "", "", "./warp/");
        exit(later.verifyWarp(LEFT) == 0 &&
                     later.compareFileToSPI("warp/warppixel.txt", PIXEL_FILE_START_ADDRESS, 4, LEFT) == 0
                 ? 0
                 : 1);
    };
    EXPECT_EXIT(laterProgram(), testing::ExitedWithCode(0), "");
    EXPECT_NE(log().find("F: Verify LEFT Warp Line  against './warp/warpline.txt'\n"), std::string::npos);
}

TEST_F(WarpTest, WarpStatusReportFlagsLowHeadroomAndSetFlags) {
    model().setWarpStatus(1, 3, 0, 0);
    fpga->displayWarpDebug();
    std::string l = log();
    EXPECT_NE(
        l.find("Warp L Headroom 32 32 32 32 32 32 32 32 32 32 32 32 32 32 32  Flags 0 0 0 0 0 0 0 0 0 0 0 "
               "0 0 0 0 \n"),
        std::string::npos);
    EXPECT_NE(l.find("Warp R Headroom 32 32 32 0 "), std::string::npos);
    EXPECT_NE(l.find("0 0 0 Warp Buffer Status Error"), std::string::npos);
    // Fifteen reads and the strobe per channel, left first.
    auto t = transfers();
    ASSERT_EQ(t.size(), 34u);
    EXPECT_EQ(t[15].out, bytes({0x5F, 0, 0, 0, 1}));
    EXPECT_EQ(t[16].out, bytes({0x5F, 0, 0, 0, 0}));
    EXPECT_EQ(t[17].out[0], 0xD0);

    model().setWarpStatus(0, 14, 9, 2);
    fpga->displayWarpDebug();
    EXPECT_NE(log().find(" 9  Flags 0 0 0 0 0 0 0 0 0 0 0 0 0 0 2 Warp Buffer Status Error"),
              std::string::npos);
}

TEST(WarpTableParse, FirstLineCommasGiveThePixelsPerLine) {
    std::string line = countingPixelLine();
    ASSERT_EQ(std::count(line.begin(), line.end(), ','), 3839);
    WarpTable t = parseWarpTable(line.data(), line.size(), 4);
    EXPECT_EQ(t.pixelsPerLine, 1920);
    EXPECT_FALSE(t.malformed);
    EXPECT_EQ(t.lines, 1);
    // Cut short: the last group yields fewer values at the end of the file, which ends
    // the table like any end of file.
    WarpTable cut = parseWarpTable(line.data(), 101, 4, 1920);
    EXPECT_FALSE(cut.malformed);
}

} // namespace
