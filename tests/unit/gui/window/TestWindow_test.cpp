// The GUI window against a stand-in controller on the real ports: replies on the wire,
// the start-up message, the message timers and the blocking waits, and the picture the
// simulated board receives.
#include "gui/app/testwindow.h"

#include <QApplication>
#include <QMetaObject>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/CommsMessage.h"
#include "gui/app/RenderArea.h"
#include "gui/settings/OstrixControlSettings.h"
#include "sim/board/GuiFrame.h"
#include "tests/unit/gui/GuiFixture.h"
#include "tests/unit/gui/window/WindowFixture.h"

// Font configuration keeps a cache for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kWaitMs = 5000;
constexpr uint32_t kKeyColour = 0xFF008080u;

using Peer = ControllerEnd;

Bytes wire(uint32_t command, uint32_t data) {
    uint8_t bytes[MESSAGE_WIRE_SIZE];
    encodeMessage(message_s{command, data}, bytes);
    return Bytes(bytes, bytes + MESSAGE_WIRE_SIZE);
}

class GuiWindow : public testing_support::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        application();
        window_ = std::make_unique<TestWindow>(800, 480);
    }
    void TearDown() override {
        window_.reset();
        GuiTest::TearDown();
    }

    // Runs the event loop until the condition holds (false after kWaitMs).
    static bool runUntil(const std::function<bool()>& condition) {
        return runEventsUntil(condition, kWaitMs);
    }

    std::optional<Bytes> replyTo(const Peer& peer) {
        std::optional<Bytes> reply;
        runUntil([&] { return (reply = peer.poll()).has_value(); });
        return reply;
    }

    void tick(const char* slot) {
        ASSERT_TRUE(QMetaObject::invokeMethod(window_.get(), slot, Qt::DirectConnection));
    }

    std::unique_ptr<TestWindow> window_;
};

TEST_F(GuiWindow, RequestsAreAnsweredOnTheWireToThePortTheyCameFrom) {
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 6);
    ostrixControlSettings.SetValue(SETT_CAMERA_EXPOSURE_TIME, 2);
    Peer first, second;
    first.send(0xE0000035, 0);
    EXPECT_EQ(replyTo(first), (Bytes{0xC0, 0x00, 0x00, 0x35, 0x00, 0x00, 0x00, 0x06}));
    second.send(0xE0000036, 0);
    EXPECT_EQ(replyTo(second), wire(0xC0000036, 2));
    EXPECT_FALSE(first.poll().has_value());
}

TEST_F(GuiWindow, StoredSettingsAndZoomMessagesAreNotAnswered) {
    Peer controller;
    controller.send(0x40000035, 9);      // copy: stored without reply
    controller.send(0x61000000, 0x40);   // zoom position: redraw only
    controller.send(0x62000000, 0x012C); // zoom value: redraw only
    controller.send(0xB0000000, 0);      // preset: unimplemented
    controller.send(0xE0000035, 0);
    EXPECT_EQ(replyTo(controller), wire(0xC0000035, 9));
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_ZOOM_VALUE), 0x012Cu);
}

