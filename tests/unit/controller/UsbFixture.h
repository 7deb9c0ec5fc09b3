// The controller core on a fresh simulated board with USB stick ports: sticks are folders
// under the system root, plugged in through the stick model.
#pragma once

#include <filesystem>
#include <string>

#include "controller/core/SettingHandlers.h"
#include "controller/core/usb.h"
#include "platform/platform.h"
#include "sim/chips/UsbSticks.h"
#include "tests/support/LogStamps.h"
#include "tests/unit/controller/ControllerTest.h"

namespace usb_testing {

class UsbTest : public controller_testing::ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        reset_usb_state();
        std::fill(std::begin(shadow_settings), std::end(shadow_settings), 0);
    }
    void TearDown() override {
        reset_usb_state();
        ControllerTest::TearDown();
    }

    sim::UsbSticks& sticks() { return *board().find<sim::UsbSticks>(); }
    // A stick's folder (made when missing) and plugging it in.
    std::string stick(const std::string& name = "stick") {
        const std::string folder = root() + "/sim/usb/" + name;
        std::filesystem::create_directories(folder);
        return folder;
    }
    std::string insert(const std::string& name = "stick", int slot = 1) {
        const std::string folder = stick(name);
        sticks().insert(slot, folder);
        return folder;
    }
    std::string mountPoint() const { return platform::sysPath("/media/usb"); }
    bool mountPointEmpty() const {
        return std::filesystem::is_directory(mountPoint()) && !std::filesystem::is_symlink(mountPoint()) &&
               std::filesystem::is_empty(mountPoint());
    }

    std::string log() const { return testing_support::withoutLogStamps(logText()); }
    bool logged(const std::string& what) const { return log().find(what) != std::string::npos; }
    std::string shellLog() const {
        return testing_support::readFile(root() + "/var/log/ostrix-sim/shell.log");
    }
    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
            ++n;
        }
        return n;
    }
};

} // namespace usb_testing
