// One X server (Xvfb, 1920 x 1080) and one Qt application on it for the whole test program:
// the window under test is a real X window, and its screenshots are what the server shows.
// The server picks a free display itself (-displayfd), so tests run side by side.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>
#include <string>

namespace testing_support {

// A test environment: both end with the test program's tests, the application first.
class XvfbApplication : public ::testing::Environment {
public:
    // The application, starting the server and the application at the first call; nullptr
    // with an error text when the server does not start.
    static QApplication* get(std::string& error);
    void TearDown() override;

private:
    bool start(std::string& error);
    static XvfbApplication* instance_;

    int pid_ = -1;
    std::unique_ptr<QApplication> app_;
};

} // namespace testing_support
