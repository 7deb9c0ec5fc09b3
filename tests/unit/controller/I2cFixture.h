// Fixture for a controller device on the simulated board's I2C buses: the working folder
// with its log folder, and the controller's I2C handler, which goes after the device.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "TempRoot.h"
#include "controller/devices/i2c.h"

class I2cDeviceTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        std::filesystem::create_directories("log");
        i2c_ = std::make_unique<i2c_handler>(true);
    }
    // A test's own TearDown releases its device first.
    void TearDown() override {
        i2c_.reset();
        SimBoardTest::TearDown();
    }
    static std::string log() { return testing_support::readFile("log/QLM_logfile_0001.log"); }
    static bool logged(const std::string& text) { return log().find(text) != std::string::npos; }

    std::unique_ptr<i2c_handler> i2c_;
};
