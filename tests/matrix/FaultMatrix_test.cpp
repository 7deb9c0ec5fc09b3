// Every chip the board can lose, failing at start-up and again at wake-up, with both
// programs running: the controller still reaches its main loop and keeps it, logs the
// fault without flooding the log, the GUI keeps answering, and nothing the user stored
// (settings and presets, alignment) changes.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/CommsMessage.h"
#include "common/messages.h"
#include "tests/support/EndToEnd.h"
#include "tests/unit/link/UdpPeer.h"

namespace {

using testing_support::contains;
using testing_support::OstrixPiProcess;
using testing_support::readFile;
using testing_support::waitUntil;
using testing_support::writeFile;

// A chip failing on every pass of a 10 ms loop would write hundreds of lines here; a
// fault's summary comes at most every 5 s and does not count.
constexpr auto kQuietWindow = std::chrono::seconds(3);
constexpr size_t kMostErrorLinesInWindow = 4;
constexpr const char* kSummary = " ... repeated ";
constexpr auto kStandbyGuard = std::chrono::milliseconds(5500);
// A wake-up waits for the camera board to boot, and two cases may run side by side.
constexpr auto kWakeUpLimit = std::chrono::seconds(150);
constexpr const char* kImageFormatSent = "MAIN: send Image Format";
constexpr const char* kDisplayTaken = "MAIN: Command : 'display'";
constexpr const char* kGuiProcessed = "GUI: ProcessCommand";

// The held line is the bus's own fault: every chip on it fails at once.
constexpr const char* kHeldLine = "held SDA";
// The same run with every chip answering: what the other rows are measured against.
constexpr const char* kNoFault = "no fault";

// The KEY=VALUE lines of a settings file.
std::map<std::string, std::string> values(const std::string& text) {
    std::map<std::string, std::string> found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            found[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return found;
}

struct ChipFault {
    const char* part;
    const char* bus; // nullptr: the bus lines themselves
    const char* address;
    const char* atStartUp; // nack (the chip is absent), read or write
    const char* atWakeUp;
};

constexpr ChipFault kFaults[] = {
    {"power manager", "3", "0x5c", "nack", "read"},
    {"lighting DAC", "5", "0x10", "write", "nack"},
    {"lighting expander", "5", "0x20", "read", "write"},
    {"audio codec", "6", "0x18", "nack", "write"},
    {"clock generator", "0", "0x60", "write", "nack"},
    {"front panel", "7", "0x20", "read", "nack"},
    {"left bridge", "2", "0x28", "nack", "write"},
    {"right bridge", "1", "0x28", "write", "read"},
    {"left HDMI receiver", "2", "0x4c", "read", "nack"},
    {"right HDMI receiver", "1", "0x4c", "nack", "read"},
    {"left HDMI transmitter", "2", "0x39", "write", "read"},
    {"right HDMI transmitter", "1", "0x39", "read", "write"},
    {kHeldLine, nullptr, nullptr, "hold", "hold"},
    {kNoFault, nullptr, nullptr, nullptr, nullptr},
};

// What the user stored before the fault: alignment values of their own, and the GUI's
// settings with its presets.
constexpr const char* kAlignment = "[WARP]\n"
                                   "WarpPixelSourceOffsetLeft = 3\n"
                                   "WarpPixelSourceOffsetRight = -2\n"
                                   "WarpLineSourceOffsetLeft = 1\n"
                                   "WarpLineSourceOffsetRight = 0\n"
                                   "WarpRotationLeft = 0\n"
                                   "WarpRotationRight = 4\n"
                                   "separation = 7\n"
                                   "[BACKLIGHT]\n"
                                   "BacklightScaleLeft = 95\n"
                                   "BacklightScaleRight = 90\n";

class FaultMatrix : public testing_support::EndToEndTest, public ::testing::WithParamInterface<ChipFault> {
protected:
    std::string configuration() const override { return readFile(OSTRIX_SOURCE_DIR "/resources/ostrix.cfg"); }

    void SetUp() override {
        EndToEndTest::SetUp();
        prepareGui(readFile(OSTRIX_SOURCE_DIR "/resources/QLM_FACTORY.settings"));
        installColourCorrection();
        writeFile(alignmentFile(), kAlignment);
        // No camera board: its boot and settle take 20 s of every wake-up, and its own
        // faults have tests of their own.
        sim::BoardConfig options = sim::BoardConfig::load(sim::Board::configPath(root()));
        options.set("camera.fitted", "no");
        ASSERT_TRUE(options.save(sim::Board::configPath(root())));
    }

    std::string alignmentFile() const { return home() + "/qlm-align.cfg"; }
    std::string settingsFile() const { return guiFolder() + "/QLM_GUI.settings"; }

    bool inject(const char* kind) const {
        const ChipFault& f = GetParam();
        if (!kind) {
            return true;
        }
        if (!f.bus) {
            return sim({"i2c", "hold", "sda"}) == 0;
        }
        return sim({"i2c", "fail", f.bus, f.address, kind, "all", "always"}) == 0;
    }
    // The log's errors, one to a line: an error line has no newline of its own in the file.
    static std::string errorLines(const std::string& log) {
        std::string lines;
        for (size_t at = log.find("ERROR"); at != std::string::npos && lines.size() < kMostShown;
             at = log.find("ERROR", at + 1)) {
            lines += log.substr(at, std::min(log.find(" > ", at), log.find('\n', at)) - at) + "\n";
        }
        return lines;
    }
    static constexpr size_t kMostShown = 4000;

    bool clear() const { return sim({"i2c", "release"}) == 0 && sim({"i2c", "clear"}) == 0; }

    // The controller's log over a few seconds of its loop holds no more than a handful of
    // error lines besides the summaries.
    static ::testing::AssertionResult quiet(OstrixPiProcess& controller) {
        const size_t before = controller.log().size();
        std::this_thread::sleep_for(kQuietWindow);
        const std::string window = controller.log().substr(before);
        const size_t errors =
            OstrixPiProcess::count(window, "ERROR") - OstrixPiProcess::count(window, kSummary);
        if (errors <= kMostErrorLinesInWindow) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << errors << " error lines in " << kQuietWindow.count() << " s:\n"
               << errorLines(window);
    }

    // The controller's loop takes a command-file word, and the GUI processes a message on
    // its port. Neither needs a chip: with the power manager gone the USB ports have no
    // power and the front panel may be the failing chip.
    ::testing::AssertionResult answering(OstrixPiProcess& controller, OstrixPiProcess& gui) const {
        const size_t taken = OstrixPiProcess::count(controller.log(), kDisplayTaken);
        if (!command("display 0") || !controller.waitForLog(kDisplayTaken, taken + 1)) {
            return ::testing::AssertionFailure() << "the controller did not take a command";
        }
        const size_t processed = OstrixPiProcess::count(gui.console(), kGuiProcessed);
        UdpPeer peer;
        peer.sendMessage(GUI_PORT, tEV_VERSIONINFO, 0);
        if (!waitUntil([&] { return OstrixPiProcess::count(gui.console(), kGuiProcessed) > processed; })) {
            return ::testing::AssertionFailure() << "the GUI did not process a message";
        }
        return ::testing::AssertionSuccess();
    }

    bool command(const std::string& word) const {
        writeFile(home() + "/command", word + "\n");
        return waitUntil([&] { return !std::filesystem::exists(home() + "/command"); });
    }

    bool inStandby() const {
        std::string power;
        return sim({"power"}, &power) == 0 && contains(power, "\"state\":\"standby\"");
    }

    // Past the standby guard, a wake-up runs to its end: the image format goes to the GUI.
    bool wakeUp(OstrixPiProcess& controller) const {
        const size_t formats = OstrixPiProcess::count(controller.log(), kImageFormatSent);
        std::this_thread::sleep_for(kStandbyGuard);
        const bool waking = waitUntil([&] {
            return command("wakeup") && controller.waitForLog("Waking Up\n", 1, std::chrono::seconds(2));
        });
        return waking && controller.waitForLog(kImageFormatSent, formats + 1, kWakeUpLimit);
    }
};

TEST_P(FaultMatrix, ControllerRunsOnQuietlyAndTheUsersFilesStay) {
    const ChipFault& fault = GetParam();
    const std::string settings = readFile(settingsFile());

    auto gui = startGui();
    ASSERT_TRUE(guiAnnounced(*gui));
    ASSERT_TRUE(inject(fault.atStartUp));
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));
    if (fault.atStartUp) {
        EXPECT_TRUE(contains(controller->log(), "ERROR")) << "the fault was not logged";
    }
    EXPECT_TRUE(quiet(*controller)) << "at start-up";
    EXPECT_TRUE(answering(*controller, *gui)) << "at start-up";

