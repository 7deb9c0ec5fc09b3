#include "tools/scope/KeypadMap.h"

#include <QGridLayout>
#include <QLabel>

#include "tools/scope/ButtonChord.h"

namespace scope {

namespace {

struct KeyName {
    int qtKey;
    const char* name;
};
// Keys other than letters and digits, which map to themselves.
constexpr KeyName kNamedKeys[] = {
    {Qt::Key_Return, "ENTER"}, {Qt::Key_Enter, "ENTER"},       {Qt::Key_Escape, "ESC"},
    {Qt::Key_Space, "SPACE"},  {Qt::Key_CapsLock, "CAPSLOCK"}, {Qt::Key_Up, "UP"},
    {Qt::Key_Down, "DOWN"},    {Qt::Key_Left, "LEFT"},         {Qt::Key_Right, "RIGHT"},
};

constexpr int kPanelKeys[kPanelButtons] = {Qt::Key_F1, Qt::Key_F2, Qt::Key_F3,
                                           Qt::Key_F4, Qt::Key_F5, Qt::Key_F6};

// What the controller makes of the keypad's keys while no set-up mode is active: the keys
// of a pair go up and down (or left and right).
struct KeyUse {
    const char* keys;
    const char* use;
};
constexpr KeyUse kKeyUses[] = {
    {"R  F", "ring light + −"},
    {"S  X", "substage light + −"},
    {"T  G", "gain + −"},
    {"Y  H", "exposure + −"},
    {"I  M", "up, down"},
    {"L  J", "left, right"},
    {"K", "select"},
    {"V  B  N", "presets 1, 2, 3"},
};
constexpr int kMapColumns = 2;
const char* const kCapStyle =
    "QLabel { border: 1px solid palette(mid); border-radius: 3px; padding: 1px 4px; }";

} // namespace

std::string keypadKeyName(int qtKey) {
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
        return std::string(1, static_cast<char>(qtKey));
    }
    for (const KeyName& k : kNamedKeys) {
        if (k.qtKey == qtKey) {
            return k.name;
        }
    }
    return {};
}

int panelButtonOfKey(int qtKey) {
    for (int b = 0; b < kPanelButtons; ++b) {
        if (kPanelKeys[b] == qtKey) {
            return b;
        }
    }
    return -1;
}

KeypadMapBox::KeypadMapBox(QWidget* parent) : QGroupBox(tr("USB keypad: the PC keyboard"), parent) {
    auto* layout = new QGridLayout(this);
    int entry = 0;
    for (const KeyUse& use : kKeyUses) {
        auto* cap = new QLabel(QStringLiteral("<b>%1</b>&nbsp;&nbsp;%2").arg(use.keys, tr(use.use)), this);
        cap->setStyleSheet(kCapStyle);
        layout->addWidget(cap, entry / kMapColumns, entry % kMapColumns);
        ++entry;
    }
    const int rows = (entry + kMapColumns - 1) / kMapColumns;
    auto* hint = new QLabel(tr("Keys go to the keypad while this window has the focus (click the eyepieces). "
                               "V, B, N: a short press, or held 1.5 s. In alignment mode I, M, L, J move the "
                               "right eye, R, F, S, X turn it, K resets it."),
                            this);
    hint->setWordWrap(true);
    layout->addWidget(hint, rows, 0, 1, kMapColumns);
    layout->setRowStretch(rows + 1, 1);
}

} // namespace scope
