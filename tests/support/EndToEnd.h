// End-to-end tests: the real programs on a simulated board in a fresh system root, driven
// from outside as a user or a service script drives them (ostrix-sim, the GUI's messages,
// the command file) and judged by their logs and the board's state.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/board/Board.h"
#include "sim/camera/CameraBoardModel.h"
#include "tests/support/OstrixPiProcess.h"
#include "tests/support/TempRoot.h"

namespace testing_support {

// Long enough for a start-up under the sanitizers on a busy machine.
constexpr std::chrono::milliseconds kEndToEndLimit = std::chrono::seconds(60);

// Polls a condition another process makes true; false when the limit passed first.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit = kEndToEndLimit) {
    constexpr auto kPollInterval = std::chrono::milliseconds(20);
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class EndToEndTest : public ::testing::Test {
protected:
    // A fresh board, with the controller's configuration file in its home folder.
    void SetUp() override;
    // The configuration file a test's controller starts with.
    virtual std::string configuration() const { return "[SYSTEM]\nmajorversion = 4\n"; }
    // A configuration with the camera board's picture in place of its test pattern.
    static constexpr const char* kLiveCameraConfiguration =
        "[SYSTEM]\nmajorversion = 4\n[CAMERA]\ntest_pattern = 0\n";
    // The camera's standard colour correction beside the controller, as installed.
    void installColourCorrection() const {
        writeFile(home() + "/standard.cc", readFile(OSTRIX_SOURCE_DIR "/resources/standard.cc"));
    }

    // A folder of the test's own beside the system root.
    const std::string& scratch() const { return dir_.path(); }
    std::string root() const { return dir_.path() + "/root"; }
    // The controller's working folder.
    std::string home() const { return root() + "/home/pi/Ostrix"; }
    // The GUI's working folder: apart from the controller's, so that the consoles stay apart.
    std::string guiFolder() const { return root() + "/gui"; }

    // OstrixPi on the board in its home folder, killed at the latest when the returned
    // object goes.
    std::unique_ptr<OstrixPiProcess> startController(std::vector<std::string> args = {}) const {
        return std::make_unique<OstrixPiProcess>(OSTRIX_BIN_DIR "/OstrixPi", root(), home(), std::move(args));
    }
    // The controller's start-up ends when it has collected the GUI's settings.
    static ::testing::AssertionResult settingsCollected(OstrixPiProcess& controller,
                                                        std::chrono::milliseconds limit = kEndToEndLimit);

    // The real GUI's folder: its pictures and the settings file it starts from (none when
    // empty: it starts from the factory values); and Qt's offscreen platform for it.
    void prepareGui(const std::string& settings = "") const;
    std::unique_ptr<OstrixPiProcess> startGui() const {
        return std::make_unique<OstrixPiProcess>(OSTRIX_BIN_DIR "/Ostrix_Gui", root(), guiFolder());
    }
    // The GUI is up once it has announced itself to the controller.
    static ::testing::AssertionResult guiAnnounced(OstrixPiProcess& gui);

    // Runs ostrix-sim on the board; its exit status, and what it printed in `output`.
    int sim(std::vector<std::string> args, std::string* output = nullptr) const;
    // The board's shared state as ostrix-sim sees it, read without serving the board.
    sim::Board& board();
    template <typename Model> Model& model() { return *board().find<Model>(); }
    sim::CameraBoardModel& camera() { return model<sim::CameraBoardModel>(); }
    // Whether `command` is among the last commands the camera board received.
    bool cameraReceived(const std::string& command);

private:
    TempDir dir_;
    std::unique_ptr<sim::Board> board_;
};

} // namespace testing_support
