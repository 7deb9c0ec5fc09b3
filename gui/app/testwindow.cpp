#include "gui/app/testwindow.h"

#include <QApplication>
#include <QColor>
#include <QCursor>
#include <QEventLoop>
#include <QGridLayout>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <new>

#include "common/CommsMessage.h"
#include "gui/app/RenderArea.h"
#include "gui/app/guiprint.h"
#include "gui/render/vfb.h"
#include "platform/platform.h"

TestWindow* window = nullptr;

using Ostrix::guiPrint;

namespace {

constexpr int kPollPeriodMs = 10;
constexpr int kStartupDelayMs = 1000;
constexpr int kDefaultMessageTimerMs = 3000;
constexpr int kMessageTickMs = 1000;
// Display times from 5 s up count down in whole seconds, redrawing the time left.
constexpr int kLongestSingleTickMs = 4999;
constexpr int kWaitPollMs = 100;

constexpr int kRenderAreaColumns = 4;
constexpr int kLastLayoutColumn = 3;

// The background the FPGA keys out as transparent.
const QColor kKeyColour(0, 128, 128, 255);

constexpr uint32_t kMessageNumberMask = 0xFFFF;
constexpr uint32_t kImageCaptureRequest = uint32_t(tEV_KEY) + uint32_t(UKEY_P_IMAGECAPTURE);
constexpr int kBytesPerPixel = 4;
// More than a whole settings collection (one push or request per setting) fits.
constexpr size_t kMaxHeldMessages = 512;

// Messages that only carry the latest state: a newer one replaces a held one.
bool isStateUpdate(uint32_t command) {
    return command == tEV_ZOOMVAL || command == tEV_ZOOMINFO;
}

} // namespace

TestWindow::TestWindow(int width, int height)
    : mWidth(width), mHeight(height), mComms(GUI_PORT), mDisplay(width, height) {
    guiPrint("GUI: TestWindow constructor start");

    mRenderArea = new RenderArea(this);
    auto* layout = new QGridLayout(this);
    layout->addWidget(mRenderArea, 0, 0, 1, kRenderAreaColumns);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(kLastLayoutColumn, 1);
    mRenderArea->setCursor(QCursor(Qt::BlankCursor));
    setWindowTitle(tr("Lumaro GUI"));

    auto* pollTimer = new (std::nothrow) QTimer(this);
    if (pollTimer == nullptr) {
        guiPrint("GUI: Failed to create Timer1");
    } else {
        connect(pollTimer, &QTimer::timeout, this, &TestWindow::checkForMessages);
        pollTimer->start(kPollPeriodMs);
    }

    connect(&mMessageTimer, &QTimer::timeout, this, &TestWindow::clearMessageDisplay);
    mMessageTimer.setSingleShot(true);
    mMessageTimer.setInterval(kDefaultMessageTimerMs);
    mMessageTimerCount = 0;
    connect(&mShutdownMessageTimer, &QTimer::timeout, this, &TestWindow::clearShutdownMessageDisplay);
    mShutdownMessageTimer.setSingleShot(true);
    mShutdownMessageTimer.setInterval(kDefaultMessageTimerMs);
    mShutdownMessageTimerCount = 0;

    if (platform::simulated()) {
        mFrameHandoff = std::make_unique<Ostrix::FrameHandoff>(Ostrix::FrameHandoff::boardFramePath());
    }
    Update();

    connect(&mStartupTimer, &QTimer::timeout, this, &TestWindow::sendStartupMessage);
    mStartupTimer.setSingleShot(true);
    mStartupTimer.start(kStartupDelayMs);
    guiPrint("GUI: TestWindow constructor end");
}

TestWindow::~TestWindow() = default;

void TestWindow::Update() {
    if (mRenderArea == nullptr) {
        return;
    }
    QImage background(mWidth, mHeight, QImage::Format_ARGB32);
    background.fill(kKeyColour);
    QImage overlay(mWidth, mHeight, QImage::Format_ARGB32);
    // Built from nothing on every render: nothing of the previous frame is kept.
    Ostrix::VFB vfb(mWidth, mHeight, overlay.bytesPerLine() / kBytesPerPixel);
    mDisplay.Update(vfb);
    vfb.Update(overlay.bits());
    QPainter painter(&background);
    painter.drawImage(0, 0, overlay);
    painter.end();
    mRenderArea->setImage(background);
    if (mFrameHandoff &&
        !mFrameHandoff->write(background.constBits(), mWidth, mHeight, size_t(background.bytesPerLine())) &&
        mFrameHandoff->failuresInARow() == 1) {
        // Said once; every following frame tries again.
        guiPrint("GUI: Cannot hand the frame to the board: %s", mFrameHandoff->path().c_str());
    }
}

