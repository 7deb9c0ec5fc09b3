#include "tools/scope/FrontPanelBox.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace scope {

namespace {

constexpr int kLedColumnGap = 18; // between the arrows and POWER
constexpr int kButtonWidth = 64;
// Where each button sits on the panel's grid: row, column.
constexpr int kGridPlace[kPanelButtons][2] = {{1, 1}, {0, 1}, {2, 1}, {1, 0}, {1, 2}, {0, 4}};
const char* const kKeyNames[kPanelButtons] = {"F1", "F2", "F3", "F4", "F5", "F6"};
// A click shorter than the controller's poll of the panel would go unseen: a button stays
// down at least this long, as under a finger.
constexpr qint64 kShortestHoldMs = 80;
const char* const kHeldStyle = "QPushButton { background: #f0c040; font-weight: bold; }";

} // namespace

FrontPanelBox::FrontPanelBox(BoardLink& link, QWidget* parent)
    : QGroupBox(tr("Front panel"), parent), link_(link) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildButtons());
    auto* letGo = new QPushButton(tr("Let go of all"), this);
    letGo->setFocusPolicy(Qt::NoFocus);
    connect(letGo, &QPushButton::clicked, this, [this] { apply(chord_.letGoAll()); });
    layout->addWidget(letGo);
    auto* hint = new QLabel(tr("Hold a button down with the mouse or its key (F1..F6).\n"
                               "Ctrl-click latches a button for a combination."),
                            this);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    layout->addStretch();
}

QWidget* FrontPanelBox::buildButtons() {
    auto* grid = new QWidget(this);
    auto* layout = new QGridLayout(grid);
    layout->setContentsMargins(0, 0, 0, 0);
    for (int b = 0; b < kPanelButtons; ++b) {
        auto* button =
            new QPushButton(QStringLiteral("%1\n%2").arg(kPanelButtonTable[b].label, kKeyNames[b]), grid);
        button->setFocusPolicy(Qt::NoFocus);
        button->setMinimumWidth(kButtonWidth);
        button->setToolTip(tr("Held down while you hold it; Ctrl-click latches it"));
        connect(button, &QPushButton::pressed, this, [this, b] { pressed(b); });
        connect(button, &QPushButton::released, this, [this, b] { released(b); });
        layout->addWidget(button, kGridPlace[b][0], kGridPlace[b][1]);
        buttons_[b] = button;
    }
    auto* led = new QWidget(grid);
    auto* ledRow = new QHBoxLayout(led);
    ledRow->setContentsMargins(0, 0, 0, 0);
    lamp_ = new LedLamp(led);
    ledName_ = new QLabel(led);
    ledRow->addWidget(lamp_);
    ledRow->addWidget(ledName_);
    layout->addWidget(led, 1, 4);
    layout->setColumnMinimumWidth(3, kLedColumnGap);
    showLed(-1);
    return grid;
}

void FrontPanelBox::pressed(int button) {
    latchClick_[button] = QGuiApplication::keyboardModifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
    downSince_[button].start();
    apply(chord_.press(button, latchClick_[button]));
}

void FrontPanelBox::released(int button) {
    const bool latch = latchClick_[button];
    const qint64 left = kShortestHoldMs - downSince_[button].elapsed();
    if (left <= 0) {
        apply(chord_.release(button, latch));
        return;
    }
    QTimer::singleShot(left, this, [this, button, latch] { apply(chord_.release(button, latch)); });
}

void FrontPanelBox::keyDown(int button) {
    apply(chord_.press(button, false));
}

void FrontPanelBox::keyUp(int button) {
    apply(chord_.release(button, false));
}

// Sends the change and shows every held button down.
void FrontPanelBox::apply(const ButtonChord::Change& change) {
    for (auto& command : buttonCommands(change)) {
        link_.send(std::move(command));
    }
    for (int b = 0; b < kPanelButtons; ++b) {
        buttons_[b]->setStyleSheet(chord_.held() & (1u << b) ? kHeldStyle : "");
    }
}

void FrontPanelBox::showLed(int code) {
    lamp_->setCode(code);
    ledName_->setText(tr("LED: %1").arg(ledLook(code).name));
}

} // namespace scope
