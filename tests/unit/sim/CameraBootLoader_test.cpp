// The simulated camera board's boot loader and flashes, driven byte by byte as the link
// would drive them, and its flash commands as command lines.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "TempRoot.h"
#include "sim/board/Board.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/camera/CameraBootLoader.h"
#include "sim/camera/CameraFlashes.h"
#include "sim/camera/CameraProtocol.h"

namespace {

using namespace sim::bootloader;

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

const std::string ack = bytes({kAck});
const std::string nack = bytes({kNack});

class BootLoaderTest : public testing_support::SimBoardTest {
protected:
    void configure(sim::BoardBuilder& builder) override {
        builder.withCameraBootMs(0).withManualCameraRail(true);
    }
    void SetUp() override {
        SimBoardTest::SetUp();
        model_ = board().find<sim::CameraBoardModel>();
        ASSERT_NE(model_, nullptr);
    }
    sim::CameraBoardModel& model() { return *model_; }

    // One command line as the firmware receives it; its reply.
    std::string line(const std::string& text) {
        sim::CameraLineParser parser;
        std::vector<sim::CameraCommand> commands;
        const std::string raw = "$" + text + "\n";
        parser.feed(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), commands);
        int64_t babble = 0;
        return commands.empty() ? "" : model().handle(commands[0], "115200 even", babble);
    }
    // Bytes to the boot loader; what it answered.
    std::string send(const std::string& in) {
        std::string reply;
        for (char c : in) {
            EXPECT_TRUE(model().bootLoaderByte(static_cast<uint8_t>(c), reply));
        }
        return reply;
    }
    std::string address(uint32_t a) {
        std::string s = bytes({int(a >> 24), int(a >> 16 & 0xFF), int(a >> 8 & 0xFF), int(a & 0xFF)});
        return s + static_cast<char>(s[0] ^ s[1] ^ s[2] ^ s[3]);
    }
    void enterBootLoader() {
        EXPECT_EQ(line("UB"), "");
        ASSERT_TRUE(model().inBootLoader());
        ASSERT_EQ(send(bytes({0x7F})), ack);
    }

private:
    sim::CameraBoardModel* model_ = nullptr;
};

TEST_F(BootLoaderTest, TheFirmwareAnswersUntilItHandsTheLinkOver) {
    std::string reply;
    EXPECT_FALSE(model().bootLoaderByte(0x7F, reply));
    enterBootLoader();
    // GET lists the commands, GET_ID the product; GET_VERSION has no length byte: the
    // version and two option bytes.
    EXPECT_EQ(send(bytes({kGet, 0xFF})),
              ack + bytes({7, kProtocolVersion, 0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x44}) + ack);
    EXPECT_EQ(send(bytes({kGetId, 0xFD})), ack + bytes({1, 0x04, 0x48}) + ack);
    EXPECT_EQ(send(bytes({kGetVersion, 0xFE})), ack + bytes({kProtocolVersion, 0x00, 0x00}) + ack);
    // A wrong complement, or a command the loader lacks.
    EXPECT_EQ(send(bytes({kGet, 0xFE})), nack);
    EXPECT_EQ(send(bytes({0x63, 0x9C})), nack) << "write protection is not offered";
}

TEST_F(BootLoaderTest, WritesNeedTheirChecksumAndOnlyClearBits) {
    enterBootLoader();
    EXPECT_EQ(send(bytes({kExtendedErase, 0xBB, 0xFF, 0xFF, 0x00})), ack + ack);
    const std::string write = bytes({kWriteMemory, 0xCE}) + address(0x08000010);
    // Two bytes 0x0F 0xF0: count 1, checksum 1 ^ 0x0F ^ 0xF0.
    EXPECT_EQ(send(write), ack + ack);
    EXPECT_EQ(send(bytes({1, 0x0F, 0xF0, 0x00})), nack) << "wrong checksum";
    EXPECT_EQ(send(write + bytes({1, 0x0F, 0xF0, 0xFE})), ack + ack + ack);
    EXPECT_EQ(send(write + bytes({1, 0xF0, 0xFF, 0x0E})), ack + ack + ack);
    EXPECT_EQ(send(bytes({kReadMemory, 0xEE}) + address(0x08000010) + bytes({1, 0xFE})),
              ack + ack + ack + bytes({0x00, 0xF0}));
    // Outside the flash.
    EXPECT_EQ(send(bytes({kReadMemory, 0xEE}) + address(0x20000000)), ack + nack);
    EXPECT_EQ(send(bytes({kReadMemory, 0xEE}) + address(0x0801FFFF) + bytes({1, 0xFE})), ack + ack + nack);
}

TEST_F(BootLoaderTest, ABlankFirmwareKeepsTheBootLoaderAcrossPowerCyclesAndGoStartsANewOne) {
    enterBootLoader();
    EXPECT_EQ(send(bytes({kExtendedErase, 0xBB, 0xFF, 0xFF, 0x00})), ack + ack);
    model().setRail(false);
    model().setRail(true);
    EXPECT_TRUE(model().inBootLoader());
    EXPECT_EQ(line("UV"), "") << "no firmware answers";
    EXPECT_EQ(send(bytes({0x7F, kWriteMemory, 0xCE}) + address(0x08000000) + bytes({0, 0x42, 0x42})),
              ack + ack + ack + ack);
    EXPECT_EQ(send(bytes({kGo, 0xDE}) + address(0x08000000)), ack + ack);
    EXPECT_FALSE(model().inBootLoader());
    EXPECT_EQ(line("UV"), "#UV 02 08\n");
}