    ASSERT_TRUE(clear());
    ASSERT_TRUE(command("standby"));
    ASSERT_TRUE(controller->waitForLog("MAIN: Going to Sleep\n")) << controller->log();
    ASSERT_TRUE(waitUntil([&] { return inStandby(); }));
    const size_t errorsBefore = OstrixPiProcess::count(controller->log(), "ERROR");
    ASSERT_TRUE(inject(fault.atWakeUp));
    ASSERT_TRUE(wakeUp(*controller)) << controller->log();
    if (fault.atWakeUp) {
        EXPECT_GT(OstrixPiProcess::count(controller->log(), "ERROR"), errorsBefore)
            << "the fault was not logged";
    }
    EXPECT_TRUE(quiet(*controller)) << "at wake-up";
    EXPECT_TRUE(answering(*controller, *gui)) << "at wake-up";

    EXPECT_TRUE(controller->running());
    EXPECT_EQ(controller->stop(), 0);
    EXPECT_EQ(gui->stop(), 0);
    EXPECT_EQ(readFile(alignmentFile()), kAlignment);
    // The GUI writes its file in full; every value the user had stays as it was.
    const std::map<std::string, std::string> after = values(readFile(settingsFile()));
    for (const auto& [key, value] : values(settings)) {
        const auto found = after.find(key);
        EXPECT_TRUE(found != after.end() && found->second == value) << key << " was " << value;
    }
}

void PrintTo(const ChipFault& fault, std::ostream* out) {
    *out << fault.part;
    if (fault.atStartUp) {
        *out << " (" << fault.atStartUp << " at start-up, " << fault.atWakeUp << " at wake-up)";
    }
}

std::string rowName(const ::testing::TestParamInfo<ChipFault>& info) {
    std::string name;
    for (const char* c = info.param.part; *c; ++c) {
        if (isalnum(static_cast<unsigned char>(*c))) {
            name += *c;
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryChip, FaultMatrix, ::testing::ValuesIn(kFaults), rowName);

} // namespace
