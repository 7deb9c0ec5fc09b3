// The microscope's front panel: SELECT, UP, DOWN, LEFT, RIGHT and POWER, each held down
// while its button (or its key, F1..F6) is held, Ctrl- or Shift-click to latch one for a
// combination, and the panel's LED in its colour.
#pragma once

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "tools/scope/BoardLink.h"
#include "tools/scope/ButtonChord.h"
#include "tools/scope/LedLamp.h"

namespace scope {

class FrontPanelBox : public QGroupBox {
    Q_OBJECT
public:
    FrontPanelBox(BoardLink& link, QWidget* parent = nullptr);

    // A button's key went down or up (not its auto-repeat).
    void keyDown(int button);
    void keyUp(int button);
    // The LED code the board shows (-1: its pins are not driven).
    void showLed(int code);

    QPushButton* button(int index) const { return buttons_[index]; }
    const ButtonChord& chord() const { return chord_; }

private:
    QWidget* buildButtons();
    void pressed(int button);
    void released(int button);
    void apply(const ButtonChord::Change& change);

    BoardLink& link_;
    ButtonChord chord_;
    QPushButton* buttons_[kPanelButtons] = {};
    bool latchClick_[kPanelButtons] = {};
    QElapsedTimer downSince_[kPanelButtons];
    LedLamp* lamp_ = nullptr;
    QLabel* ledName_ = nullptr;
};

} // namespace scope
