// Fixture for the controller core's tests: a fresh simulated board, the working folder in
// its home with a log folder, and the controller's process state at its start values.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "common/logfile.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/HdmiEvents.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"
#include "controller/devices/Audio.h"
#include "controller/devices/LightingControl.h"
#include "controller/devices/clocks.h"
#include "controller/fpga/fpga.h"
#include "tests/support/TempRoot.h"

namespace controller_testing {

class ControllerTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        testing_support::writeFile("./log/.keep", "");
        logfile_testing::reset();
        reset_process_state();
    }

    void TearDown() override {
        release_devices(); // the bring-up's device objects go before the board
        reset_hdmi_events();
        SimBoardTest::TearDown();
    }

    // Everything logged so far (the log file's text, time stamps included).
    std::string logText() const { return testing_support::readFile("log/QLM_logfile_0001.log"); }
    bool logged(const std::string& text) const { return logText().find(text) != std::string::npos; }
    // The texts appear in the log in this order (the first missing one is reported).
    bool loggedInOrder(std::initializer_list<std::string> texts) const {
        const std::string log = logText();
        size_t at = 0;
        for (const std::string& text : texts) {
            at = log.find(text, at);
            if (at == std::string::npos) {
                ADD_FAILURE() << "not logged in order: " << text;
                return false;
            }
            at += text.size();
        }
        return true;
    }

    // A file in the working folder.
    static void write(const std::string& name, const std::string& content) {
        testing_support::writeFile("./" + name, content);
    }
};

} // namespace controller_testing
