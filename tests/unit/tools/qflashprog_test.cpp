// The configuration-flash programmer against the simulated flash on its GPIO lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ToolsFixture.h"
#include "platform/wiringPi.h"
#include "tools/qflashprog/qflashprog.h"

namespace {

using testing_support::readFile;
using testing_support::writeFile;

constexpr uint32_t kPage = 256;
constexpr int kFailed = 255; // exit status -1

std::vector<uint8_t> reversed(const std::string& s) {
    std::vector<uint8_t> out;
    for (unsigned char c : s) {
        out.push_back(reverseBits(c));
    }
    return out;
}

// A file of `n` bytes counting up from `first` (never 0xFF, so every page is programmed).
std::string counting(size_t n, int first = 0) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += static_cast<char>((first + i) % 0xFF);
    }
    return s;
}

std::string jicWithMarkerAt(size_t offset, const std::string& image) {
    std::string s(offset, '\x11');
    return s + "\xAF\xA6\xA6\xA6" + image;
}

class QFlashProgTest : public ToolsTest {
protected:
    int qflashprog(std::vector<std::string> args, FlashWaits waits = {}) {
        args.insert(args.begin(), "qflashprog");
        return run([waits](int argc, char** argv) { return qflashprog_main(argc, argv, waits); }, args);
    }
    // Page program commands seen, by address.
    std::vector<uint32_t> programmedPages() {
        std::vector<uint32_t> pages;
        for (auto& e : flashCommands()) {
            if (e.out.size() > 4 && e.out[0] == sim::flash_cmd::kPageProgram) {
                pages.push_back((uint32_t(e.out[1]) << 16) | (uint32_t(e.out[2]) << 8) | e.out[3]);
            }
        }
        return pages;
    }
    size_t count(uint8_t instruction) {
        size_t n = 0;
        for (auto& e : flashCommands()) {
            n += !e.out.empty() && e.out[0] == instruction;
        }
        return n;
    }
};

struct ProgramCase {
    const char* name;
    std::string file;
    std::string content;
    std::vector<uint32_t> pages; // page program addresses expected
    uint32_t imageStart;         // where the image data starts in the file
};
// CTest lists the case by its name.
void PrintTo(const ProgramCase& c, std::ostream* os) {
    *os << c.name;
}

class ProgramTest : public QFlashProgTest, public testing::WithParamInterface<ProgramCase> {};

TEST_P(ProgramTest, FlashHoldsTheImageBitReversedAndErasedElsewhere) {
    const ProgramCase& c = GetParam();
    writeFile(home() + "/" + c.file, c.content);
    board().trace().clear();
    ASSERT_EQ(qflashprog({"-p", c.file}), 0) << output_;
    EXPECT_EQ(programmedPages(), c.pages);
    EXPECT_EQ(count(sim::flash_cmd::kBulkErase), 1u);
    const std::string image = c.content.substr(c.imageStart);
    const auto imageSize = static_cast<uint32_t>(image.size());
    EXPECT_EQ(flash().bytes(0, imageSize), reversed(image));
    const uint32_t used = (imageSize + kPage - 1) / kPage * kPage + kPage;
    EXPECT_EQ(flash().bytes(imageSize, used - imageSize), std::vector<uint8_t>(used - imageSize, 0xFF));
    EXPECT_NE(output_.find(" EEPROM programming Completed Successfully\n"), std::string::npos);
    // The FPGA was let configure from the new image.
    EXPECT_NE(output_.find("\nCONF_DONE = 1\n"), std::string::npos) << output_;
    EXPECT_TRUE(fpga().configured());
}