TEST_F(GuiWindow, TellsTheControllerItIsUpOneSecondAfterStart) {
    Peer controller(CONTROLLER_PORT); // throws when the port is taken
    EXPECT_EQ(replyTo(controller), (Bytes{0x70, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(window_->startupTimer().isActive());
}

TEST_F(GuiWindow, WithoutControllerTheStartupMessageIsLostAndPollingGoesOn) {
    ASSERT_TRUE(runUntil([&] { return !window_->startupTimer().isActive(); }));
    Peer controller;
    controller.send(0xE0000035, 0);
    EXPECT_TRUE(replyTo(controller).has_value());
    EXPECT_FALSE(window_->renderArea()->image().isNull());
}

TEST_F(GuiWindow, EveryRenderedFrameReachesTheBoard) {
    sim::GuiFrame frame;
    ASSERT_EQ(sim::readGuiFrame(root() + "/run/ostrix-sim/gui-frame.raw", frame), "");
    EXPECT_EQ(frame.width, 800u);
    EXPECT_EQ(frame.height, 480u);
    ASSERT_EQ(frame.argb.size(), 800u * 480u);
    // The empty overlay leaves the whole picture in the colour the FPGA keys out.
    EXPECT_EQ(std::count(frame.argb.begin(), frame.argb.end(), kKeyColour), 800 * 480);
    const QImage shown = window_->renderArea()->image();
    EXPECT_EQ(shown.size(), QSize(800, 480));
    EXPECT_EQ(shown.pixel(799, 479), kKeyColour);
}

TEST_F(GuiWindow, ALongMessageTicksOncePerSecondAndClearsAtTheSeventhTick) {
    Peer controller;
    controller.send(0x9000001F, 7500);
    ASSERT_TRUE(runUntil([&] { return window_->messageTimerCount() == 7; }));
    EXPECT_EQ(window_->messageTimer().interval(), 1000);
    EXPECT_TRUE(window_->messageTimer().isActive());
    EXPECT_FALSE(window_->shutdownMessageTimer().isActive());

    int ticks = 0;
    while (window_->display().currentMessage() != 0 && ticks < 20) {
        tick("clearMessageDisplay");
        ++ticks;
        if (window_->display().currentMessage() != 0) {
            // Redrawn with the whole seconds left, and counting on.
            EXPECT_EQ(window_->display().messageTime(), 1000 * (7 - ticks));
            EXPECT_TRUE(window_->messageTimer().isActive());
            EXPECT_EQ(window_->messageTimer().interval(), 1000);
        }
    }
    EXPECT_EQ(ticks, 7);
    EXPECT_FALSE(window_->messageTimer().isActive());
    EXPECT_EQ(window_->messageTimerCount(), 0);
}

TEST_F(GuiWindow, AShortMessageFiresOnceAfterItsTime) {
    Peer controller;
    controller.send(0x90000028, 3000);
    ASSERT_TRUE(runUntil([&] { return window_->messageTimerCount() == 1; }));
    EXPECT_EQ(window_->messageTimer().interval(), 3000);
    EXPECT_TRUE(window_->messageTimer().isSingleShot());
    EXPECT_EQ(window_->display().currentMessage(), 40u);
    tick("clearMessageDisplay");
    EXPECT_EQ(window_->display().currentMessage(), 0u);
    EXPECT_FALSE(window_->messageTimer().isActive());
    EXPECT_EQ(window_->messageTimerCount(), 0);
}

TEST_F(GuiWindow, TheNoInputCountdownHasItsOwnTimerAndYieldsToAnotherMessage) {
    Peer controller;
    controller.send(0x90000037, 60000);
    ASSERT_TRUE(runUntil([&] { return window_->shutdownMessageTimerCount() == 60; }));
    EXPECT_FALSE(window_->messageTimer().isActive());
    tick("clearShutdownMessageDisplay");
    EXPECT_EQ(window_->display().currentMessage(), 55u);
    EXPECT_EQ(window_->display().messageTime(), 59000);
    EXPECT_TRUE(window_->shutdownMessageTimer().isActive());

    controller.send(0x9000001F, 3000); // USB memory inserted replaces the countdown
    ASSERT_TRUE(runUntil([&] { return window_->display().currentMessage() == 31; }));
    tick("clearShutdownMessageDisplay");
    EXPECT_FALSE(window_->shutdownMessageTimer().isActive());
    EXPECT_EQ(window_->shutdownMessageTimerCount(), 0);
    EXPECT_EQ(window_->display().currentMessage(), 31u);
    EXPECT_TRUE(window_->messageTimer().isActive());
}

// The warning that the screens are about to go dark, shown while another message's timer
// still runs: the two timers fire in turn, a second apart, as they would on the board.
TEST_F(GuiWindow, TheNoInputCountdownKeepsItsOwnTimeWhileAnotherMessagesTimerRuns) {
    for (int firstMs : {7500, 3000}) {
        SCOPED_TRACE(firstMs);
        Peer controller;
        controller.send(0x90000001, uint32_t(firstMs)); // No USB drive detected
        ASSERT_TRUE(runUntil([&] { return window_->messageTimer().isActive(); }));
        controller.send(0x90000037, 10000);
        ASSERT_TRUE(runUntil([&] { return window_->shutdownMessageTimerCount() == 10; }));
        EXPECT_EQ(window_->display().messageTime(), 10000);

        int shown = window_->display().messageTime();
        for (int second = 1; second <= 10; ++second) {
            if (window_->messageTimer().isActive()) {
                tick("clearMessageDisplay");
                // The other timer neither redraws nor ends the countdown.
                ASSERT_EQ(window_->display().currentMessage(), 55u) << second;
                EXPECT_EQ(window_->display().messageTime(), shown) << second;
            }
            tick("clearShutdownMessageDisplay");
            if (second < 10) {
                ASSERT_EQ(window_->display().currentMessage(), 55u) << second;
                EXPECT_EQ(window_->display().messageTime(), shown - 1000) << second;
                shown = window_->display().messageTime();
            }
        }
        EXPECT_EQ(window_->display().currentMessage(), 0u);
        EXPECT_FALSE(window_->messageTimer().isActive());
        EXPECT_FALSE(window_->shutdownMessageTimer().isActive());
    }
}

TEST_F(GuiWindow, TheCountdownClearsWhenItRunsOut) {
    Peer controller;
    controller.send(0x90000037, 4000); // under 5 s: one tick of 4000 ms
    ASSERT_TRUE(runUntil([&] { return window_->shutdownMessageTimerCount() == 1; }));
    EXPECT_EQ(window_->shutdownMessageTimer().interval(), 4000);
    tick("clearShutdownMessageDisplay");
    EXPECT_EQ(window_->display().currentMessage(), 0u);
    EXPECT_FALSE(window_->shutdownMessageTimer().isActive());
}

TEST_F(GuiWindow, WaitForOkHoldsOtherMessagesAndAcceptsOnlySelect) {
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 8);
    Peer controller;
    controller.send(0x40000035, 2); // held while waiting
    controller.send(0xE0000035, 0); // answered after the prompt
    controller.send(0x01000000, 0); // RIGHT
    EXPECT_FALSE(window_->waitForOK());
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_CAMERA_GAIN), 8u);
    EXPECT_FALSE(controller.poll().has_value());
    EXPECT_EQ(window_->heldMessages(), 2u);
    // The poll handles them in their order: the new value, then the request for it.
    EXPECT_EQ(replyTo(controller), wire(0xC0000035, 2));
    EXPECT_EQ(window_->heldMessages(), 0u);

    controller.send(0x01000004, 0); // SELECT
    EXPECT_TRUE(window_->waitForOK());

    controller.send(0x30000000, 0); // EXIT: the microscope goes to standby
    EXPECT_FALSE(window_->waitForOK());
}

