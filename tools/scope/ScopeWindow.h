// The microscope on the desktop: both eyepieces live, the front panel, the keypad's map,
// the board's events and a status strip, on the board in one system root. The PC keyboard
// is the USB keypad while the window has the focus; F1..F6 are the front panel's buttons.
#pragma once

#include <QTimer>
#include <QWidget>

#include "tools/scope/BoardEventsBox.h"
#include "tools/scope/BoardLink.h"
#include "tools/scope/EyepieceFeed.h"
#include "tools/scope/EyepieceView.h"
#include "tools/scope/FrontPanelBox.h"
#include "tools/scope/StatusStrip.h"

namespace scope {

struct ScopeOptions {
    QString root;        // the system root
    QString logFolder;   // the controller's log folder
    QString stickFolder; // the folder a USB stick holds, to begin with
    bool stats = false;  // the feed's counts on standard output at the end
};

// The options of `ostrix-scope`; false with an error text for bad ones. Defaults: the root
// of OSTRIX_SYSROOT, the controller's log folder in the root's home folder, a stick folder
// "usb-stick" beside the root.
bool parseOptions(const QStringList& arguments, ScopeOptions& options, QString& error);
extern const char* const kScopeUsage;

class ScopeWindow : public QWidget {
    Q_OBJECT
public:
    ScopeWindow(BoardLink& link, const ScopeOptions& options, QWidget* parent = nullptr);
    ~ScopeWindow() override;

    EyepieceView* eyepieces() const { return eyepieces_; }
    FrontPanelBox* frontPanel() const { return frontPanel_; }
    BoardEventsBox* events() const { return events_; }
    StatusStrip* strip() const { return strip_; }
    EyepieceFeed::Stats feedStats() const { return feed_.stats(); }

    // Reads the board's state now: the strip, the switches and the LED follow it.
    void pollBoard();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    bool panelKey(QKeyEvent* event, bool down);
    bool keypadKey(QKeyEvent* event, bool down);

    BoardLink& link_;
    const ScopeOptions options_;
    EyepieceFeed feed_;
    EyepieceView* eyepieces_;
    FrontPanelBox* frontPanel_;
    BoardEventsBox* events_;
    StatusStrip* strip_;
    QTimer poll_;
};

} // namespace scope
