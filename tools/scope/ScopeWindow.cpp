#include "tools/scope/ScopeWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "tools/scope/KeypadMap.h"

namespace scope {

namespace {

constexpr int kPollMs = 500;
// The models whose state the window shows.
const std::vector<std::string> kShownModels = {"power",        "camera",        "usb-input",
                                               "hdmi-rx-left", "hdmi-rx-right", "usb-sticks",
                                               "audio-codec",  "i2c",           "front-panel"};
const char* const kHome = "/home/pi/Ostrix/log";

} // namespace

const char* const kScopeUsage =
    "usage: ostrix-scope [--root DIR] [--log DIR] [--stick DIR] [--stats]\n"
    "  --root DIR   the system root of the running board (default: OSTRIX_SYSROOT)\n"
    "  --log DIR    the controller's log folder (default: DIR/home/pi/Ostrix/log)\n"
    "  --stick DIR  the PC folder a USB stick holds (default: usb-stick beside the root)\n"
    "  --stats      prints how often the eyepieces were checked and drawn, at the end\n";

bool parseOptions(const QStringList& arguments, ScopeOptions& options, QString& error) {
    options.root = qEnvironmentVariable("OSTRIX_SYSROOT");
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        QString* value = word == QLatin1String("--root")    ? &options.root
                         : word == QLatin1String("--log")   ? &options.logFolder
                         : word == QLatin1String("--stick") ? &options.stickFolder
                                                            : nullptr;
        if (word == QLatin1String("--stats")) {
            options.stats = true;
        } else if (value && i + 1 < arguments.size() && !arguments[i + 1].isEmpty()) {
            *value = arguments[++i];
        } else {
            error = value ? QStringLiteral("%1 needs a folder").arg(word)
                          : QStringLiteral("unknown option '%1'").arg(word);
            return false;
        }
    }
    if (options.root.isEmpty()) {
        error = QStringLiteral("no system root: set OSTRIX_SYSROOT or give --root DIR");
        return false;
    }
    options.root = QDir(options.root).absolutePath();
    if (options.logFolder.isEmpty()) {
        options.logFolder = options.root + QLatin1String(kHome);
    }
    if (options.stickFolder.isEmpty()) {
        options.stickFolder = QFileInfo(options.root).dir().absoluteFilePath(QStringLiteral("usb-stick"));
    }
    return true;
}

ScopeWindow::ScopeWindow(BoardLink& link, const ScopeOptions& options, QWidget* parent)
    : QWidget(parent), link_(link), options_(options), feed_(link), eyepieces_(new EyepieceView(link, this)),
      frontPanel_(new FrontPanelBox(link, this)),
      events_(new BoardEventsBox(link, options.stickFolder, this)), strip_(new StatusStrip(this)) {
    setWindowTitle(tr("Ostrix microscope - %1").arg(options.root));
    auto* controls = new QHBoxLayout;
    controls->addWidget(frontPanel_);
    controls->addWidget(new KeypadMapBox(this));
    controls->addWidget(events_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(eyepieces_);
    layout->addLayout(controls, 1);
    layout->addWidget(strip_);
    setFocusProxy(eyepieces_);

    connect(&feed_, &EyepieceFeed::pictureReady, eyepieces_, &EyepieceView::showPicture);
    connect(eyepieces_, &EyepieceView::panelSizeChanged, this,
            [this](const QSize& size) { feed_.setPanelSize(size); });
    connect(&link_, &BoardLink::answered, strip_, &StatusStrip::showAnswer);
    connect(&poll_, &QTimer::timeout, this, &ScopeWindow::pollBoard);
    poll_.start(kPollMs);
    feed_.start();
    pollBoard();
}

ScopeWindow::~ScopeWindow() {
    // The feed's thread goes before the widgets it draws for.
    disconnect(&feed_, nullptr, nullptr, nullptr);
}

void ScopeWindow::pollBoard() {
    const std::string json = link_.read([](sim::Board& board) { return board.statusJson(kShownModels); });
    const QJsonObject status = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    strip_->showStatus(describeStatus(status));
    strip_->showLogLine(lastLogLine(options_.logFolder));
    events_->showStatus(status);
    frontPanel_->showLed(
        status.value(QStringLiteral("front_panel")).toObject().value(QStringLiteral("led")).toInt(-1));
}

void ScopeWindow::keyPressEvent(QKeyEvent* event) {
    if (!panelKey(event, true) && !keypadKey(event, true)) {
        QWidget::keyPressEvent(event);
    }
}

void ScopeWindow::keyReleaseEvent(QKeyEvent* event) {
    if (!panelKey(event, false) && !keypadKey(event, false)) {
        QWidget::keyReleaseEvent(event);
    }
}

// F1..F6 hold the front panel's buttons; their auto-repeat is the panel's own business.
bool ScopeWindow::panelKey(QKeyEvent* event, bool down) {
    const int button = panelButtonOfKey(event->key());
    if (button < 0) {
        return false;
    }
    if (!event->isAutoRepeat()) {
        down ? frontPanel_->keyDown(button) : frontPanel_->keyUp(button);
    }
    return true;
}

// A held PC key auto-repeats as a held keypad key does: press, repeats, release.
bool ScopeWindow::keypadKey(QKeyEvent* event, bool down) {
    const std::string name = keypadKeyName(event->key());
    if (name.empty() || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        return false;
    }
    if (!down && event->isAutoRepeat()) {
        return true; // the repeat's press stands for both
    }
    const char* kind = !down ? "release" : event->isAutoRepeat() ? "repeat" : "press";
    link_.send({"key", name, "--event", kind});
    return true;
}

} // namespace scope
