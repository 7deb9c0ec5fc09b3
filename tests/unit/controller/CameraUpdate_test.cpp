// Camera board updates against the simulated board: what its boot loader and its flashes
// received, what they hold afterwards, and how injected faults end an update.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "CameraFixture.h"
#include "controller/camera/CameraUpdate.h"
#include "sim/camera/CameraFlashes.h"

using camera_testing::CameraTest;
using sim::CameraFault;

namespace {

constexpr uint8_t kShortReply = 3; // 0.3 s: how long a test waits for a silent board

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out) {
        b = static_cast<uint8_t>(random());
    }
    return out;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& data) {
    testing_support::writeFile(path, std::string(data.begin(), data.end()));
}

uint32_t byteSum(const std::vector<uint8_t>& data) {
    return std::accumulate(data.begin(), data.end(), 0u);
}

class CameraUpdateTest : public CameraTest {
protected:
    void SetUp() override {
        CameraTest::SetUp();
        CameraBoard::Waits waits;
        waits.powerUpMs = 0;
        waits.wakeOpenMs = 2000;
        waits.wakeSettleMs = 0;
        waits.bootPauseMs = 0;
        waits.restartMs = 0;
        waits.replyCapTenths = kShortReply;
        camera().setWaits(waits);
        camera().setCameraRail([this](bool on) {
            model().setRail(on);
            railSwitches_.push_back(on);
        });
    }