void TestWindow::repaintNow() {
    if (mRenderArea != nullptr) {
        mRenderArea->repaint();
    }
}

void TestWindow::update() {
    Update();
    showImage();
}

void TestWindow::showImage() {
    repaintNow();
    QCoreApplication::processEvents();
}

void TestWindow::pollInputs() {}

bool TestWindow::replyIsSent(uint32_t reply0) {
    const uint32_t event = eventCode(reply0);
    if (event == tEV_NONE) {
        return false;
    }
    // The menu's notices of a changed item are keys too; only the capture request goes.
    return event != tEV_KEY || reply0 == kImageCaptureRequest;
}

void TestWindow::checkForMessages() {
    // A wait for a key (started by a message being processed) takes the messages itself.
    if (mInBlockingWait) {
        return;
    }
    CommsMessage_t msg{};
    while (nextMessage(msg)) {
        const uint32_t word0 = msg.packet.command;
        const uint32_t word1 = msg.packet.data;
        if (word0 != tEV_ZOOMVAL) {
            guiPrint("GUI: Received: %x : %u", word0, word1);
        }
        uint32_t reply0 = 0, reply1 = 0;
        bool showMessage = false;
        int messageTime = 0;
        const bool reply = mDisplay.ProcessCommand(word0, word1, reply0, reply1, showMessage, messageTime);
        if (showMessage) {
            startMessageTimer(word0, messageTime);
            Update();
            showImage();
        }
        if (reply && replyIsSent(reply0)) {
            // Back to the address the message came from.
            msg.packet = message_s{reply0, reply1};
            mComms.PutMessage(&msg);
            guiPrint("GUI: Sent message %x %u", reply0, reply1);
        }
        Update();
        repaintNow();
    }
}

bool TestWindow::nextMessage(CommsMessage_t& msg) {
    if (!mHeldMessages.empty()) {
        msg = mHeldMessages.front();
        mHeldMessages.pop_front();
        return true;
    }
    return mComms.GetMessage(&msg) != 0;
}

void TestWindow::holdMessage(const CommsMessage_t& msg) {
    const uint32_t command = msg.packet.command;
    if (isStateUpdate(command)) {
        for (CommsMessage_t& held : mHeldMessages) {
            if (held.packet.command == command) {
                held = msg;
                return;
            }
        }
    }
    if (mHeldMessages.size() >= kMaxHeldMessages) {
        if (mDroppedHeldMessages++ == 0) {
            guiPrint("GUI: %zu messages held during the prompt, dropping further ones", mHeldMessages.size());
        }
        return;
    }
    mHeldMessages.push_back(msg);
}

void TestWindow::startMessageTimer(uint32_t word0, int messageTime) {
    const bool shutdown = (word0 & kMessageNumberMask) == MESS_NO_INPUT_DETECTED;
    QTimer& timer = shutdown ? mShutdownMessageTimer : mMessageTimer;
    int& counter = shutdown ? mShutdownMessageTimerCount : mMessageTimerCount;
    timer.stop();
    counter = 0;
    if (messageTime > kLongestSingleTickMs) {
        timer.setInterval(kMessageTickMs);
        counter = messageTime / kMessageTickMs;
    } else {
        timer.setInterval(messageTime);
        counter = 1;
    }
    guiPrint(shutdown ? "GUI: start shutdown message timer set to %d in %d loops for message %u"
                      : "GUI: start message timer set to %d in %d loops for message %u",
             messageTime, counter, mDisplay.currentMessage());
    timer.start();
}

void TestWindow::clearMessageDisplay() {
    guiPrint("GUI: clearMessageDisplay - message timer triggered, last message %u",
             mDisplay.currentMessage());
    --mMessageTimerCount;
    if (mDisplay.currentMessage() == MESS_NO_INPUT_DETECTED) {
        // The no-input countdown has replaced this timer's message and runs on its own
        // timer: neither its seconds nor its end are this timer's business.
        guiPrint("GUI: message timer leaves the no-input countdown alone");
        mMessageTimer.stop();
        mMessageTimerCount = 0;
        return;
    }
    if (mMessageTimerCount > 0 && mDisplay.currentMessage() != MESS_NONE) {
        guiPrint("GUI: redraw message");
        mMessageTimer.start(kMessageTickMs);
        mDisplay.refreshMessage(kMessageTickMs * mMessageTimerCount);
        Update();
        repaintNow();
        return;
    }
    guiPrint("GUI: clear message display");
    mDisplay.clearMessageDisplay();
    mMessageTimer.stop();
    mMessageTimerCount = 0;
    update();
}