INSTANTIATE_TEST_SUITE_P(
    Images, ProgramTest,
    testing::Values(
        ProgramCase{"ShortLastPage", "raw.rpd", counting(300), {0, kPage}, 0},
        ProgramCase{"ErasedPageSkipped",
                    "gap.rpd",
                    counting(kPage) + std::string(kPage, '\xFF') + counting(10),
                    {0, 2 * kPage},
                    0},
        ProgramCase{"JicMarkerAt160", "image.jic", jicWithMarkerAt(160, counting(40)), {0}, 160},
        ProgramCase{
            "JicMarkerAt507", "late.jic", jicWithMarkerAt(507, counting(600)), {0, kPage, 2 * kPage}, 507}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QFlashProgTest, FileByteOneIsStoredAsEightyAndReadBackAsOne) {
    writeFile(home() + "/one.rpd", std::string(1, '\x01'));
    ASSERT_EQ(qflashprog({"-p", "one.rpd"}), 0) << output_;
    EXPECT_EQ(flash().bytes(0, 2), (std::vector<uint8_t>{0x80, 0xFF}));
    ASSERT_EQ(qflashprog({"-v", "one.rpd"}), 0) << output_;
    EXPECT_NE(output_.find("PASS\n"), std::string::npos);
}

TEST_F(QFlashProgTest, ProgramAndVerifyOfAJicUseTheSameStart) {
    writeFile(home() + "/both.jic", jicWithMarkerAt(300, counting(1000, 7)));
    EXPECT_EQ(qflashprog({"both.jic"}), 0) << output_;
    EXPECT_NE(output_.find("Found JIC header at offset 300\n"), std::string::npos);
    EXPECT_NE(output_.find(" EEPROM Verification Completed Successfully\n"), std::string::npos);
}

TEST_F(QFlashProgTest, VerifyMismatchRetriesTwiceThenFails) {
    writeFile(home() + "/v.rpd", counting(600));
    ASSERT_EQ(qflashprog({"-p", "v.rpd"}), 0);
    flash().setBytes(kPage + 3, {0x00});
    EXPECT_EQ(qflashprog({"-v", "v.rpd"}), kFailed);
    EXPECT_NE(output_.find(" ERROR: Verify mismatch in block at address 000100\n(expected/found)\n"),
              std::string::npos);
    // File bytes 256.. count 1, 2, 3, ...; the flash now reads 0 in place of the 4.
    EXPECT_NE(output_.find("01/01 02/02 03/03 04/00 05/05 06/06 07/07 08/08  diffs 1\n"), std::string::npos)
        << output_;
    EXPECT_NE(output_.find("RETRY\n", output_.find("RETRY\n") + 1), std::string::npos);
    EXPECT_NE(output_.find("FAILED\n EEPROM Verification FAILED with error 1\n"), std::string::npos);
}

TEST_F(QFlashProgTest, JicWithoutMarkerIsRefusedBeforeTheFlashIsErased) {
    const auto before = flash().bytes(0, kPage);
    writeFile(home() + "/nomark.jic", std::string(2000, '\x22'));
    board().trace().clear();
    EXPECT_EQ(qflashprog({"-p", "nomark.jic"}), kFailed);
    EXPECT_NE(output_.find(" EEPROM programming FAILED with error 4\n"), std::string::npos) << output_;
    EXPECT_EQ(count(sim::flash_cmd::kBulkErase), 0u);
    EXPECT_EQ(flash().bytes(0, kPage), before);
    EXPECT_EQ(qflashprog({"-v", "nomark.jic"}), kFailed);
}

// An image with nothing to program would leave an erased flash behind a report of success.
TEST_F(QFlashProgTest, AnEmptyOrErasedImageIsRefusedBeforeTheFlashIsErased) {
    const auto before = flash().bytes(0, kPage);
    for (const auto& [name, content] : {std::pair<std::string, std::string>{"empty.rpd", ""},
                                        {"erased.rpd", std::string(3 * kPage, '\xFF')}}) {
        SCOPED_TRACE(name);
        writeFile(home() + "/" + name, content);
        board().trace().clear();
        EXPECT_EQ(qflashprog({"-p", name}), kFailed);
        EXPECT_NE(output_.find(" EEPROM programming FAILED with error 5\n"), std::string::npos) << output_;
        EXPECT_EQ(count(sim::flash_cmd::kBulkErase), 0u);
        EXPECT_EQ(flash().bytes(0, kPage), before);
    }
}

struct FaultCase {
    const char* name;
    const char* command; // ostrix-sim flash fault
    const char* message;
    int exitStatus;
};
// CTest lists the case by its name.
void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FlashFaultTest : public QFlashProgTest, public testing::WithParamInterface<FaultCase> {};

// No page is ever programmed on a flash that failed its erase, never finished it or is
// not there at all; erasing alone reports the erase's result.
TEST_P(FlashFaultTest, ProgrammingNeverStarts) {
    const FaultCase& c = GetParam();
    ASSERT_TRUE(board().execute({"flash", c.command, "yes"}).ok);
    writeFile(home() + "/f.rpd", counting(700));
    board().trace().clear();
    const FlashWaits shortWaits{200, 200, 100};
    EXPECT_EQ(qflashprog({"f.rpd"}, shortWaits), kFailed);
    EXPECT_NE(output_.find(c.message), std::string::npos) << output_;
    EXPECT_TRUE(programmedPages().empty());
    EXPECT_EQ(qflashprog({"-e"}, shortWaits), c.exitStatus) << output_;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlashFaultTest,
    testing::Values(FaultCase{"EraseError", "erase-error", " ERROR: whilst erasing EEPROM\n", 0x20},
                    FaultCase{"StuckBusy", "busy-stuck", " ERROR: flash still busy after 200 ms\n", 0x01},
                    FaultCase{"NoFlash", "absent", "RDID 00 00 00\n", kFailed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QFlashProgTest, ProgramErrorFailsAtTheFirstPage) {
    ASSERT_TRUE(board().execute({"flash", "program-error", "yes"}).ok);
    writeFile(home() + "/p.rpd", counting(700));
    board().trace().clear();
    EXPECT_EQ(qflashprog({"p.rpd"}), kFailed);
    EXPECT_NE(output_.find("FAILED\n EEPROM programming FAILED with error 3\n"), std::string::npos)
        << output_;
    EXPECT_EQ(programmedPages(), std::vector<uint32_t>{0});
}

TEST_F(QFlashProgTest, ReadBackStopsAfterTheLastProgrammedPageAndNeverWrites) {
    flash().eraseAll();
    const std::vector<uint8_t> data = {0x80, 0x40, 0xFF, 0x01};
    flash().setBytes(0x10, data);
    flash().setBytes(0x123400, data);
    board().trace().clear();
    ASSERT_EQ(qflashprog({"-r", "back.bin"}), 0);
    const std::string back = readFile(home() + "/back.bin");
    ASSERT_EQ(back.size(), 0x123500u);
    EXPECT_EQ(back.substr(0x10, 4), std::string("\x01\x02\xFF\x80", 4));
    EXPECT_EQ(back.substr(0x123400, 4), std::string("\x01\x02\xFF\x80", 4));
    EXPECT_EQ(back.substr(0x100, 0x100), std::string(0x100, '\xFF'));
    EXPECT_EQ(count(sim::flash_cmd::kBulkErase) + count(sim::flash_cmd::kPageProgram), 0u);
}

TEST_F(QFlashProgTest, ErasedFlashLeavesTheFpgaUnconfiguredUntilProgrammedAgain) {
    ASSERT_TRUE(fpga().configured());
    ASSERT_EQ(qflashprog({"-e"}), 0) << output_;
    EXPECT_NE(output_.find("done res=00\n"), std::string::npos);
    EXPECT_EQ(flash().usedBytes(), 0u);
    board().powerCycle();
    EXPECT_FALSE(fpga().configured());
    writeFile(home() + "/back.rpd", counting(5000));
    ASSERT_EQ(qflashprog({"-p", "back.rpd"}), 0) << output_;
    EXPECT_TRUE(fpga().configured());
    EXPECT_EQ(digitalRead(sim::kConfDonePin), HIGH);
}

TEST_F(QFlashProgTest, MalformedCommandLinesPrintTheUsage) {
    writeFile(home() + "/x.rpd", "x");
    const std::vector<std::vector<std::string>> lines = {{},
                                                         {"-?"},
                                                         {"-p"},
                                                         {"-x", "x.rpd"},
                                                         {"-e", "x.rpd"},
                                                         {"x.rpd", "y"},
                                                         {"-p", "x.rpd", "z"},
                                                         {"-pp", "x.rpd"}};
    for (const auto& line : lines) {
        EXPECT_EQ(qflashprog(line), kFailed);
        EXPECT_NE(output_.find("Useage: qflashprog -e                   - erase entire prom\n"),
                  std::string::npos);
        EXPECT_NE(output_.find("   qflashprog/256 Programming Utility v3.3\n"), std::string::npos);
    }
    EXPECT_TRUE(flashCommands().empty());
    EXPECT_EQ(qflashprog({"-v", "missing.rpd"}), kFailed);
    EXPECT_NE(output_.find(" ERROR: configfile not found\n"), std::string::npos);
}

} // namespace
