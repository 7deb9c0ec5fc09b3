// Ostrix_Gui: the overlay GUI beside the controller.
#include <QApplication>
#include <QLayout>
#include <exception>
#include <malloc.h>

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

} // namespace

int main(int argc, char* argv[]) {
    mallopt(M_MMAP_THRESHOLD, kFrameBufferHeapLimit);
    mallopt(M_TRIM_THRESHOLD, kHeapTrimThreshold);
    QApplication app(argc, argv);
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
