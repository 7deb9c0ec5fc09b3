// The GUI's main window: a frameless 800 x 480 widget that shows the rendered overlay,
// polls the controller link every 10 ms, times the displayed messages and tells the
// controller one second after start that the GUI is up.
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "gui/app/CommsClient.h"
#include "gui/app/Display.h"
#include "gui/app/FrameHandoff.h"

class RenderArea;

class TestWindow : public QWidget {
    Q_OBJECT

public:
    TestWindow(int width, int height);
    ~TestWindow() override;

    // Renders the overlay into the render area.
    void Update();
    // Renders, repaints at once and processes pending events: for handlers that change
    // the screen while they run.
    void update();
    // Repaints and processes pending events.
    void showImage();

    // Blocks until a key arrives; true for SELECT. An exit message or the application
    // quitting ends it with false. The controller's other messages are held meanwhile and
    // handled, in their order, by the next poll.
    bool waitForOK();
    // Blocks until a key or an exit message arrives; its low 24 bits (0 when the
    // application quits meanwhile, as for an exit message).
    uint32_t waitForKeypress();

    // Whether a reply made by the command processing goes to the controller: not when
    // there is no event, nor for key notices other than the image-capture request.
    static bool replyIsSent(uint32_t reply0);

    // Inspection for tests.
    Ostrix::Display& display() { return mDisplay; }
    RenderArea* renderArea() const { return mRenderArea; }
    const QTimer& startupTimer() const { return mStartupTimer; }
    const QTimer& messageTimer() const { return mMessageTimer; }
    const QTimer& shutdownMessageTimer() const { return mShutdownMessageTimer; }
    int messageTimerCount() const { return mMessageTimerCount; }
    size_t heldMessages() const { return mHeldMessages.size(); }
    int shutdownMessageTimerCount() const { return mShutdownMessageTimerCount; }

private slots:
    void checkForMessages();
    void pollInputs();
    void clearMessageDisplay();
    void clearShutdownMessageDisplay();
    void sendStartupMessage();

private:
    // Arms the message timer (or the shutdown-message timer for the no-input countdown)
    // for a message shown for `messageTime` ms.
    void startMessageTimer(uint32_t word0, int messageTime);
    void repaintNow();
    // The next message to handle: one held during a prompt, else one from the link.
    bool nextMessage(CommsMessage_t& msg);
    // Keeps a message that arrived during a prompt for the poll after it.
    void holdMessage(const CommsMessage_t& msg);

    // Marks a blocking wait: the polling timer leaves the link to it meanwhile. A wait
    // started inside another one hands the link back to the outer wait, not to the poll.
    class BlockingWait {
    public:
        explicit BlockingWait(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
        ~BlockingWait() { flag_ = previous_; }
        BlockingWait(const BlockingWait&) = delete;
        BlockingWait& operator=(const BlockingWait&) = delete;

    private:
        bool& flag_;
        bool previous_;
    };

    // The prompt's loop: the user's answer, holding every other message.
    bool waitForAnswer();

    // Keeps Qt's events going for one poll period of a blocking wait; false when the
    // application has been asked to quit (before or during the period).
    static bool waitOnePeriod();

    int mWidth;
    int mHeight;
    Ostrix::CommsClient mComms;
    Ostrix::Display mDisplay;
    QTimer mMessageTimer;
    QTimer mShutdownMessageTimer;
    QTimer mStartupTimer;
    int mMessageTimerCount = 0;
    int mShutdownMessageTimerCount = 0;
    RenderArea* mRenderArea = nullptr;
    bool mInBlockingWait = false;
    // Messages that arrived while the user was asked to confirm; bounded, as the link is
    // fed from outside.
    std::deque<CommsMessage_t> mHeldMessages;
    size_t mDroppedHeldMessages = 0;
    // Set on the simulated board: where each rendered frame goes.
    std::unique_ptr<Ostrix::FrameHandoff> mFrameHandoff;
};

// The one window, for the menu's blocking waits.
extern TestWindow* window;