// The controller collects the settings without waiting for answers: a request that
// arrives while the white-balance prompt waits for the user is answered once it ends.
TEST_F(GuiWindow, ASettingsRequestDuringTheWhiteBalancePromptIsAnsweredAfterIt) {
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 3);
    // The menu reaches the prompt through the program's one window.
    window = window_.get();
    struct Forget {
        ~Forget() { window = nullptr; }
    } forget;
    Peer controller;
    // Camera -> Camera White Balance, chosen with SELECT.
    for (uint32_t key : {UKEY_SELECT, UKEY_DOWN, UKEY_RIGHT, UKEY_DOWN, UKEY_DOWN, UKEY_DOWN, UKEY_DOWN,
                         UKEY_DOWN, UKEY_SELECT}) {
        controller.send(0x01000000u + key, 0);
    }
    // The prompt runs the event loop while it waits: what the controller sends meanwhile
    // goes from a timer, each step once the prompt has taken the one before.
    bool asked = false;
    bool answeredBeforeConfirm = false;
    QTimer controllerSide;
    QObject::connect(&controllerSide, &QTimer::timeout, [&] {
        if (!asked && window_->display().currentMessage() == MESS_AUTO_WB) {
            controller.send(0x40000036, 7); // exposure pushed meanwhile
            controller.send(0xE0000035, 0); // camera gain asked for meanwhile
            asked = true;
        } else if (asked && window_->heldMessages() == 2) {
            answeredBeforeConfirm = controller.poll().has_value();
            controller.send(0x01000004, 0); // the user confirms
            controllerSide.stop();
        }
    });
    controllerSide.start(5);
    EXPECT_EQ(replyTo(controller), wire(0xD000003A, 0));
    EXPECT_EQ(replyTo(controller), wire(0xC0000035, 3));
    EXPECT_FALSE(answeredBeforeConfirm);
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_CAMERA_EXPOSURE_TIME), 7u);
    EXPECT_EQ(window_->display().currentMessage(), 0u);
}

