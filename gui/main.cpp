// Ostrix_Gui: the overlay GUI beside the controller.
#include <QApplication>
#include <QLayout>
#include <QSocketNotifier>
#include <csignal>
#include <exception>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/timeout.h"
#include "gui/app/guiprint.h"
#include "gui/app/testwindow.h"

namespace {

constexpr int kGuiVersionMajor = 4;
constexpr int kGuiVersionMinor = 5;
constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 480;
constexpr int kWindowFailureExitStatus = 1;

// Every message re-renders the overlay through several frame-sized buffers. Kept in the
// heap once freed, they are reused without fresh pages; handed back to the system after
// each render, every frame paid some 1500 page faults (tens of ms on a loaded board).
constexpr int kFrameBufferHeapLimit = 64 << 20;
constexpr int kHeapTrimThreshold = 128 << 20;

// A service stop (SIGTERM) or Ctrl-C ends the event loop, so the GUI exits normally.
// The handler only writes a byte; the notifier quits from the event loop.
int signalPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(signalPipe[1], &byte, 1);
}

void quitOnStopSignals(QApplication& app) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        Ostrix::guiPrint("GUI: stop requested");
        QApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char* argv[]) {
    mallopt(M_MMAP_THRESHOLD, kFrameBufferHeapLimit);
    mallopt(M_TRIM_THRESHOLD, kHeapTrimThreshold);
    QApplication app(argc, argv);
    quitOnStopSignals(app);
    set_timeout_tracing(TimeoutTracing::Console);
    Ostrix::guiPrint("GUI: QLM GUI V%d.%d", kGuiVersionMajor, kGuiVersionMinor);
    try {
        window = new TestWindow(kScreenWidth, kScreenHeight);
    } catch (const std::exception& e) {
        Ostrix::guiError("GUI: Failed to create GUI: %s", e.what());
        return kWindowFailureExitStatus;
    }
    // The mouse pointer is never shown over the overlay.
    QApplication::setOverrideCursor(Qt::BlankCursor);
    window->setWindowFlags(Qt::FramelessWindowHint);
    const QSize frame = window->frameSize();
    Ostrix::guiPrint("GUI: Show window size %dx%d", frame.width(), frame.height());
    window->layout()->setContentsMargins(0, 0, 0, 0);
    window->show();
    return app.exec();
}