    // Texts of the trace's serial entries: command lines and boot-loader exchanges.
    std::vector<std::string> exchanges() {
        std::vector<std::string> out;
        for (const auto& e : board().trace().entries(sim::TraceKind::Serial)) {
            if (!e.out.empty()) {
                out.push_back(e.text.substr(0, e.text.find(" [")));
            }
        }
        return out;
    }
    size_t countStarting(const std::string& prefix) {
        size_t n = 0;
        for (const std::string& e : exchanges()) {
            n += e.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return n;
    }
    std::vector<uint8_t> ucFlash(size_t n) {
        std::vector<uint8_t> out(n);
        EXPECT_TRUE(model().flashes().ucRead(sim::kUcFlashBase, out.data(), n));
        return out;
    }
    std::vector<uint8_t> channelFlash(int channel, uint32_t address, size_t n) {
        std::vector<uint8_t> out(n);
        EXPECT_TRUE(model().flashes().read(channel, address, out.data(), n));
        return out;
    }

    std::vector<bool> railSwitches_;
};

// ---- Microcontroller firmware -----------------------------------------------------------

TEST_F(CameraUpdateTest, FirmwareOfThreeHundredBytesIsTwoBlocksAfterOneMassEraseAndVerifies) {
    const std::vector<uint8_t> image = randomBytes(300, 1);
    writeBytes("fw.bin", image);
    EXPECT_EQ(camera().update_uC("fw.bin"), CMD_OK);

    EXPECT_EQ(countStarting("UB"), 1u);
    EXPECT_EQ(countStarting("BL EXTENDED_ERASE mass"), 1u);
    std::vector<std::string> writes, reads;
    for (const std::string& e : exchanges()) {
        if (e.rfind("BL WRITE_MEM", 0) == 0) {
            writes.push_back(e);
        }
        if (e.rfind("BL READ_MEM", 0) == 0) {
            reads.push_back(e);
        }
    }
    EXPECT_EQ(writes, (std::vector<std::string>{"BL WRITE_MEM 08000000 256", "BL WRITE_MEM 08000100 44"}));
    EXPECT_EQ(reads, (std::vector<std::string>{"BL READ_MEM 08000000 256", "BL READ_MEM 08000100 44"}));
    EXPECT_EQ(ucFlash(image.size()), image);
    // The board was power-cycled and runs the new firmware, which reports a new version.
    EXPECT_EQ(railSwitches_, (std::vector<bool>{false, true}));
    EXPECT_FALSE(model().inBootLoader());
    uint32_t major = 0, minor = 0;
    camera().firmware_version(&major, &minor);
    EXPECT_EQ(major * 256 + minor, 2u * 256 + 8);
    EXPECT_EQ(camera().setGain(5), CMD_OK);
}

struct FirmwareFault {
    const char* name;
    CameraFault fault;
    int shots, after;
    cmd_results_t expected;
};
// CTest lists the case by its name.
void PrintTo(const FirmwareFault& c, std::ostream* os) {
    *os << c.name;
}

class FirmwareFaultTest : public CameraUpdateTest, public ::testing::WithParamInterface<FirmwareFault> {};

TEST_P(FirmwareFaultTest, FailsThenTheNextRunCompletesTheUpdate) {
    const FirmwareFault& f = GetParam();
    const std::vector<uint8_t> image = randomBytes(1000, 2);
    writeBytes("fw.bin", image);
    model().setFault(f.fault, f.shots, f.after);
    EXPECT_EQ(camera().update_uC("fw.bin"), f.expected);
    EXPECT_EQ(railSwitches_, (std::vector<bool>{false, true})) << "the board is power-cycled in any case";
    EXPECT_NE(log().find("CB:Camera Board OFF\n"), std::string::npos);

    model().setFault(CameraFault::None);
    EXPECT_EQ(camera().update_uC("fw.bin"), CMD_OK);
    EXPECT_EQ(ucFlash(image.size()), image);
    EXPECT_FALSE(model().inBootLoader());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FirmwareFaultTest,
    ::testing::Values(FirmwareFault{"NackOnTheThirdBlock", CameraFault::Nack, 1, 2, CMD_FAILED},
                      FirmwareFault{"SilentFromTheSecondBlock", CameraFault::Stall, 1, 1, CMD_TIMEOUT},
                      // One bit off in one read-back block fails the verify, although
                      // every later block matches.
                      FirmwareFault{"OneBitWrongInTheFirstReadBack", CameraFault::Checksum, 1, 0,
                                    CMD_MISMATCH}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraUpdateTest, ABlankFlashLeavesTheBoardInItsBootLoaderUntilAnUpdateSucceeds) {
    writeBytes("fw.bin", randomBytes(600, 3));
    model().setFault(CameraFault::Nack, 1, 0); // the first block: the flash stays erased
    EXPECT_EQ(camera().update_uC("fw.bin"), CMD_FAILED);
    EXPECT_TRUE(model().inBootLoader()); // no firmware runs to answer commands

    EXPECT_EQ(camera().update_uC("fw.bin"), CMD_OK);
    EXPECT_FALSE(model().inBootLoader());
    EXPECT_EQ(camera().setGain(1), CMD_OK);
}

TEST_F(CameraUpdateTest, UnusableFirmwareFilesAreRefusedWithoutTouchingTheBoard) {
    writeBytes("empty.bin", {});
    writeBytes("huge.bin", std::vector<uint8_t>(sim::kUcFlashSize + 1, 0));
    for (const char* file : {"missing.bin", "empty.bin", "huge.bin"}) {
        clearLines();
        EXPECT_NE(camera().update_uC(file), CMD_OK) << file;
        EXPECT_TRUE(exchanges().empty()) << file;
        EXPECT_TRUE(railSwitches_.empty()) << file;
    }
}

TEST_F(CameraUpdateTest, InvalidBootLoaderArgumentsSendNothing) {
    ASSERT_EQ(camera().enterBootMode(), CMD_OK);
    const uint64_t before = model().bootLoaderBytes();
    uint8_t data[300] = {};
    struct Case {
        uint8_t command;
        uint16_t count;
        uint8_t* data;
    };
    for (const Case& c :
         {Case{BL_WRITE_MEM, 0, data}, Case{BL_WRITE_MEM, 257, data}, Case{BL_READ_MEM, 0, data},
          Case{BL_READ_MEM, 16, nullptr}, Case{BL_EXTEND_ERASE, 33, data}, Case{BL_EXTEND_ERASE, 0, data},
          Case{0x55, 0, nullptr}}) {
        EXPECT_EQ(camera().SendBootModeCommand(c.command, sim::kUcFlashBase, c.count, c.data),
                  CMD_INVALID_PARAM)
            << int(c.command) << " " << c.count;
    }
    EXPECT_EQ(model().bootLoaderBytes(), before);
    // The loader is still in step: a valid command goes through.
    EXPECT_EQ(camera().SendBootModeCommand(BL_GET_ID, 0, 0, nullptr), CMD_OK);
    EXPECT_GT(model().bootLoaderBytes(), before);
}

// ---- Camera FPGA ------------------------------------------------------------------------

std::vector<uint8_t> jicHeader(const std::string& magic = "JIC") {
    std::string h = magic + std::string(15, ' ') + "build 2026-12-01 5CEBA4F23C7 EPCQ128A";
    h.resize(camera_update::kJicHeaderSize, '\0');
    return {h.begin(), h.end()};
}

TEST_F(CameraUpdateTest, BadJicHeadersAndUnsupportedNamesAreRefusedBeforeAnyTraffic) {
    writeBytes("bad.jic", jicHeader("JIX"));
    std::vector<uint8_t> noDevice = jicHeader();
    std::fill(noDevice.begin() + 20, noDevice.end(), ' ');
    writeBytes("nodevice.jic", noDevice);
    const std::vector<uint8_t> header = jicHeader();
    writeBytes("short.jic", std::vector<uint8_t>(header.begin(), header.begin() + 100));
    writeBytes("image.bin", randomBytes(512, 4));
    for (const char* file : {"bad.jic", "nodevice.jic", "short.jic", "image.bin"}) {
        clearLines();
        EXPECT_EQ(camera().update_fpga(file), CMD_FILEERR) << file;
        EXPECT_TRUE(exchanges().empty()) << file;
    }
}

// An image with erased blocks and runs, as an FPGA image is.
std::vector<uint8_t> fpgaImage(size_t blocks) {
    std::vector<uint8_t> image = randomBytes(blocks * 256, 5);
    for (size_t b = 0; b < blocks; b += 3) {
        std::fill(image.begin() + b * 256, image.begin() + b * 256 + 256, 0xFF);
    }
    std::fill(image.begin() + 256 + 10, image.begin() + 256 + 200, 0x00);
    return image;
}

TEST_F(CameraUpdateTest, JicImageIsWrittenBitReversedSkippingErasedBlocksAndTheFpgaRestarts) {
    const std::vector<uint8_t> image = fpgaImage(20);
    std::vector<uint8_t> file = jicHeader();
    file.insert(file.end(), image.begin(), image.end());
    writeBytes("isp.jic", file);
    EXPECT_EQ(camera().update_fpga("isp.jic"), CMD_OK);

    EXPECT_EQ(countStarting("GP"), 1u);
    EXPECT_EQ(countStarting("GW"), 13u); // blocks 0, 3, ... 18 are erased
    EXPECT_EQ(countStarting("GR"), 1u);
    for (int c = 0; c < 2; ++c) {
        std::vector<uint8_t> flash = channelFlash(c, 0, image.size());
        for (size_t i = 0; i < image.size(); ++i) {
            ASSERT_EQ(flash[i], camera_update::reverseBits(image[i])) << "channel " << c << " byte " << i;
        }
    }
    // What the controller adds up: the bit-reversed bytes of the blocks it sent.
    uint32_t expected = 0;
    for (size_t block = 0; block < image.size(); block += 256) {
        auto begin = image.begin() + static_cast<long>(block);
        if (std::any_of(begin, begin + 256, [](uint8_t b) { return b != 0xFF; })) {
            for (auto it = begin; it != begin + 256; ++it) {
                expected += camera_update::reverseBits(*it);
            }
        }
    }
    EXPECT_EQ(model().flashes().imageChecksum(), expected);
    char line[64];
    snprintf(line, sizeof line, "CB: FPGA Checksum expected %08X\n", expected);
    EXPECT_NE(log().find(line), std::string::npos);
    EXPECT_NE(log().find("Camera FPGA Build data build 2026-12-01"), std::string::npos);
    uint32_t version = 0;
    camera().fpga_version(&version);
    EXPECT_EQ(version, 13u);
}

TEST_F(CameraUpdateTest, AnImageLargerThanItsAreaStopsBelowTheBridgeFiles) {
    const std::vector<uint8_t> bridge = randomBytes(64, 6);
    ASSERT_TRUE(model().flashes().program(0, sim::kBridgeAreaBase, bridge.data(), bridge.size()));
    std::vector<uint8_t> image(sim::kBridgeAreaBase + 1024, 0xFF);
    std::fill(image.end() - 1280, image.end(), 0x42); // the last block below the limit, and beyond
    writeBytes("big.rpd", image);
    EXPECT_EQ(camera().update_fpga("big.rpd"), CMD_OK);
    std::vector<std::string> writes;
    for (const std::string& e : exchanges()) {
        if (e.rfind("GW", 0) == 0) {
            writes.push_back(e);
        }
    }
    EXPECT_EQ(writes, std::vector<std::string>{"GW F7FF00"});
    EXPECT_EQ(channelFlash(0, sim::kBridgeAreaBase, bridge.size()), bridge);
}

TEST_F(CameraUpdateTest, AnUnacknowledgedFpgaBlockFailsWithoutARestartAndARerunCompletes) {
    const std::vector<uint8_t> image = fpgaImage(8);
    writeBytes("isp.rbd", image);
    model().setFault(CameraFault::Nack, 1, 1);
    EXPECT_EQ(camera().update_fpga("isp.rbd"), CMD_FAILED);
    EXPECT_EQ(countStarting("GR"), 0u);
    EXPECT_FALSE(camera().port_open());
    uint32_t version = 0;
    camera().fpga_version(&version);
    EXPECT_EQ(version, 12u);

    EXPECT_EQ(camera().update_fpga("isp.rbd"), CMD_OK);
    EXPECT_EQ(channelFlash(1, 256, 256)[0], camera_update::reverseBits(image[256]));
    camera().fpga_version(&version);
    EXPECT_EQ(version, 13u);
}

// Every block acknowledged: the update worked whatever the board answers to the restart.
TEST_F(CameraUpdateTest, TheRestartsReplyIsLoggedButDoesNotFailTheUpdate) {
    const std::vector<uint8_t> image = fpgaImage(2); // block 0 erased, block 1 sent
    writeBytes("isp.rbd", image);
    constexpr int kRepliesBeforeTheRestart = 4; // GP, GW, US, GC
    model().setFault(CameraFault::Bad, 1, kRepliesBeforeTheRestart);
    EXPECT_EQ(camera().update_fpga("isp.rbd"), CMD_OK);
    EXPECT_EQ(countStarting("GR"), 1u);
    EXPECT_NE(log().find("CB: WARNING: no good reply to the FPGA restart"), std::string::npos) << log();
    EXPECT_EQ(channelFlash(0, 256, 1)[0], camera_update::reverseBits(image[256]));
}

// ---- Bridge files -----------------------------------------------------------------------

TEST_F(CameraUpdateTest, ABridgeFileIsStoredBehindItsLengthWordAndCheckedByItsChecksum) {
    const std::vector<uint8_t> algo = randomBytes(1000, 7);
    const std::vector<uint8_t> data = randomBytes(3000, 8);
    writeBytes("Camera_impl1_algo.iea", algo);
    writeBytes("Camera_impl1_data.ied", data);
    EXPECT_EQ(camera().crosslinkFilesToFlash(false), 0);

    std::vector<uint8_t> stored = channelFlash(0, sim::kBridgeAreaBase, 1004);
    EXPECT_EQ(std::vector<uint8_t>(stored.begin(), stored.begin() + 4),
              (std::vector<uint8_t>{0xE8, 0x03, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(stored.begin() + 4, stored.end()), algo);
    EXPECT_EQ(channelFlash(1, sim::kBridgeAreaBase + 4, data.size()), data);
    uint32_t size = 0, sum = 0;
    ASSERT_EQ(camera().getCsum(ALGO, &size, &sum), CMD_OK);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(sum, byteSum(algo) + 0xE8 + 0x03);
    uint32_t xl = 0;
    camera().xl_version(&xl);
    EXPECT_EQ(xl, 4u);

    // Unchanged files are left alone.
    clearLines();
    EXPECT_EQ(camera().crosslinkFilesToFlash(false), 0);
    EXPECT_EQ(countStarting("FLW") + countStarting("FRW") + countStarting("GR"), 0u);
    EXPECT_NE(log().find("CB: NOTE: Crosslink Algo Checksums Match\n"), std::string::npos);
}

TEST_F(CameraUpdateTest, SeventyThousandBytesFromTheBridgeAreaEraseTwoSectorsOnce) {
    writeBytes("big.iea", randomBytes(70000, 9));
    EXPECT_EQ(camera().fileToFlash(LEFT, "big.iea", static_cast<int>(CrosslinkAlgoBaseAddress), 70000), 0);
    std::vector<std::string> erases;
    for (const std::string& e : exchanges()) {
        if (e.rfind("FLES", 0) == 0) {
            erases.push_back(e);
        }
    }
    EXPECT_EQ(erases, (std::vector<std::string>{"FLES f80000", "FLES f90000"}));
    EXPECT_EQ(countStarting("FLW"), (70004u + 255) / 256);
}

struct BridgeFault {
    const char* name;
    CameraFault fault;
    int shots, after;
    int expected;
};
// CTest lists the case by its name.
void PrintTo(const BridgeFault& c, std::ostream* os) {
    *os << c.name;
}

class BridgeFaultTest : public CameraUpdateTest, public ::testing::WithParamInterface<BridgeFault> {};

TEST_P(BridgeFaultTest, FailsWithItsCodeThenTheNextRunCompletes) {
    const BridgeFault& f = GetParam();
    const std::vector<uint8_t> algo = randomBytes(2000, 10);
    writeBytes("Camera_impl1_algo.iea", algo);
    writeBytes("Camera_impl1_data.ied", randomBytes(500, 11));
    model().setFault(f.fault, f.shots, f.after);
    EXPECT_EQ(camera().crosslinkFilesToFlash(false), f.expected);
    EXPECT_FALSE(camera().port_open());

    model().setFault(CameraFault::None);
    if (f.fault == CameraFault::Stall) {
        camera().PowerOff();
        camera().PowerOn(true);
    }
    EXPECT_EQ(camera().crosslinkFilesToFlash(false), 0);
    EXPECT_EQ(channelFlash(0, sim::kBridgeAreaBase + 4, algo.size()), algo);
}

INSTANTIATE_TEST_SUITE_P(Faults, BridgeFaultTest,
                         ::testing::Values(BridgeFault{"NackOnAPage", CameraFault::Nack, 1, 3, -1},
                                           BridgeFault{"SilentMidTransfer", CameraFault::Stall, 1, 2, -1},
                                           // The query answers right, the read-back does not.
                                           BridgeFault{"WrongReadBackChecksum", CameraFault::Checksum, 1, 1,
                                                       -2}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Replies and headers ------------------------------------------------------------------

TEST(CameraUpdateParse, FlashChecksumRepliesMustAnswerTheQuestionAsked) {
    struct Case {
        const char* reply;
        cmd_results_t expected;
    };
    for (const Case& c :
         {Case{"FLC F80000 0003EC 0001ABCD", CMD_OK}, Case{"FLCF800000003EC0001ABCD", CMD_OK},
          Case{"FLC F80000 0003EC 0001ABCD  ", CMD_OK}, Case{"FRC F80000 0003EC 0001ABCD", CMD_BAD},
          Case{"FLC F80000 0003ED 0001ABCD", CMD_BAD}, Case{"FLC F80000 0003EC 0001abcd", CMD_HEX},
          Case{"FLC F80000 0003EC 0001AB", CMD_LENGTH}, Case{"FLC F80000 0003EC 0001ABCD x", CMD_BAD},
          Case{"FL", CMD_BAD}}) {
        uint32_t sum = 7;
        EXPECT_EQ(camera_update::parseFlashChecksum(c.reply, strlen(c.reply), 'L', 0xF80000, 0x3EC, &sum),
                  c.expected)
            << c.reply;
        EXPECT_EQ(sum, c.expected == CMD_OK ? 0x1ABCDu : 7u) << c.reply;
    }
    uint32_t size = 0, sum = 0;
    EXPECT_EQ(camera_update::parseCrosslinkChecksum("XDC 0001ABCD 000003E8", 21, 'D', &size, &sum), CMD_OK);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(sum, 0x1ABCDu);
    EXPECT_EQ(camera_update::parseCrosslinkChecksum("XAC 0001ABCD 000003E8", 21, 'D', &size, &sum), CMD_BAD);
}

TEST(CameraUpdateParse, JicMarkersCountOnlyInsideTheHeader) {
    std::vector<uint8_t> h = jicHeader();
    EXPECT_TRUE(camera_update::jicHeaderGood(h.data(), h.size()));
    // A zero byte before the markers does not hide them: the header is not a C string.
    h[5] = 0;
    EXPECT_TRUE(camera_update::jicHeaderGood(h.data(), h.size()));
    std::vector<uint8_t> late(camera_update::kJicHeaderSize, ' ');
    std::copy_n("JIC", 3, late.begin());
    const std::string markers = "5CEBA4 EPCQ128A";
    late.insert(late.end(), markers.begin(), markers.end());
    EXPECT_FALSE(camera_update::jicHeaderGood(late.data(), late.size()));
    EXPECT_EQ(camera_update::reverseBits(0x01), 0x80);
    EXPECT_EQ(camera_update::reverseBits(0xC4), 0x23);
}

} // namespace
