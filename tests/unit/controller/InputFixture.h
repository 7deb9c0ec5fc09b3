// The USB input devices of a fresh simulated board, a log folder, and a clock that
// tests move by hand.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "TempRoot.h"
#include "common/logfile.h"
#include "controller/input/InputEvents.h"
#include "sim/chips/UsbInput.h"

namespace input_testing {

struct FakeClock {
    timeval time{1000, 0}; // far from zero, which means "not pressed"
    void advance(int ms) { time = time_plus(time, timeval{ms / 1000, (ms % 1000) * 1000}); }
    InputClock clock() {
        return [this] { return time; };
    }
};

class InputTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        std::filesystem::create_directories("log");
        logfile_testing::reset();
    }

    sim::UsbInput& input() { return *board().find<sim::UsbInput>(); }
    static std::string log() { return testing_support::readFile("log/QLM_logfile_0001.log"); }
    static size_t logged(const std::string& what) {
        const std::string text = log();
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
            ++n;
        }
        return n;
    }

    // Polls a condition that another thread makes true.
    template <typename Condition> static bool eventually(Condition condition, int ms = 5000) {
        for (int waited = 0; waited < ms; ++waited) {
            if (condition()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return condition();
    }

    FakeClock clock;
};

} // namespace input_testing