TEST_F(GuiWindow, MessagesHeldDuringAPromptAreBoundedAndZoomKeepsOnlyTheLatest) {
    constexpr size_t kHeldAtMost = 512;
    constexpr size_t kPushes = 600;
    constexpr size_t kBatch = 50;
    Peer controller;
    // Fed in batches, each once the prompt has taken the one before, so that no datagram
    // is lost in the socket's buffer.
    size_t pushed = 0;
    bool zoomed = false;
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        const size_t expected = !zoomed ? 0 : std::min(1 + pushed, kHeldAtMost);
        if (window_->heldMessages() != expected) {
            return;
        }
        if (!zoomed) {
            for (uint32_t zoom = 1; zoom <= kBatch; ++zoom) {
                controller.send(0x62000000, zoom);
            }
            zoomed = true;
        } else if (pushed < kPushes) {
            for (size_t i = 0; i < kBatch; ++i, ++pushed) {
                controller.send(0x40000035, uint32_t(pushed % 10));
            }
        } else {
            controller.send(0x01000004, 0); // SELECT ends the prompt
            feeder.stop();
        }
    });
    feeder.start(5);
    EXPECT_TRUE(window_->waitForOK());
    EXPECT_EQ(pushed, kPushes);
    EXPECT_EQ(window_->heldMessages(), kHeldAtMost);
    ASSERT_TRUE(runUntil([&] { return window_->heldMessages() == 0; }));
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_ZOOM_VALUE), kBatch);
}

TEST_F(GuiWindow, WaitForKeypressEndsAtAKeyOrAnExit) {
    Peer controller;
    controller.send(0x62000000, 55);
    controller.send(0x01000003, 0); // DOWN
    EXPECT_EQ(window_->waitForKeypress(), 3u);
    controller.send(0x30000000, 0);
    EXPECT_EQ(window_->waitForKeypress(), 0u);
    EXPECT_NE(ostrixControlSettings.GetValue(SETT_ZOOM_VALUE), 55u);
    // Polling resumes afterwards.
    controller.send(0xE0000035, 0);
    EXPECT_TRUE(replyTo(controller).has_value());
}

// A wait started while another one runs (a timer slot during the outer wait) gives the
// link back to the outer wait when it ends, not to the polling timer.
TEST_F(GuiWindow, ANestedWaitLeavesTheLinkToTheOuterWait) {
    Peer controller;
    uint32_t inner = 99;
    QTimer::singleShot(0, window_.get(), [&] {
        inner = window_->waitForKeypress();
        controller.send(0xE0000035, 0);
        tick("checkForMessages");       // must leave the request to the outer wait
        controller.send(0x01000003, 0); // DOWN ends the outer wait
    });
    controller.send(0x01000002, 0); // UP for the inner wait
    EXPECT_EQ(window_->waitForKeypress(), 3u);
    EXPECT_EQ(inner, 2u);
    EXPECT_FALSE(controller.poll().has_value()); // the request was not answered
}

