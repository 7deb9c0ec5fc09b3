// The controller's loop state on a fresh simulated board, with the log read back from the
// board's home folder. A test that creates the front-panel object binds the controller's
// UDP port; the controller's unit tests each run in a network of their own for that.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/logfile.h"
#include "common/timeout.h"
#include "controller/core/ControllerKeys.h"
#include "controller/core/MainLoop.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/SettingHandlers.h"
#include "controller/input/UserControls.h"
#include "tests/support/LogStamps.h"
#include "tests/support/TempRoot.h"

namespace loop_testing {

// The settings the controller asks the GUI for, in the order it asks.
inline std::vector<int> expected_collection() {
    std::vector<int> indices = {2, 5, 9, 10, 11, 12, 15, 19};
    for (int i = 50; i <= 57; ++i) {
        indices.push_back(i);
    }
    for (int i = 59; i <= 91; ++i) {
        indices.push_back(i);
    }
    for (int i = 93; i <= 98; ++i) {
        indices.push_back(i);
    }
    return indices;
}

class MainLoopTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        testing_support::SimBoardTest::SetUp();
        std::filesystem::create_directories(home() + "/log");
        reset_process_state();
        reset_main_loop_state();
        reset_setting_state();
        reset_controller_keys();
        // The standby guard has run out: messages are acted on.
        delete_timeout(&loop_timers.standbyGuard);
    }

    void TearDown() override {
        user_controls.reset();
        delete_timeout(&loop_timers.standbyGuard);
        reset_main_loop_state();
        testing_support::SimBoardTest::TearDown();
    }

    // The log file without its time stamps.
    std::string logText() const {
        return testing_support::withoutLogStamps(
            testing_support::readFile(home() + "/log/QLM_logfile_0001.log"));
    }

    // The log written since the last call of markLog().
    std::string newLog() const { return logText().substr(mark_); }
    void markLog() { mark_ = logText().size(); }

    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
            ++n;
        }
        return n;
    }
    size_t logged(const std::string& what) const { return count(logText(), what); }
    size_t loggedSinceMark(const std::string& what) const { return count(newLog(), what); }

    static void handle(uint32_t command, uint32_t data = 0) { handle_message(message_s{command, data}); }
    static void key(uint32_t code, uint32_t data = 0) { handle(tEV_KEY | code, data); }
    static void setting(uint32_t kind, int index, int32_t value) {
        handle(kind | static_cast<uint32_t>(index), static_cast<uint32_t>(value));
    }

private:
    size_t mark_ = 0;
};

} // namespace loop_testing
