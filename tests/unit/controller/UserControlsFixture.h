// The front-panel object on a fresh simulated board with its I2C handler and a stand-in
// GUI, driven pass by pass with a clock the test moves: each pass() is one 10 ms round of
// the receiver thread.
#pragma once

#include <memory>
#include <vector>

#include "controller/devices/i2c.h"
#include "controller/input/UserControls.h"
#include "sim/buses/I2cBus.h"
#include "sim/chips/FrontPanel.h"
#include "tests/unit/controller/InputFixture.h"
#include "tests/unit/link/StandInGui.h"

// Messages compare and print by their two words (found by lookup from std::vector).
inline bool operator==(const message_s& a, const message_s& b) {
    return a.command == b.command && a.data == b.data;
}
inline std::ostream& operator<<(std::ostream& out, const message_s& m) {
    char text[24];
    snprintf(text, sizeof text, "%08x:%08x", m.command, m.data);
    return out << text;
}

namespace input_testing {

class UserControlsTest : public InputTest {
protected:
    static constexpr int kPollMs = 10;
    static constexpr int kLockOutPolls = 26;

    void SetUp() override {
        InputTest::SetUp();
        i2c_bus = std::make_unique<i2c_handler>(true);
        gui = std::make_unique<StandInGui>();
        user_controls = std::make_unique<UserControls>();
        uc().set_clock(clock.clock());
        uc().keyboard().set_clock(clock.clock());
        uc().enable_controls(true);
        // The first poll finds the buttons changed from their start value and locks out.
        passes(1 + kLockOutPolls);
        drainMain();
    }
    void TearDown() override {
        user_controls.reset();
        gui.reset();
        i2c_bus.reset();
        InputTest::TearDown();
    }

    static UserControls& uc() { return *user_controls; }
    sim::FrontPanelExpander& panel() { return *board().find<sim::FrontPanelExpander>(); }
    sim::I2cBus& bus() { return *board().find<sim::I2cBus>(); }

    void pass() {
        clock.advance(kPollMs);
        uc().receiver_pass();
    }
    void passes(int n) {
        for (int i = 0; i < n; ++i) {
            pass();
        }
    }
    // Sets the buttons held (bit b = BTNb+1, bit 5 the power button) and polls once.
    void hold(uint8_t buttons) {
        panel().hold(buttons);
        pass();
    }

    // Everything queued for the main loop so far.
    static std::vector<message_s> drainMain() {
        std::vector<message_s> out;
        message_s msg{};
        while (uc().popMessage(&msg) == 1) {
            out.push_back(msg);
        }
        return out;
    }
    // What the GUI has received since the last call, once a marker sent after it has
    // arrived.
    std::vector<message_s> guiMessages() {
        static uint32_t marker = 0;
        message_s end{tEV_COPYFB | (++marker & 0xFFFF), 0};
        uc().pushMessage(&end);
        pass();
        std::vector<message_s> got;
        eventually([&] {
            got = gui->received();
            return !got.empty() && got.back().command == end.command;
        });
        std::vector<message_s> out;
        for (size_t i = guiSeen_; i < got.size(); ++i) {
            if (eventCode(got[i].command) != tEV_COPYFB) {
                out.push_back(got[i]);
            }
        }
        guiSeen_ = got.size();
        return out;
    }

    std::unique_ptr<StandInGui> gui;

private:
    size_t guiSeen_ = 0;
};

inline message_s keyMsg(uint32_t key, uint32_t data = 0) {
    return message_s{tEV_KEY | key, data};
}

// Button masks as the panel model numbers them (bit b = button b).
constexpr uint8_t kBtn1 = 1 << 0, kBtn2 = 1 << 1, kBtn3 = 1 << 2, kBtn4 = 1 << 3, kBtn5 = 1 << 4,
                  kPower = 1 << 5;

} // namespace input_testing
