// The microscope's front panel: SELECT, UP, DOWN, LEFT, RIGHT and POWER, each held down
// while its button (or its key, F1..F6) is held, Ctrl- or Shift-click to latch one for a
// combination, and the panel's LED in its colour.
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "tools/scope/BoardLink.h"
#include "tools/scope/ButtonChord.h"

namespace scope {

// The two LED pins drive a two-colour LED: pin 6 red, pin 7 green, both amber.
struct LedLook {
    QColor colour;
    QString name;
};
LedLook ledLook(int code);

class LedLamp : public QWidget {
    Q_OBJECT
public:
    explicit LedLamp(QWidget* parent = nullptr);
    void setCode(int code);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int code_ = -1;
};

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