// A stop request (SIGTERM quits the application) ends a wait for the user; without that
// the GUI would hang until someone pressed a key. If the waits missed the quit, the
// keys sent later would end them with the wrong answers.
TEST_F(GuiWindow, WaitsEndWhenTheApplicationIsAskedToQuit) {
    Peer controller;
    bool confirmed = true;
    uint32_t key = 99;
    QTimer::singleShot(0, window_.get(), [&] {
        QTimer::singleShot(50, window_.get(), [] { QCoreApplication::quit(); });
        QTimer::singleShot(kWaitMs, window_.get(), [&] { controller.send(0x01000004, 0); });
        confirmed = window_->waitForOK();
        QTimer::singleShot(kWaitMs, window_.get(), [&] { controller.send(0x01000003, 0); });
        key = window_->waitForKeypress();
    });
    QCoreApplication::exec();
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(key, 0u);
}

TEST_F(GuiWindow, AControllerMessageIsDrawnInTheBoardsFrame) {
    // With the font in the home folder, as on the board.
    std::filesystem::create_directories(home() + "/resources");
    std::filesystem::copy_file(OSTRIX_SOURCE_DIR "/resources/font_en.png", home() + "/resources/font_en.png");
    window_.reset();
    window_ = std::make_unique<TestWindow>(800, 480);

    Peer controller;
    controller.send(0x90000001, 3000); // No USB drive detected
    ASSERT_TRUE(runUntil([&] { return window_->display().currentMessage() == 1; }));
    sim::GuiFrame frame;
    ASSERT_EQ(sim::readGuiFrame(root() + "/run/ostrix-sim/gui-frame.raw", frame), "");
    const auto count = [&](auto predicate) {
        return std::count_if(frame.argb.begin(), frame.argb.end(), predicate);
    };
    EXPECT_GT(count([](uint32_t p) { return p == 0xFF8B8B8Bu; }), 1000);
    EXPECT_GT(count([](uint32_t p) { return p == 0xFF454545u; }), 400);
    // The letters: dark pixels inside the box.
    EXPECT_GT(count([](uint32_t p) { return (p & 0xFF) < 0x40; }), 100);
    // The centre row of the screen crosses the box; its ends show the keyed-out colour.
    EXPECT_EQ(frame.argb[240 * 800], kKeyColour);
    EXPECT_EQ(frame.argb[240 * 800 + 400], 0xFF8B8B8Bu);
}

TEST_F(GuiWindow, SettingsFromTheControllerAreSavedAndRestoredAtStart) {
    Peer controller;
    controller.send(0x40000035, 9); // camera gain
    ASSERT_TRUE(runUntil([&] { return ostrixControlSettings.GetValue(SETT_CAMERA_GAIN) == 9; }));
    EXPECT_NE(testing_support::readFile("QLM_GUI.settings").find("\nSETT_CAMERA_GAIN=9\n"),
              std::string::npos);

    std::remove("QLM_GUI.settings");
    controller.send(0x40000064, 30); // minutes: not a saved setting
    ASSERT_TRUE(runUntil([&] { return ostrixControlSettings.GetValue(SETT_TIME_MINUTES) == 30; }));
    EXPECT_FALSE(std::filesystem::exists("QLM_GUI.settings"));

    testing_support::writeFile("QLM_GUI.settings", "#QLM settings Text 99\nSETT_CAMERA_GAIN=2\n");
    window_.reset();
    window_ = std::make_unique<TestWindow>(800, 480);
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_CAMERA_GAIN), 2u);
}

} // namespace