void TestWindow::clearShutdownMessageDisplay() {
    const uint32_t current = mDisplay.currentMessage();
    guiPrint("GUI: clearShutdownMessageDisplay - message timer triggered, last message %u", current);
    --mShutdownMessageTimerCount;
    if (current != MESS_NONE && current != MESS_NO_INPUT_DETECTED) {
        // Another message has replaced the countdown: it stays for its own timer.
        guiPrint("GUI: stop shutdown message timer");
        mShutdownMessageTimer.stop();
        mShutdownMessageTimerCount = 0;
        update();
        return;
    }
    if (current == MESS_NO_INPUT_DETECTED && mShutdownMessageTimerCount > 0) {
        guiPrint("GUI: redraw shutdown message");
        mShutdownMessageTimer.start(kMessageTickMs);
        mDisplay.refreshMessage(kMessageTickMs * mShutdownMessageTimerCount);
        Update();
        repaintNow();
        return;
    }
    guiPrint("GUI: clear shutdown message display");
    mDisplay.clearMessageDisplay();
    mShutdownMessageTimer.stop();
    mShutdownMessageTimerCount = 0;
    update();
}

void TestWindow::sendStartupMessage() {
    CommsMessage_t msg{};
    msg.packet = message_s{tEV_PRESETLOADED, 0};
    msg.remote = loopbackAddress(CONTROLLER_PORT);
    msg.addrlen = sizeof msg.remote;
    mComms.PutMessage(&msg);
    guiPrint("GUI: Startup message sent %x %u", msg.packet.command, msg.packet.data);
}

bool TestWindow::waitOnePeriod() {
    // A nested loop rather than a sleep: QCoreApplication::quit() ends every running loop
    // and stops new ones from starting, so the wait learns of it either way.
    QEventLoop loop;
    bool periodOver = false;
    QTimer::singleShot(kWaitPollMs, &loop, [&] {
        periodOver = true;
        loop.quit();
    });
    loop.exec();
    return periodOver;
}

bool TestWindow::waitForOK() {
    BlockingWait wait(mInBlockingWait);
    mDroppedHeldMessages = 0;
    const bool confirmed = waitForAnswer();
    if (mDroppedHeldMessages != 0) {
        guiPrint("GUI: %zu messages dropped during the prompt", mDroppedHeldMessages);
    }
    if (!mHeldMessages.empty()) {
        guiPrint("GUI: %zu messages held during the prompt are handled now", mHeldMessages.size());
    }
    return confirmed;
}

bool TestWindow::waitForAnswer() {
    CommsMessage_t msg{};
    for (;;) {
        update();
        // The controller does not wait for answers while it collects the settings: what
        // is not the user's answer is kept, not lost. An exit (standby) is an answer too.
        while (mComms.GetMessage(&msg) != 0) {
            const uint32_t event = eventCode(msg.packet.command);
            if (event == tEV_KEY) {
                guiPrint("GUI:waitForOK Received: %x : %u", msg.packet.command, msg.packet.data);
                return eventParameter(msg.packet.command) == UKEY_SELECT;
            }
            if (event == tEV_EXIT) {
                guiPrint("GUI:waitForOK ended by exit");
                return false;
            }
            holdMessage(msg);
        }
        if (!waitOnePeriod()) {
            guiPrint("GUI:waitForOK ended: quitting");
            return false;
        }
    }
}

uint32_t TestWindow::waitForKeypress() {
    BlockingWait wait(mInBlockingWait);
    update();
    CommsMessage_t msg{};
    uint32_t last = 0;
    for (;;) {
        QCoreApplication::processEvents();
        if (mComms.GetMessage(&msg) != 0) {
            last = msg.packet.command;
            const uint32_t event = eventCode(last);
            if (event == tEV_EXIT || event == tEV_KEY) {
                break;
            }
        }
        if (!waitOnePeriod()) {
            guiPrint("GUI: waitForKeypress ended: quitting");
            return eventParameter(tEV_EXIT);
        }
    }
    return eventParameter(last);
}
