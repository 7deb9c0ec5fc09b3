// The PC keyboard as the microscope's USB keypad: which PC key is which keypad key, and a
// map of the keys that do something in normal use, laid out as on the keyboard.
#pragma once

#include <QGroupBox>

#include <string>

namespace scope {

// The keypad key the board's `key` command names for a Qt key, or empty for a key the
// keypad does not have.
std::string keypadKeyName(int qtKey);

// The front-panel button (0..5) a key holds down, or -1.
int panelButtonOfKey(int qtKey);

class KeypadMapBox : public QGroupBox {
    Q_OBJECT
public:
    explicit KeypadMapBox(QWidget* parent = nullptr);
};

} // namespace scope