TEST_F(BootLoaderTest, FlashesKeepTheirContentsAcrossBoardsAndStaySparse) {
    EXPECT_EQ(line("FRES f80000"), "#OK\n");
    EXPECT_EQ(line("FRES f80001"), "#BAD\n") << "not a sector";
    sim::CameraCommand page;
    page.text = "FRW F80000";
    page.payload = {0x04, 0x00, 0x00, 0x00, 1, 2, 3, 4};
    int64_t babble = 0;
    EXPECT_EQ(model().handle(page, "115200 even", babble), "#OK\n");
    EXPECT_EQ(line("FRC F80000 000008"), "#FRC F80000 000008 0000000E\n");
    EXPECT_EQ(line("XDC"), "#XDC 0000000E 00000004\n");
    EXPECT_EQ(line("XAC"), "#XAC 00000000 00000000\n") << "nothing stored on the left";
    EXPECT_EQ(line("GR"), "#OK\n");
    EXPECT_EQ(line("XV"), "#XV 04\n");

    // Another program's board sees the same flash.
    sim::Board other(root(), sim::BoardConfig::load(sim::Board::configPath(root())));
    uint8_t got[8] = {};
    ASSERT_TRUE(other.find<sim::CameraBoardModel>()->flashes().read(1, 0xF80000, got, sizeof got));
    EXPECT_EQ(std::vector<uint8_t>(got, got + 8), page.payload);
    struct stat st {};
    ASSERT_EQ(stat(model().flashes().channelPath(1).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 16 * 1024 * 1024);
    EXPECT_LT(st.st_blocks * 512, 1024 * 1024) << "a mostly erased flash takes little disk space";
}

TEST_F(BootLoaderTest, FlashFaultsAreCountedInBlockWritesAndChecksums) {
    ASSERT_TRUE(board().execute({"camera", "fault", "nack", "1", "1"}).ok);
    sim::CameraCommand page;
    page.text = "GW 000000";
    page.payload = {1, 2, 3};
    int64_t babble = 0;
    EXPECT_EQ(line("GP"), "#OK\n") << "not a block write";
    EXPECT_EQ(model().handle(page, "115200 even", babble), "#OK\n");
    EXPECT_EQ(model().handle(page, "115200 even", babble), "#BAD\n");
    EXPECT_EQ(model().handle(page, "115200 even", babble), "#OK\n");

    ASSERT_TRUE(board().execute({"camera", "fault", "checksum", "1"}).ok);
    EXPECT_EQ(line("FLC 000000 000003"), "#FLC 000000 000003 00000007\n");
    EXPECT_EQ(line("FLC 000000 000003"), "#FLC 000000 000003 00000006\n");

    ASSERT_TRUE(board().execute({"camera", "fault", "stall", "0", "0"}).ok);
    EXPECT_EQ(model().handle(page, "115200 even", babble), "");
    EXPECT_EQ(line("UV"), "") << "silent until power-cycled";
    model().setRail(false);
    model().setRail(true);
    EXPECT_EQ(line("UV"), "#UV 02 07\n");
    EXPECT_NE(board().statusJson().find("\"boot_loader\":false"), std::string::npos);
}

// The checksum "GC" reports is what the controller adds up as it sends the image: the
// blocks it sent, a short last block without the erased rest of its page.
TEST_F(BootLoaderTest, ImageChecksumLeavesOutTheErasedTailOfAShortLastBlock) {
    int64_t babble = 0;
    EXPECT_EQ(line("GP"), "#OK\n");
    sim::CameraCommand block;
    block.text = "GW 000000";
    block.payload.assign(256, 0x10);
    EXPECT_EQ(model().handle(block, "115200 even", babble), "#OK\n");
    block.text = "GW 000200"; // the block between was all 0xFF and skipped
    block.payload.assign(3, 0x01);
    EXPECT_EQ(model().handle(block, "115200 even", babble), "#OK\n");
    EXPECT_EQ(line("GC"), "#GC 00001003\n"); // 256 x 0x10 + 3 x 0x01
}

// The firmware reads each hexadecimal field in the width and case the controller prints.
struct FieldCase {
    const char* line;
    bool accepted;
};

class CameraFieldFormat : public BootLoaderTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(CameraFieldFormat, FieldsOfAnotherWidthOrCaseAreRefused) {
    EXPECT_EQ(line(GetParam().line), GetParam().accepted ? "#OK\n" : "#BAD\n") << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(Camera, CameraFieldFormat,
                         ::testing::Values(FieldCase{"CG 1A", true}, FieldCase{"CG 1a", false},
                                           FieldCase{"CG A", false}, FieldCase{"CG 123", true},
                                           FieldCase{"CG 0123", false}, FieldCase{"UI 1a", true},
                                           FieldCase{"UI 1A", false}, FieldCase{"UHE 1", true},
                                           FieldCase{"UHE 01", false}, FieldCase{"CDE 0000001e", true},
                                           FieldCase{"CDE 1e", false}, FieldCase{"CDE 0000001E", false},
                                           FieldCase{"UHW 01 00b4", true}, FieldCase{"UHW 01 b4", false},
                                           FieldCase{"CRLW 308c 02", true}, FieldCase{"CRLW 308C 02", false},
                                           FieldCase{"FRES f80000", true}, FieldCase{"FRES F80000", false},
                                           FieldCase{"FRES 0f80000", false}));

} // namespace
